// Pointer gestures, hit tests and the button check, with input injected
// through the platform snapshot and read by the real input task.
#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "engine/render/sprite_load.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"

namespace {

class PointerTest : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        StartMinimal();
        SetBody(0, [] {});
        ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
        Frame();
    }
    // A blank w×h button centred on the screen pixel (cx, cy).
    static int32_t Button(int32_t cx, int32_t cy, int32_t w, int32_t h, uint32_t layer = 0xFFFFFFFF) {
        const int32_t s = Lib_SpriteLoad(-1, nullptr, -1, 0);
        const int32_t rect[4] = {0, 0, w, h};
        Lib_SpriteSetRect(s, rect);
        SpriteTable[s].posX = float(cx - 640);
        SpriteTable[s].posY = float(360 - cy);
        Lib_SpriteSetFlag(s, 1);
        if (layer != 0xFFFFFFFF) GSL_WorkGet(TestScreen(0))->layers[layer].handle = s;
        return s;
    }
    static uint8_t Story(int32_t id, int8_t flag = -1) {
        int32_t rect[4] = {-1, 0, 0, 0};
        return GSL_ButtonCheck(GSL_StoryModeCB, id, rect, 0, 0, 0, flag);
    }
    // Press at `from`, then hold at `to` (one held frame).
    void PressHold(std::pair<int32_t, int32_t> from, std::pair<int32_t, int32_t> to) {
        Pointer(from.first, from.second);
        Left(true);
        Frame();
        Pointer(to.first, to.second);
        Frame();
    }
    void Up() {
        Left(false);
        Frame();
    }
};

TEST_F(PointerTest, ClickAgainstDragAtTheThreshold) {
    if (IsSkipped()) return;
    int32_t whole[4] = {0, 0, -1, -1};
    PressHold({100, 100}, {143, 57});
    Up();
    EXPECT_EQ(GSL_SystemHitClick(0, -1, whole, 0), 1);
    EXPECT_EQ(PointerGesture.press.x, 0);  // cleared on the release, before any screen runs

    PressHold({100, 100}, {144, 100});
    EXPECT_EQ(PointerGesture.current.x - PointerGesture.press.x, 44);
    EXPECT_EQ(PointerGesture.clickAllowed, 1);  // still 1 during the hold
    Up();
    int32_t around[4] = {0, 0, 300, 300};
    EXPECT_EQ(GSL_SystemHitClick(0, -1, around, 0), 0);
    // In click mode a travelled press never fires.
    int32_t bare[4] = {-1, 0, 0, 0};
    EXPECT_EQ(GSL_ButtonCheck(nullptr, -1, bare, 0, 0, 0, -1), 0);
    Frame();
    EXPECT_EQ(PointerGesture.clickAllowed, 1);

    // A disabled pointer clears the gesture.
    PressHold({100, 100}, {300, 300});
    Pointer(-40, -40);
    Frame();
    EXPECT_EQ(MouseInput.active, 0);
    EXPECT_EQ(PointerGesture.clickAllowed, 1);
    EXPECT_EQ(PointerGesture.press.x, 0);
    EXPECT_EQ(PointerGesture.current.y, 0);
    Left(false);
}

TEST_F(PointerTest, RectanglesAndHover) {
    if (IsSkipped()) return;
    const int32_t s = Button(640, 360, 200, 100);
    int32_t out[4], rect[4] = {0, 0, 0, 0};
    GSL_SystemSpriteRect(out, s, rect, 0);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{540, 310, 740, 410}));
    EXPECT_EQ(std::vector<int32_t>(rect, rect + 4), (std::vector<int32_t>{540, 310, 740, 410}));
    int32_t margins[4] = {5, 6, 7, 8};
    GSL_SystemSpriteRect(out, s, margins, 1);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{535, 304, 747, 418}));
    int32_t whole[4] = {0, 0, -1, -1};
    GSL_SystemSpriteRect(out, -1, whole, 0);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{0, 0, 1279, 719}));
    // Scales from scripts may be anything.
    SpriteTable[s].scaleX = 1e30f;
    GSL_SystemSpriteRect(out, s, rect, 0);
    SpriteTable[s].scaleX = 1.0f;

    std::vector<int32_t> hover;
    for (auto [x, y] : {std::pair{100, 100}, {600, 350}, {610, 350}, {740, 410}, {741, 410}, {800, 500}}) {
        Pointer(x, y);
        Frame();
        hover.push_back(GSL_SystemHitOver(0, s, rect, 0));
    }
    EXPECT_EQ(hover, (std::vector<int32_t>{0, 1, 2, 2, 3, 0}));
    Lib_SpriteFree(s);
    EXPECT_EQ(GSL_SystemHitOver(0, s, rect, 0), -1);
}

