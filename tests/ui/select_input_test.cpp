// The selection input through the main tasks: keys and the pointer
// injected, the cursor, the items' pictures and the move sound read back.
#include "ui/select_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/system_sound.h"

namespace {

class SelectInputTest : public ScreenHarness {
protected:
    // Three blank items of 100×50 stacked at y 100, 0, -100 (pointer y 260,
    // 360, 460), each highlighted by a rectangle unless colour is asked.
    SelectInputWork* Menu(int items, bool colour = false) {
        StartMinimal();
        Frame();
        task_ = GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0);
        SelectInputWork* w = GSL_InputWork(task_);
        EXPECT_TRUE(w);
        if (!w) return nullptr;
        w->count = items;
        for (int i = 0; i < items && i < 3; ++i) {
            int32_t s = Lib_SpriteLoad(0, nullptr, -1, 0);
            const int32_t rect[4] = {0, 0, 100, 50};
            Lib_SpriteSetRect(s, rect);
            Lib_SpriteSetFlag(s, 1);
            Lib_SpriteAt(s)->posY = float(100 - 100 * i);
            Lib_SpriteSetColor(s, 0xFF808080);
            w->sprites[i] = s;
            sprites_.push_back(s);
            w->highlight[i] = colour ? SelectRect{-1, 0, 0, 0} : SelectRect{0, 50, 100, 50};
        }
        return w;
    }
    void TearDown() override {
        for (int32_t s : sprites_) Lib_SpriteFree(s);
        ScreenHarness::TearDown();
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    // Whether a "move" sound was asked for since the last call.
    static bool Moved() {
        bool moved = false;
        for (int ch = 19; ch <= 21; ++ch) {
            moved |= std::string(SoundChannelTable[ch].st.path) == "move.wav";
            SoundChannelTable[ch].st.path[0] = 0;
        }
        return moved;
    }
    static int32_t RectY(int32_t sprite) { return Lib_SpriteAt(sprite)->srcRect[1]; }
    int32_t task_ = -1;
    std::vector<int32_t> sprites_;
};

TEST_F(SelectInputTest, KeysSkipDisabledItemsAndSwapTheHighlight) {
    SelectInputWork* w = Menu(3);
    ASSERT_TRUE(w);
    w->disabled[1] = 1;
    Frame();
    EXPECT_EQ(w->cursor, 0);
    EXPECT_EQ(RectY(w->sprites[0]), 50);
    Moved();
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, 2);
    EXPECT_TRUE(Moved());
    EXPECT_EQ(RectY(w->sprites[0]), 0);  // its old rectangle back
    EXPECT_EQ(RectY(w->sprites[2]), 50);
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, 0);
    Press(BUTTON_UP);
    EXPECT_EQ(w->cursor, 2);

    // No wrap: up on the first item stays, silently.
    w->noWrap = 1;
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, 2);
    Press(BUTTON_UP);
    Press(BUTTON_UP);
    ASSERT_EQ(w->cursor, 0);
    Moved();
    Press(BUTTON_UP);
    EXPECT_EQ(w->cursor, 0);
    EXPECT_FALSE(Moved());
    GSL_InputDel(task_);
}

TEST_F(SelectInputTest, PointerMovesOnlyOntoEnabledOtherItems) {
    SelectInputWork* w = Menu(3);
    ASSERT_TRUE(w);
    w->disabled[1] = 1;
    Pointer(20, 20);
    Frame(2);
    Moved();
    Pointer(640, 360);  // the disabled item
    Frame(2);
    EXPECT_EQ(w->cursor, 0);
    Pointer(640, 260);  // the current item
    Frame(2);
    EXPECT_EQ(w->cursor, 0);
    EXPECT_FALSE(Moved());
    Pointer(640, 460);
    Frame();
    EXPECT_EQ(w->cursor, 2);
    EXPECT_EQ(w->previous, 0);
    EXPECT_TRUE(Moved());
    GSL_InputDel(task_);
}

TEST_F(SelectInputTest, NoItemsOrAllDisabledNeverMoves) {
    SelectInputWork* w = Menu(3);
    ASSERT_TRUE(w);
    for (int i = 0; i < 3; ++i) w->disabled[i] = 1;
    Frame();
    EXPECT_EQ(w->cursor, -1);
    Moved();
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, -1);
    w->count = 0;  // a key with no items does nothing
    w->cursor = 0;
    Press(BUTTON_DOWN);
    Press(BUTTON_UP);
    EXPECT_EQ(w->cursor, 0);
    EXPECT_FALSE(Moved());
    w->count = 40;  // read as 16 items, none of them live
    for (int i = 0; i < kSelectItems; ++i) w->disabled[i] = 0;
    Press(BUTTON_UP);
    EXPECT_EQ(w->cursor, 15);
    GSL_InputDel(task_);
}

TEST_F(SelectInputTest, ColourHighlightGivesTheColourBack) {
    SelectInputWork* w = Menu(3, true);
    ASSERT_TRUE(w);
    w->colourMask = 0xFF0000FF;
    // The current item pulses darker by about 32 a channel from its saved
    // colour, and gets that colour back when the cursor leaves.
    auto pulsed = [](uint32_t c) {
        for (int shift : {0, 8, 16}) {
            const uint32_t v = (c >> shift) & 0xFF;
            if (v > 0x80 || v < 0x80 - 40) return false;  // about 32, with the pulse's rounding
        }
        return (c >> 24) == 0xFF;
    };
    for (int i = 0; i < 20; ++i) {
        Frame();
        EXPECT_TRUE(pulsed(Lib_SpriteGetColor(w->sprites[0]))) << std::hex << Lib_SpriteGetColor(w->sprites[0]);
    }
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, 1);
    EXPECT_EQ(Lib_SpriteGetColor(w->sprites[0]), 0xFF808080u);
    EXPECT_TRUE(pulsed(Lib_SpriteGetColor(w->sprites[1])));
    // Its two key tasks go with it (the logo's menu, which the empty mode
    // stack brings up, keeps its own).
    const int32_t down = w->downKey, up = w->upKey;
    GSL_InputDel(task_);
    for (int32_t key : Tasks(GSL_SystemKeyCB)) {
        EXPECT_NE(key, down);
        EXPECT_NE(key, up);
    }
}

}  // namespace
