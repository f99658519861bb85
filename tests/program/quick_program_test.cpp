// The whole program on the sample, headless, with injected input: on the
// story screen C opens the in-game menu, a quick save is made, the next line
// is read, and a quick load brings the saved line back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/sound/sound.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/sys_menu.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyC = 0x2E, kKeyDown = 0xD0;

const auto Waiting = program_title::StoryWaiting;
int32_t Cursor() {
    const ScreenWork* m = GSL_WorkGet(GSL_SysMenuModeCB);
    const SelectInputWork* in = m && m->step == MENU_STEP_RUN ? GSL_InputWork(GSL_SysMenuHead(m)->input) : nullptr;
    return in ? in->cursor : -1;
}
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
using program_title::kIdle;

TEST(QuickProgram, AQuickLoadBringsTheQuickSavedLineBack) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t first = 0, saved = 0, later = 0, loaded = 0;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    program_title::ToTitleMenu(steps);
    steps.push_back({"new game", program_title::TitleMenuUp,
                     [](PlatInputState& in) { program_title::Press(in, BUTTON_DECIDE); }});
    steps.push_back({"the story waiting",
                     [&] {
                         first = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     kIdle, 900});
    // A line further on: each confirm first completes the reveal, the next goes on.
    for (int i = 0; i < 20; ++i) {
        steps.push_back({"a confirm", nullptr, [&](PlatInputState& in) {
                             if (GameStateBlock.readLineCount <= first) in.keys[kKeyZ] = kPlatDown;
                         }});
        steps.push_back({"let go", nullptr, kIdle});
    }
    steps.push_back({"the second line", Waiting, Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    // The cursor down to a button, one press at a time.
    auto downTo = [&](int32_t button) {
        for (int i = 0; i < 8; ++i) {
            steps.push_back({"down", [] { return Cursor() >= 0; },
                             [button](PlatInputState& in) {
                                 if (Cursor() < button) in.keys[kKeyDown] = kPlatDown;
                             },
                             120});
            steps.push_back({"let go", nullptr, kIdle});
        }
    };
    downTo(2);
    steps.push_back({"quick save",
                     [&] {
                         saved = GameStateBlock.readLineCount;  // the line on screen
                         return Cursor() == 2;
                     },
                     Key(kKeyZ), 10});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"back in the story",
                     [&] { return QuickDataPresent && SaveQuickGDGuard == -1 && Waiting(); },
                     kIdle, 900});
    for (int i = 0; i < 30; ++i) {
        steps.push_back({"a confirm", nullptr, [&](PlatInputState& in) {
                             if (GameStateBlock.readLineCount <= saved) in.keys[kKeyZ] = kPlatDown;
                         }});
        steps.push_back({"let go", nullptr, kIdle});
    }
    steps.push_back({"the next line",
                     [&] {
                         later = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    downTo(3);
    steps.push_back({"the preview", [] { return Cursor() == MENU_BUTTON_QUICK_LOAD && ShowQuickGDState() == QUICK_PANEL_SHOWN; }, Key(kKeyZ), 60});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the saved line again",
                     [&] {
                         loaded = GameStateBlock.readLineCount;
                         return !GSL_WorkGet(GSL_SysMenuModeCB) && StoryExitRequest == STORY_EXIT_NONE && Waiting();
                     },
                     kIdle, 1200});
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GT(saved, first);
    EXPECT_GT(later, saved);
    EXPECT_EQ(loaded, saved);
}
}  // namespace