TEST_F(PointerTest, StoryBoxesAgainstWholeScreenIds) {
    if (IsSkipped()) return;
    Pointer(40, 40);
    Left(true);
    Frame();
    EXPECT_EQ(Story(BUTTON_SCREEN_PRESS), 0);
    EXPECT_EQ(Story(BUTTON_BOX_LEFT, 1), 1);
    Up();
    EXPECT_EQ(Story(BUTTON_WHOLE_SCREEN), 0);
    EXPECT_EQ(Story(BUTTON_BOX_LEFT), 1);

    Pointer(600, 400);
    Left(true);
    Frame();
    EXPECT_EQ(Story(BUTTON_SCREEN_PRESS), 1);
    MenuActiveFlag = 1;
    EXPECT_EQ(Story(BUTTON_SCREEN_PRESS), 0);
    MenuActiveFlag = 0;
    Up();
    EXPECT_EQ(Story(BUTTON_WHOLE_SCREEN), 1);
    int32_t rect[4] = {-1, 0, 0, 0};
    EXPECT_EQ(GSL_ButtonCheck(TestScreen(3), BUTTON_WHOLE_SCREEN, rect, 0, 0, 0, -1), 0);

    // The top-right box is {1194, 0, 1279, 84}.
    Pointer(1194, 84);
    Left(true);
    Frame();
    EXPECT_EQ(Story(BUTTON_BOX_RIGHT, 1), 2);  // entered and pressed: 2 wins
    Pointer(1193, 84);
    Frame();
    Up();
    EXPECT_EQ(Story(BUTTON_BOX_RIGHT), 0);

    Middle(true);
    Frame();
    EXPECT_EQ(Story(BUTTON_MIDDLE), 0);
    Middle(false);
    Frame();
    EXPECT_EQ(Story(BUTTON_MIDDLE), 1);
    Frame();
    EXPECT_EQ(Story(BUTTON_MIDDLE), 0);
}

TEST_F(PointerTest, StoryDragsFireOnlyBeyond171) {
    if (IsSkipped()) return;
    PressHold({600, 200}, {600, 371});
    EXPECT_EQ(Story(BUTTON_DRAG_DOWN), 0);  // slot 27 empty
    // The slot-27 button under the pointer answers instead: just entered.
    const int32_t b = Button(600, 371, 200, 100, 27);
    EXPECT_EQ(Story(BUTTON_DRAG_DOWN), 2);
    Up();
    PressHold({600, 200}, {600, 372});
    EXPECT_EQ(Story(BUTTON_DRAG_DOWN), 1);
    EXPECT_EQ(Story(BUTTON_DRAG_UP), 0);
    Up();
    PressHold({600, 400}, {428, 400});
    EXPECT_EQ(Story(BUTTON_DRAG_LEFT), 1);
    EXPECT_EQ(Story(BUTTON_DRAG_RIGHT), 0);
    Up();
    PressHold({10, 91}, {300, 91});
    EXPECT_EQ(Story(BUTTON_TOP_SWIPE), 0);
    Up();
    PressHold({10, 90}, {137, 90});
    EXPECT_EQ(Story(BUTTON_TOP_SWIPE), 1);
    Up();
    PressHold({10, 90}, {136, 90});
    EXPECT_EQ(Story(BUTTON_TOP_SWIPE), 0);
    Up();
    Lib_SpriteFree(b);
    GSL_WorkGet(TestScreen(0))->layers[27].handle = -1;
}

TEST_F(PointerTest, EnterAndPressInOneFrameAndColours) {
    if (IsSkipped()) return;
    const int32_t s = Button(640, 360, 200, 100);
    Lib_SpriteSetColor(s, 0xFF123456u);
    int32_t rect[4] = {-1, 0, 0, 0};
    Pointer(640, 360);
    Left(true);
    Frame();
    EXPECT_EQ(GSL_ButtonCheck(nullptr, s, rect, 0, 0, 0, 1), 2);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFF123456u);  // colours 0/0: untouched
    Frame();
    rect[0] = -1;
    EXPECT_EQ(GSL_ButtonCheck(nullptr, s, rect, 0, 0xFF0000FFu, 0xFF00FF00u, 1), 0);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFF00FF00u);
    Up();
    rect[0] = -1;
    EXPECT_EQ(GSL_ButtonCheck(nullptr, s, rect, 0, 0xFF0000FFu, 0xFF00FF00u, -1), 1);
    Pointer(10, 10);
    Frame();
    rect[0] = -1;
    EXPECT_EQ(GSL_ButtonCheck(nullptr, s, rect, 0, 0xFF0000FFu, 0xFF00FF00u, -1), 0);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFF0000FFu);
    // A story button number: layer slot n + 40, else n + 48.
    GSL_WorkGet(TestScreen(0))->layers[48 + 3].handle = s;
    Pointer(640, 360);
    Left(true);
    Frame();
    int32_t none[4] = {-1, 0, 0, 0};
    EXPECT_EQ(GSL_ButtonCheck(GSL_StoryModeCB, 3, none, 0, 0, 0, 1), 2);
    Frame();
    Up();
    none[0] = -1;
    EXPECT_EQ(GSL_ButtonCheck(GSL_StoryModeCB, 3, none, 0, 0, 0, -1), 1);
    none[0] = -1;
    EXPECT_EQ(GSL_ButtonCheck(GSL_StoryModeCB, 4, none, 0, 0, 0, -1), 0);
    GSL_WorkGet(TestScreen(0))->layers[48 + 3].handle = -1;
    Lib_SpriteFree(s);
}

}  // namespace
