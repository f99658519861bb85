// The option screen: scrolling and keys, the display switch, the digest
// that decides the save, the reset (also without a capture), and the text
// speed and opacity reaching the story below.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_window.h"
#include "engine/render/sprite_capture.h"
#include "story/config.h"
#include "story/system_save.h"
#include "tests/screens/option_env.h"
#include "ui/loading.h"
#include "ui/pointer.h"
#include "ui/scroll_bar.h"
#include "ui/screen_slots.h"
#include "ui/utility_dialog.h"

namespace {
using OptionScreen = OptionEnv;
constexpr uint32_t kLeft = 0x1000, kUp = 0x2000, kRight = 0x4000, kDown = 0x8000;

float ItemY(uint32_t slot) { return ScreenHarness::Layer(GSL_OptionModeCB, slot)->posY; }

TEST_F(OptionScreen, CursorScrollsTheListAndTheIconPage) {
    if (IsSkipped()) return;
    Open();
    OptionWork* o = Work();
    Press(kUp);
    EXPECT_EQ(o->cursor, 0);
    for (int i = 0; i < 8; ++i) Press(kDown);
    EXPECT_EQ(o->cursor, 8);
    EXPECT_EQ(o->scrollTop, 0);
    const float y0 = ItemY(10);
    Press(kDown, 10);
    EXPECT_EQ(o->cursor, 9);
    EXPECT_EQ(o->scrollTop, 1);
    EXPECT_FLOAT_EQ(ItemY(10), y0 + 64.0f);
    Press(kDown, 10);
    const float before = ItemY(10);
    const float barBefore = GSL_SystemBarWork(o->bar)->position;
    // Input is ignored while the list moves.
    Hold(kDown);
    Frame(2);
    Release(kDown);
    EXPECT_EQ(o->cursor, 11);
    EXPECT_GE(o->moveTask, 0);
    Press(kUp, 0);
    EXPECT_EQ(o->cursor, 11);
    Frame(10);
    EXPECT_EQ(o->scrollTop, 11);
    EXPECT_FLOAT_EQ(ItemY(10), before + 576.0f);
    EXPECT_FLOAT_EQ(GSL_SystemBarWork(o->bar)->position, barBefore + 1.0f);
    // The selected icon's label shows.
    const int32_t label = GSL_WorkTextGet(GSL_OptionModeCB, 3 + 21 + 12);
    EXPECT_TRUE(TextTable[label]->state & TEXT_STATE_DRAWN);
    EXPECT_TRUE(MatchesReference("option_voice_mute"));
    // Left wraps to the last icon, Right back to the first.
    Press(kLeft);
    EXPECT_EQ(o->cursor, 23);
    Press(kDown);
    EXPECT_EQ(o->cursor, 23);
    Press(kRight);
    EXPECT_EQ(o->cursor, 11);
    Press(kUp, 10);
    EXPECT_EQ(o->cursor, 10);
    EXPECT_EQ(o->scrollTop, 2);
    EXPECT_FLOAT_EQ(ItemY(10), before);
    Press(kDown, 10);
    // A bar drag downwards on the icon page jumps to the last icon.
    int32_t track[4];
    GSL_SystemBarGetRect(track, o->bar, BAR_TRACK);
    const int32_t x = (track[0] + track[2]) / 2, y = (track[1] + track[3]) / 2;
    Pointer(x, y);
    Left(true);
    Frame();
    Pointer(x, y + 20);
    Frame(3);
    Left(false);
    Frame(10);
    EXPECT_EQ(o->cursor, 23);
}

struct WindowLog {
    int maximise = 0, off = 0;
    bool minimised = false;
    uint8_t flagsSeen = 0;
};
WindowLog g_window;

TEST_F(OptionScreen, DisplaySwitchAndTheF2Flag) {
    if (IsSkipped()) return;
    g_window = {};
    WindowFlags.store(0);
    Open();
    const ScreensHost window = {[] {
                                    ++g_window.maximise;
                                    g_window.flagsSeen = WindowFlags.load();
                                },
                                [] { return g_window.minimised; },
                                [](uint8_t) -> uint32_t {
                                    ++g_window.off;
                                    g_window.flagsSeen = WindowFlags.load();
                                    return 0;
                                }};
    GSL_ScreensHostSet(&window);
    EXPECT_TRUE(WindowFlags.load() & WINDOW_F2_IGNORED);
    Press(0x20);  // F2, windowed
    EXPECT_EQ(g_window.maximise, 1);
    EXPECT_TRUE(g_window.flagsSeen & WINDOW_TAKE_POS);
    WindowFlags.store(WINDOW_F2_IGNORED | WINDOW_FULLSCREEN_ON);
    Press(0x20);
    EXPECT_EQ(g_window.off, 1);
    WindowFlags.store(WINDOW_F2_IGNORED);
    g_window.minimised = true;
    Press(0x20);
    EXPECT_EQ(g_window.off, 2);
    EXPECT_EQ(g_window.maximise, 1);
    EXPECT_TRUE(g_window.flagsSeen & WINDOW_TAKE_POS);
    // The switch forgets the pointer and its gesture.
    MouseInput.x = MouseInput.prevX = 300;
    MouseInput.clickPhase = 2;
    MouseInput.clickButton = 0;
    PointerGesture.press = PointerGesture.current = {300, 200};
    GSL_OptionDisplaySwitch();
    EXPECT_EQ(MouseInput.x, 0);
    EXPECT_EQ(MouseInput.prevX, 0);
    EXPECT_EQ(MouseInput.clickPhase, 0);
    EXPECT_EQ(MouseInput.clickButton, -1);
    EXPECT_EQ(PointerGesture.press.x, 0);
    EXPECT_EQ(PointerGesture.current.y, 0);
    Press(BUTTON_CANCEL);
    FramesUntil([] { return GSL_ModeTop() != GSL_OptionModeCB; }, 200, "the screen gone");
    EXPECT_FALSE(WindowFlags.load() & WINDOW_F2_IGNORED);
    WindowFlags.store(0);
}

// Leaves with cancel; whether the save screen was pushed.
bool LeaveSaves(OptionEnv* env) {
    bool pushed = false;
    env->Hold(BUTTON_CANCEL);
    env->Frame();
    env->Release(BUTTON_CANCEL);
    for (int i = 0; i < 200 && GSL_ModeTop() == GSL_OptionModeCB; ++i) env->Frame();
    pushed = GSL_ModeTop() == GSL_SystemSaveModeCB;
    if (pushed) {
        GSL_WorkDelete(GSL_SystemSaveModeCB);
        GSL_ModePop();
        for (int i = 0; i < 200 && GSL_WorkGet(GSL_OptionModeCB); ++i) env->Frame();
    }
    return pushed;
}

TEST_F(OptionScreen, OnlyAChangedConfigurationIsSaved) {
    if (IsSkipped()) return;
    Open();
    EXPECT_FALSE(LeaveSaves(this));
    Open();
    Press(kRight);
    Press(kLeft);
    EXPECT_FALSE(LeaveSaves(this));
    Open();
    Press(kRight);
    EXPECT_EQ(Byte(10), 51);
    EXPECT_TRUE(LeaveSaves(this));
    EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
    EXPECT_EQ(FrameRateConfig, 60);
    // The language and the face, as the font page leaves them, are changes
    // too: without the save they would be lost at exit.
    Open();
    SystemDataBlock.language = 2;
    EXPECT_TRUE(LeaveSaves(this));
    Open();
    SystemDataBlock.fontName[0] ^= 0x20;
    EXPECT_TRUE(LeaveSaves(this));
}

TEST_F(OptionScreen, ResetWritesTheDefaultsEvenWithoutACapture) {
    if (IsSkipped()) return;
    Open();
    Byte(6) = 5;
    Byte(9) = 20;
    // The first reset also changes the language: the frozen picture stands
    // in front until the fonts are back.
    SystemDataBlock.language = 3;
    TextLanguage = 3;
    bool frozen = false;
    for (int run = 0; run < 2; ++run) {
        Press(0x4, 8);  // S: the question
        ASSERT_EQ(Step(), 4);
        // Every sprite taken: no capture can be made.
        std::vector<int32_t> taken;
        if (run == 1)
            for (int32_t s; (s = Lib_SpriteGetFree(0)) >= 0;) taken.push_back(s);
        Hold(BUTTON_DECIDE);  // yes
        Frame();
        Release(BUTTON_DECIDE);
        Frame(2);
        for (int32_t s : taken) {
            SpriteTable[s].flags |= SPRITE_FAILED;
            Lib_SpriteFree(s);
        }
        FramesUntil(
            [&] {
                const int32_t c = Work()->resetCapture;
                if (c >= 0 && SpriteTable[c].priority == 21 && SpriteTable[c].visible) frozen = true;
                return Step() == 2;
            },
            120, "the list again");
        EXPECT_EQ(frozen, run == 0 && Lib_LanguageGet() != 3);
        EXPECT_EQ(Byte(6), 60);
        EXPECT_EQ(Byte(9), 100);
        EXPECT_EQ(Work()->resetCapture, -1);
        Byte(6) = 5;
        frozen = false;
    }
}
}  // namespace
