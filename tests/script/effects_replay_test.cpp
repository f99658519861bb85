// The effect commands in a restored position: what the main run records and
// what is replayed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_env.h"

namespace {

using script_env::g_log;
using Lines = std::vector<std::string>;

class EffectsReplay : public FlowEnv {
protected:
    std::vector<Lines> Replayed(const std::string& name) const {
        std::vector<Lines> out;
        for (const auto& e : g_log)
            if ((e.status & SCRIPT_REPLAYING) && name == GSL_ScriptCommandGet(e.index).name) out.push_back(e.args);
        return out;
    }
};

TEST_F(EffectsReplay, MovesAreKeptByLayerWmIsKeptAndTheRestIsNotReplayed) {
    Scripts({{"00_init.txt",
              "*top\n<label>\n<move 3,fore,100,10,0>\n<move 4,back,100,20,0>\n<move 3,fore,100,30,0>\n<wm>\n"
              "<quake 100,5>\n<wq>\n<stopquake>\n<stopmove>\n<text one>\n<keywait 0>\n<text two>\n<keywait 1>\n"}});
    Fakes();
    Start("00_init.txt");
    ASSERT_TRUE(RunToLines(2));
    g_log.clear();
    RestoreAt(1);
    ASSERT_TRUE(RunToLines(2));
    EXPECT_EQ(ReplayPhase, 0);
    const std::vector<Lines> moves = Replayed("move");
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], (Lines{"4", "back", "100", "20", "0"}));
    EXPECT_EQ(moves[1], (Lines{"3", "fore", "100", "30", "0"}));
    EXPECT_EQ(Replayed("wm").size(), 1u);
    for (const char* name : {"quake", "wq", "stopquake", "stopmove"}) EXPECT_TRUE(Replayed(name).empty()) << name;
    // The main run met them and started nothing.
    bool quakeMet = false;
    for (const auto& e : g_log)
        quakeMet |= (e.status & SCRIPT_REPLAY_RUN) && std::string(GSL_ScriptCommandGet(e.index).name) == "quake";
    EXPECT_TRUE(quakeMet);
    EXPECT_EQ(GameStateBlock.stage.quakeTask[0], -1);
    EXPECT_EQ(GameStateBlock.stage.quakeTask[1], -1);
}

}  // namespace
