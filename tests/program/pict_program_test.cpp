// The whole program on the sample game, read at three frames of its pictures:
// the forest scene once the radial wipe has brought it in, the story's first
// page (a background and three characters), and the credits
// of the staff roll scrolling over the picture of the ending the reader chose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/text/text_object.h"
#include "screens/boot.h"
#include "script/args.h"
#include "script/game_blocks.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "story/access_flags.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C;
constexpr uint8_t kKeyDown = 0xD0;
constexpr uint8_t kKeyUp = 0xC8;
constexpr int32_t kKeywait = 12;

// The story script's work while it runs `file`, else null.
ScriptTaskWork* ScriptIn(const char* file) {
    ScriptTaskWork* w = GSL_ScriptTaskWork(GSL_WorkTaskGet(GSL_StoryModeCB));
    return w && std::strcmp(w->fileName, file) == 0 ? w : nullptr;
}
ScriptTaskWork* PictScript() { return ScriptIn("pict.txt"); }

// Every credit of the roll has been drawn in full.
bool CreditsDrawn() {
    int n = 0;
    for (uint32_t slot = 0; slot < uint32_t(kStaffrollTexts); ++slot) {
        const int32_t h = GSL_WorkTextGet(GSL_StoryModeCB, slot);
        const TextRecord* r = h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
        if (!r || r->colour != kStaffrollColour) continue;
        if (!r->finished) return false;
        ++n;
    }
    return n > 0;
}

TEST(PictProgram, TheWipedSceneAndTheStaffRollMatchTheirPictures) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    struct Seen {
        bool scene = false, roll = false, over = false, page = false, credits = false;
        std::string sceneWhy, rollWhy, pageWhy;
        int sceneFrames = 0, rollFrames = 0, pageFrames = 0;
    } seen;
    ::testing::AssertionResult scene = ::testing::AssertionFailure(), roll = ::testing::AssertionFailure(),
                               page = ::testing::AssertionFailure();
    ProgramRun run;
    // Checks the pictures on the frames they are due; true.
    auto watch = [&] {
        ScriptTaskWork* w = PictScript();
        // The pictures above the message, ten frames into the line.
        if (w && !seen.scene && w->script.command == kKeywait && GSL_ArgGetInt(&w->context, nullptr, 0) == 20 &&
            ++seen.sceneFrames == 10) {
            scene = ScreenHarness::MatchesReference("pict_program_scene", Crop{0, 0, 1280, 460});
            seen.sceneWhy = scene.message();
            seen.scene = true;
        }
        // The story's first page: the library, Welm, the guide and Sefa.
        ScriptTaskWork* st = ScriptIn("story.txt");
        if (st && !seen.page && st->script.command == kKeywait && GSL_ArgGetInt(&st->context, nullptr, 0) == 50 &&
            ++seen.pageFrames == 10) {
            page = ScreenHarness::MatchesReference("story_page", Crop{0, 0, 1280, 460});
            seen.pageWhy = page.message();
            seen.page = true;
        }
        // The credits 20 frames into the roll, revealed and before their first
        // step: the roll moves them 36 pixels in 1,200 frames.
        if (GSL_StaffrollTaskGet() >= 0 && !seen.roll && ++seen.rollFrames == 20) {
            seen.credits = CreditsDrawn();
            roll = ScreenHarness::MatchesReference("pict_program_staffroll");
            seen.rollWhy = roll.message();
            seen.roll = true;
        }
        const int32_t status = GSL_ScriptStatusGet(GSL_WorkTaskGet(GSL_StoryModeCB));
        seen.over = seen.over || (seen.roll && (status < 0 || status == int32_t(SCRIPT_ENDED)));
        return true;
    };
    // A confirm every other frame; none while a picture is awaited. A choice
    // menu on the way takes a confirm only once a choice is lit: Down at the
    // first (its last choice), Up at the story's (the hill).
    bool menuLit = false;
    int menusLit = 0;
    auto read = [&](PlatInputState& in) {
        const bool waiting = (seen.sceneFrames > 0 && !seen.scene) || (seen.pageFrames > 0 && !seen.page) ||
                             (GSL_StaffrollTaskGet() >= 0 && !seen.roll);
        if (seen.over || waiting) return;
        if (!(MenuActiveFlag & 1u)) menuLit = false;
        if ((MenuActiveFlag & 1u) && !menuLit) {
            in.keys[menusLit++ == 0 ? kKeyDown : kKeyUp] = kPlatDown;
            menuLit = true;
        } else {
            in.keys[kKeyZ] = kPlatDown;
        }
    };
    // Each stage of the read is waited for by what it shows, however many
    // frames a loaded machine takes to reach it (the pictures and sounds load
    // in real time); a hang alone reaches the wait's deadline.
    auto until = [&watch](const bool& done) { return [&watch, &done] { return watch() && done; }; };
    std::vector<ProgramRun::Step> steps = {
        program_title::Worker(program_title::Drive("the wiped scene", until(seen.scene), read)),
        program_title::Worker(program_title::Drive("the story's first page", until(seen.page), read)),
        program_title::Worker(program_title::Drive("the staff roll", until(seen.roll), read)),
        program_title::Worker(program_title::Drive("the story's end", until(seen.over), read)),
    };
    program_title::PrependNewGame(steps);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(seen.scene);
    EXPECT_TRUE(seen.roll);
    EXPECT_TRUE(seen.credits);
    EXPECT_TRUE(scene) << seen.sceneWhy;
    EXPECT_TRUE(roll) << seen.rollWhy;
    EXPECT_TRUE(seen.page);
    EXPECT_TRUE(page) << seen.pageWhy;
    // The hill's ending ([2004] 1) unlocked its own extras and none of the records'.
    EXPECT_TRUE(seen.over);
    EXPECT_EQ(GameStateBlock.gameVars[4], 1);
    EXPECT_EQ(SystemDataBlock.systemVars[1], 1);
    EXPECT_EQ(SystemDataBlock.systemVars[3], 0);
    EXPECT_EQ(StoryAccessFlagGal("event_sefa_ed_a", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2015, 0), 1);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2108, 0), 0);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/セファのテーマ.oggl", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/約束の空.oggl", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/夜想曲.oggl", -1, 0), 0);
}

}  // namespace
