// The whole program on the sample, headless, with injected input: new game on
// the title reaches the story screen under the game's window title; the player
// advances three lines, switches skip on and off, and hides the message
// window behind its badge and brings it back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/files/message_table.h"
#include "engine/sound/sound.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "story/story_window.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyD = 0x20;

const ScreenWork* Story() { return GSL_WorkGet(GSL_StoryModeCB); }
const auto Waiting = program_title::StoryWaiting;
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
using program_title::kIdle;

TEST(StoryProgram, TheStoryAdvancesSkipsAndHidesItsWindow) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    struct Seen {
        std::string title, wanted;
        uint32_t firstLine = 0, lines = 0;
        bool skipOn = false, skipOff = false, badge = false, back = false;
    } seen;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps = {
        {"the story waiting for the first line",
         [&] {
             if (!Waiting()) return false;
             seen.firstLine = GameStateBlock.readLineCount;
             char title[256];
             Plat_WindowTitleGet(title, sizeof title);
             seen.title = title;
             seen.wanted = Lib_MesGet(nullptr, 0, 0, -1, nullptr, 0);
             return true;
         },
         kIdle, 900},
    };
    // Three lines: each confirm first completes the reveal, the next goes on.
    // However many frames a loaded machine's loads take: the wait's deadline.
    steps.push_back(program_title::Worker(program_title::Drive(
        "the confirms", [&] { return GameStateBlock.readLineCount >= seen.firstLine + 3; }, program_title::Key(kKeyZ))));
    steps.push_back({"three lines read",
                     [&] {
                         seen.lines = GameStateBlock.readLineCount - seen.firstLine;
                         return Waiting();
                     },
                     Key(kKeyD), 900});
    steps.push_back({"skip on", [&] { return seen.skipOn = StoryPlayMode == PLAY_SKIP; }, kIdle, 5});
    steps.push_back({"let go", nullptr, Key(kKeyD)});
    steps.push_back({"skip off", [&] { return seen.skipOff = StoryPlayMode == 0; }, kIdle, 5});
    steps.push_back({"waiting again", [] { return Waiting(); }, Key(kKeyX), 900});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the badge",
                     [&] {
                         const ScreenWork* w = Story();
                         if (!w || w->step != STORY_STEP_ACTION || w->subState != STORY_ACT_HIDDEN) return false;
                         // The badge is cut from the story's sheet (when the sample has it).
                         seen.badge = Lib_SpriteIsLive(GSL_WorkWord(w, STORY_BADGE)) ||
                                      !Lib_SpriteIsLive(w->layers[31].handle);
                         return true;
                     },
                     Key(kKeyX), 60});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the window back", [&] { return seen.back = Waiting(); }, kIdle, 60});
    program_title::PrependNewGame(steps);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_FALSE(seen.wanted.empty());
    EXPECT_EQ(seen.title, seen.wanted);
    EXPECT_GE(seen.lines, 3u);
    EXPECT_TRUE(seen.skipOn);
    EXPECT_TRUE(seen.skipOff);
    EXPECT_TRUE(seen.badge);
    EXPECT_TRUE(seen.back);
}
}  // namespace
