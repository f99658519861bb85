// The whole program twice in one folder: the first run opens the options
// from the title's menu, lowers the music, goes full screen and leaves with
// the save; the second run finds the changed byte in the system data it
// loads, and goes full screen again from system.ini.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

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
#include "tests/ui/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/mode.h"

namespace {
const uint64_t kHeaps[HEAP_COUNT] = {8u << 20, 48u << 20, 2u << 20, 64u << 20, 96u << 20};

int g_state = 0, g_frames = 0;
bool g_down = false, g_pushed = false, g_saveSeen = false;
int g_music = -1;
bool g_fullScreenAsked = false, g_fullScreenOn = false;

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

void Input(uint32_t bits) {
    PlatInputState in = Plat_InputIdle();
    in.focus = 1;
    for (uint32_t bit = 1; bit; bit <<= 1)
        if ((bits & bit) && Lib_InputKeyCode(0, bit, 0)) in.keys[Lib_InputKeyCode(0, bit, 0) & 0xFF] = kPlatDown;
    Plat_InputInject(in);
}

// Decide on alternate frames (the start-up notice, the save question).
void Confirm() {
    g_down = !g_down;
    Input(g_down ? uint32_t(BUTTON_DECIDE) : 0u);
}

bool Booted() { return ModeStack[0] && ModeStack[0] != GSL_BootModeCB; }

int g_menuFrames = 0;

// No check reads a picture: frames run without shading a pixel, as the
// harness's whole-program runs do.
void NoPixels() { glEnable(GL_RASTERIZER_DISCARD); }

void FirstRun() {
    NoPixels();
    if (++g_frames > 2400) {
        Plat_PostQuit();
        return;
    }
    switch (g_state) {
        case 0:
            // The notice, the logos and the movie with decide; then the menu.
            if (program_title::Title()) TitleFlags |= 2;
            if (!Booted() || program_title::LogoHeld() || program_title::MoviePlaying()) return Confirm();
            Input(0);
            g_menuFrames = program_title::TitleMenuUp() ? g_menuFrames + 1 : 0;
            if (g_menuFrames > 20) g_state = 10;
            return;
        case 10: {
            // Down to the options item, then decide.
            const SelectInputWork* m = program_title::TitleInput();
            g_down = !g_down;
            if (!g_down || !m) return Input(0);
            if (m->cursor != 5) return Input(BUTTON_DOWN);
            Input(BUTTON_DECIDE);
            g_pushed = true;
            g_state = 1;
            return;
        }
        case 1: {
            const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
            if (!w || w->step != 2 || GSL_OptionWork()->wipeOrDialog >= 0) return Input(0);
            GSL_OptionWork()->cursor = 1;
            GSL_OptionChangeItem(-25, 0);
            Main_WindowMaximise();  // as the display plate asks for it
            Input(BUTTON_CANCEL);
            g_state = 2;
            return;
        }
        case 2:
            Input(0);
            if (GSL_ModeTop() == GSL_SystemSaveModeCB) g_saveSeen = true;
            if (!g_saveSeen) return;
            if (!program_title::TitleMenuUp()) return Confirm();
            g_fullScreenOn = WindowFlags & WINDOW_FULLSCREEN_ON;
            Main_CloseNow();  // as the window's close does once answered
            g_state = 3;
            return;
        default:
            return;
    }
}

void SecondRun() {
    NoPixels();
    if (++g_frames > 600 || (Booted() && g_frames > 5)) {
        g_music = SystemDataBlock.musicVolume;
        g_fullScreenOn = WindowFlags & WINDOW_FULLSCREEN_ON;
        Plat_PostQuit();
        MainTestHook = [] {};
        return;
    }
    Confirm();
}

class OptionProgram : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        char tmpl[] = "/tmp/vn_program_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(LinkSampleData("."));
        MainHeapSizes = kHeaps;
    }
    void TearDown() override {
        MainHeapSizes = kHeapDefaultSizes;
        MainTestHook = nullptr;
        Main_WindowOpsSet(nullptr);
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_, old_;
};

TEST_F(OptionProgram, AChangedSettingIsSavedAndComesBackAfterARestart) {
    g_state = g_frames = 0;
    g_pushed = g_saveSeen = false;
    g_maximised = g_fullScreenAsked = g_fullScreenOn = false;
    Main_WindowOpsSet(&kManagedOps);
    g_menuFrames = 0;
    MainTestHook = FirstRun;
    ASSERT_EQ(WinMain(), 0);
    EXPECT_TRUE(g_pushed);
    EXPECT_TRUE(g_saveSeen);
    EXPECT_EQ(g_state, 3);
    EXPECT_TRUE(g_fullScreenOn);
    g_frames = 0;
    g_music = -1;
    g_maximised = g_fullScreenAsked = g_fullScreenOn = false;
    MainTestHook = SecondRun;
    ASSERT_EQ(WinMain(), 0);
    EXPECT_EQ(g_music, 25);
    // Full screen from system.ini: asked for at start and on.
    EXPECT_TRUE(g_fullScreenAsked);
    EXPECT_TRUE(g_fullScreenOn);
}
}  // namespace
