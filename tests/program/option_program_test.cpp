// The whole program twice on the same user files: the first run opens the
// options from the title's menu, lowers the music, goes full screen and
// leaves with the save; the second run finds the changed byte in the system
// data it loads, and goes full screen again from system.ini.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/app_window.h"
#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/input/input.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_input.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "screens/title.h"
#include "screens/option.h"
#include "screens/option_items.h"
#include "script/game_blocks.h"
#include "story/game_state.h"
#include "story/system_save.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/mode.h"

namespace {

using namespace program_title;

std::atomic<bool> g_fullScreenAsked{false};

// The real window calls, with a window manager that maximises on request
// (the offscreen video driver does not) and a record of the maximise asked.
std::atomic<bool> g_maximised{false};
PlatWindowState ManagedState() { return g_maximised ? PLAT_WINDOW_MAXIMIZED : PLAT_WINDOW_NORMAL; }
bool ManagedPost(WindowRequest req, int32_t a, int32_t b, int32_t c, int32_t d) {
    if (req == WINDOW_REQ_MAXIMIZE) {
        g_fullScreenAsked = true;
        g_maximised = true;
    }
    if (req == WINDOW_REQ_FULLSCREEN && a == 0) g_maximised = false;
    return Plat_PostWindowRequest(req, a, b, c, d);
}
const WindowOps kManagedOps = {ManagedState, Main_WindowKeysNewlyPressed, ManagedPost,
                               [](uint32_t, uint32_t) {}, [] { return kMainPassOps.takeMessage(); }, Plat_AskYesNo,
                               Plat_DisplayBounds};

bool Booted() { return ModeStack[0] && ModeStack[0] != GSL_BootModeCB; }

bool OptionsUp() {
    const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    return GSL_ModeTop() == GSL_OptionModeCB && w && w->step == OPTION_MAIN && GSL_OptionWork()->wipeOrDialog < 0;
}

TEST(OptionProgram, AChangedSettingIsSavedAndComesBackAfterARestart) {
    const std::filesystem::path user =
        std::filesystem::temp_directory_path() / ("vn_option_program_" + std::to_string(::getpid()));
    std::filesystem::remove_all(user);
    bool saveSeen = false, fullScreenOn = false, changed = false;
    int music = -1;
    g_maximised = g_fullScreenAsked = false;
    Main_WindowOpsSet(&kManagedOps);

    // The options from the title's menu: the music 25 lower, full screen (as
    // the display plate asks for it), cancel; the save question answered yes.
    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    Choose(steps, TITLE_ITEM_OPTIONS);
    steps.push_back({"the options changed",
                     [&] {
                         if (!OptionsUp()) return false;
                         GSL_OptionWork()->cursor = 1;
                         GSL_OptionChangeItem(-25, 0);
                         Main_WindowMaximise();
                         return changed = true;
                     },
                     [](PlatInputState& in) { Press(in, BUTTON_CANCEL); }, 300});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back(Worker(Drive("the save question answered and the title back",
                                 [&] {
                                     saveSeen = saveSeen || GSL_ModeTop() == GSL_SystemSaveModeCB;
                                     return saveSeen && TitleMenuUp();
                                 },
                                 [&](PlatInputState& in) {
                                     if (saveSeen) Press(in, BUTTON_DECIDE);
                                 })));
    // Closed as the window's close does once answered.
    steps.push_back({"the close", [&] {
                         fullScreenOn = WindowFlags & WINDOW_FULLSCREEN_ON;
                         Main_CloseNow();
                         return true;
                     },
                     nullptr});
    steps.push_back({"the window closing", [] { return false; }, nullptr, 600});
    ProgramRun first;
    first.userFiles = user;
    first.lastStepCloses = true;
    EXPECT_EQ(first.Run(steps), 0);
    EXPECT_EQ(first.failed, "");
    EXPECT_TRUE(changed);
    EXPECT_TRUE(saveSeen);
    EXPECT_TRUE(fullScreenOn);
    EXPECT_EQ(WindowFlags.load(), 0) << "no flag of the closed window stays for what runs next in this process";

    // The next start: the music as it was left, full screen from system.ini;
    // in this process, the opening movie comes first again.
    g_maximised = g_fullScreenAsked = false;
    fullScreenOn = false;
    bool movieNext = false;
    ProgramRun second;
    second.userFiles = user;
    EXPECT_EQ(second.Run({{"the boot flow handed over",
                           [&, frames = 0]() mutable {
                               if (!Booted() || ++frames <= 5) return false;
                               music = SystemDataBlock.musicVolume;
                               movieNext = TitleFlags & TITLE_MOVIE_NEXT;
                               fullScreenOn = WindowFlags & WINDOW_FULLSCREEN_ON;
                               return true;
                           },
                           nullptr, 1800}}),
              0);
    Main_WindowOpsSet(nullptr);
    std::filesystem::remove_all(user);
    EXPECT_EQ(second.failed, "");
    EXPECT_EQ(music, 25);
    EXPECT_TRUE(g_fullScreenAsked);
    EXPECT_TRUE(fullScreenOn);
    EXPECT_TRUE(movieNext);
}
}  // namespace
