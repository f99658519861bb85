// The replay rows of the picture, transition and staff-roll commands: what a
// restore replays after running the script up to the saved line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_env.h"
#include "script/picture_cmds.h"
#include "script/replay.h"
#include "script/staffroll.h"

namespace {

using script_env::g_log;
using Lines = std::vector<std::string>;

// The real rows while recording; a shown line instead of a load when acting.
void ImageRows(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) return GSL_CmdImage(c);
    flow_env::Image(c);
}

class PictureReplay : public FlowEnv {
protected:
    Lines Replayed(const std::string& name) const {
        Lines out;
        for (const auto& e : g_log) {
            if (!(e.status & SCRIPT_REPLAYING) || name != GSL_ScriptCommandGet(e.index).name) continue;
            std::string line;
            for (const std::string& a : e.args) line += (line.empty() ? "" : ",") + a;
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(PictureReplay, ARestoreReplaysTheLastPictureOfEachLayerAndTheTransition) {
    Scripts({{"00_init.txt",
              "*top\n<label>\n<image 3,back,a>\n<move 3,back,100,10>\n<image 3,back,b>\n<backlay 4>\n"
              "<image 4,back,c>\n<trans wipe_000,500>\n<wt>\n<image 5,back,d>\n<freeimage 5>\n"
              "<staffroll_start 100>\n<staffroll_end>\n<text one>\n<keywait 0>\n<text two>\n<keywait 1>\n"}});
    Fakes();
    Handler(33, ImageRows);
    SystemDataBlock.instantEffects = 1;  // no renderer for the wipe's capture: pages swap at once
    Start("00_init.txt");
    ASSERT_TRUE(RunToLines(2, 400));
    g_log.clear();
    RestoreAt(1);
    ASSERT_TRUE(RunToLines(2, 400));
    EXPECT_EQ(Replayed("image"), (Lines{"3,back,b", "4,back,c"}));
    EXPECT_EQ(Replayed("trans"), Lines{"wipe_000,500"});
    EXPECT_EQ(Replayed("wt"), Lines{""});
    EXPECT_TRUE(Replayed("move").empty());
    EXPECT_TRUE(Replayed("backlay").empty());
    EXPECT_TRUE(Replayed("freeimage").empty());
    EXPECT_TRUE(Replayed("staffroll_start").empty());
    EXPECT_EQ(GSL_StaffrollTaskGet(), -1);  // the roll does not run again
    EXPECT_FALSE(GameStateBlock.stage.flags & 1);
}

}  // namespace
