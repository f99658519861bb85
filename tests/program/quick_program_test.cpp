// The whole program on the sample, headless, with injected input: on the
// story screen C opens the in-game menu, a quick save is made, the next line
// is read, and a quick load brings the saved line back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/render/sprite.h"
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

// The cursor of the in-game menu down to a button, one press at a time.
void DownTo(std::vector<ProgramRun::Step>& steps, int32_t button) {
    for (int i = 0; i < 8; ++i) {
        steps.push_back({"down", [] { return Cursor() >= 0; },
                         [button](PlatInputState& in) {
                             if (Cursor() < button) in.keys[kKeyDown] = kPlatDown;
                         },
                         120});
        steps.push_back({"let go", nullptr, kIdle});
    }
}

// Confirms while `more` holds: each confirm first completes the reveal, the next goes on.
void ReadWhile(std::vector<ProgramRun::Step>& steps, int confirms, std::function<bool()> more) {
    for (int i = 0; i < confirms; ++i) {
        steps.push_back({"a confirm", nullptr, [more](PlatInputState& in) {
                             if (more()) in.keys[kKeyZ] = kPlatDown;
                         }});
        steps.push_back({"let go", nullptr, kIdle});
    }
}

// From a waiting story: the in-game menu, quick save, back in the story.
// `saved` gets the line on screen.
void QuickSave(std::vector<ProgramRun::Step>& steps, uint32_t* saved) {
    steps.push_back({"the line to save", Waiting, Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    DownTo(steps, 2);
    steps.push_back({"quick save",
                     [saved] {
                         *saved = GameStateBlock.readLineCount;
                         return Cursor() == 2;
                     },
                     Key(kKeyZ), 10});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"back in the story",
                     [] { return QuickDataPresent && SaveQuickGDGuard == -1 && Waiting(); },
                     kIdle, 900});
}

// From a waiting story: the in-game menu, quick load, the story waiting again.
// `later` gets the line on screen before, `loaded` the one after.
void QuickLoad(std::vector<ProgramRun::Step>& steps, uint32_t* later, uint32_t* loaded) {
    steps.push_back({"the next line",
                     [later] {
                         *later = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    DownTo(steps, 3);
    steps.push_back({"the preview", [] { return Cursor() == MENU_BUTTON_QUICK_LOAD && ShowQuickGDState() == QUICK_PANEL_SHOWN; }, Key(kKeyZ), 60});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the saved line again",
                     [loaded] {
                         *loaded = GameStateBlock.readLineCount;
                         return !GSL_WorkGet(GSL_SysMenuModeCB) && StoryExitRequest == STORY_EXIT_NONE && Waiting();
                     },
                     kIdle, 1200});
}

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
    ReadWhile(steps, 20, [&] { return GameStateBlock.readLineCount <= first; });
    QuickSave(steps, &saved);
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= saved; });
    QuickLoad(steps, &later, &loaded);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GT(saved, first);
    EXPECT_GT(later, saved);
    EXPECT_EQ(loaded, saved);
}

// The sample's window changes to its second frame early in the opening; a
// line saved further on comes back in that frame, and so does the next one.
TEST(QuickProgram, ALineSavedInTheSecondWindowFrameLoadsInIt) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t saved = 0, later = 0, loaded = 0;
    int32_t frameSaved = -1, frameLoaded = -1, frameNext = -1;
    // The shown window's picture: its source rectangle's top says the frame.
    auto windowTop = [] {
        const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
        const int32_t h = w ? w->layers[25].handle : -1;
        return Lib_SpriteIsLive(h) ? Lib_SpriteAt(h)->srcRect[1] : -1;
    };
    auto inMsgwin = [] {
        const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
        return file && std::strcmp(file, "msgwin.txt") == 0;
    };
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    steps.push_back(program_title::Drive("a line of the window's own scene",
                                         [&] {
                                             frameSaved = windowTop();
                                             return inMsgwin() && Waiting();
                                         },
                                         Key(kKeyZ), 3000));
    QuickSave(steps, &saved);
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= saved; });
    QuickLoad(steps, &later, &loaded);
    steps.push_back({"the loaded window", [&] {
                         frameLoaded = windowTop();
                         return true;
                     },
                     kIdle});
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= loaded; });
    steps.push_back({"the line after it",
                     [&] {
                         frameNext = windowTop();
                         return Waiting() && GameStateBlock.readLineCount > loaded;
                     },
                     kIdle, 900});
    program_title::PrependNewGame(steps);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(frameSaved, 256);  // the second frame's place in the story's sheet
    EXPECT_EQ(frameLoaded, frameSaved);
    EXPECT_EQ(frameNext, frameSaved);
}
}  // namespace
