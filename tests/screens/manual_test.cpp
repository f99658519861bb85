// The manual viewer: the page turn and the input it blocks, the drag latch
// and its threshold, the arrows by page, the page language and the frame
// rate restored on leaving.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine_state.h"
#include "engine/input/input.h"
#include "screens/manual.h"
#include "screens/option.h"
#include "story/game_state.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

namespace {
class Manual : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(SampleData());
        Messages();
        ASSERT_TRUE(Fonts(1));
        StartFull();
        GSL_SystemDataReset();
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        MakeContext(TestScreen(0));
        GSL_SystemDispColorSet(0x00000000u, 1);
        Frame(3);
    }
    void Open() {
        GSL_ModePush(GSL_ManualModeCB, 1);
        FramesUntil([] { return Step() == 2; }, 120, "the manual");
    }
    static int32_t Step() {
        const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
        return w && GSL_ModeTop() == GSL_ManualModeCB ? w->step : -1;
    }
    static SpriteRecord* Page(uint32_t n) { return Layer(GSL_ManualModeCB, 6 + n); }
    void Press(uint32_t bits, int after = 1) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame(after);
    }
};

TEST_F(Manual, PagesTurnByKeysAndDragsAndBlockInputMeanwhile) {
    if (IsSkipped()) return;
    SystemDataBlock.language = 2;
    Lib_FrameRateSet(200);
    Open();
    EXPECT_EQ(std::string(Page(0)->fileName), "visual/manual/02/001.png");
    EXPECT_EQ(Layer(GSL_ManualModeCB, 3)->visible, 1);
    EXPECT_EQ(Layer(GSL_ManualModeCB, 2)->visible, 0);
    EXPECT_TRUE(MatchesReference("manual_first_page"));
    Press(0x4000);  // Right
    ASSERT_GE(int64_t(GSL_WorkGet(GSL_ManualModeCB)->words[MANUAL_MOVE]), 0);
    Press(BUTTON_CANCEL, 0);  // not read while the pages move
    Frame(16);
    EXPECT_EQ(Step(), 2);
    EXPECT_FLOAT_EQ(Page(0)->posX, -1000.0f);
    EXPECT_FLOAT_EQ(Page(1)->posX, 0.0f);
    EXPECT_EQ(Page(0)->color >> 24, 128u);
    EXPECT_EQ(Page(1)->color >> 24, 255u);
    EXPECT_EQ(Layer(GSL_ManualModeCB, 2)->visible, 1);
    EXPECT_EQ(Layer(GSL_ManualModeCB, 5)->visible, 0);
    EXPECT_TRUE(MatchesReference("manual_second_page"));
    // Right on the last page does nothing.
    Press(0x4000, 18);
    EXPECT_FLOAT_EQ(Page(1)->posX, 0.0f);
    // Exactly 171 turns nothing; 172 turns once, and dragging on in the
    // same press turns nothing more.
    Pointer(400, 400);
    Left(true);
    Frame();
    Pointer(571, 400);
    Frame(3);
    EXPECT_FLOAT_EQ(Page(1)->posX, 0.0f);
    Pointer(572, 400);
    Frame(20);
    EXPECT_FLOAT_EQ(Page(0)->posX, 0.0f);
    Press(0x4000, 18);  // back to the second page by key, the drag still held
    EXPECT_FLOAT_EQ(Page(1)->posX, 0.0f);
    Pointer(700, 400);
    Frame(20);
    EXPECT_FLOAT_EQ(Page(1)->posX, 0.0f);
    Left(false);
    Frame();
    Pointer(400, 400);
    Left(true);
    Frame();
    Pointer(572, 400);
    Frame(20);
    Left(false);
    Frame();
    EXPECT_FLOAT_EQ(Page(0)->posX, 0.0f);
    Press(BUTTON_CANCEL);
    FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 90, "the screen below");
    EXPECT_EQ(FrameRateConfig, 60);
    EXPECT_EQ(GSL_FrameRateClamp(0), 1);
    EXPECT_EQ(GSL_FrameRateClamp(30), 30);
    EXPECT_EQ(GSL_FrameRateClamp(75), 60);
    EXPECT_EQ(GSL_FrameRateClamp(200), 60);
}
}  // namespace
