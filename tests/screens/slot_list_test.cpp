// The slot list the load and save screens share: what each row shows for a
// valid, empty and broken slot, the cursor and scroll rules, the delete flow.
#include "tests/screens/slot_env.h"

#include "ui/move_alpha.h"
#include "ui/scroll_bar.h"
#include "ui/utility_dialog.h"

namespace {

class SlotListTest : public SlotEnv {};

std::string Label(uint32_t n) {
    const TextRecord* t = SlotEnv::TextOf(n);
    return t ? t->text : "<none>";
}

TEST_F(SlotListTest, RowsShowEachSlotState) {
    SlotImage image;
    image.Valid(0, 3, "The Book of Winds", "Chapter One\nSYSTEM_2028 01:02:03\nNAME_1\nTEXT_2", {2026, 3, 9, 7, 4, 0, 0});
    image.Valid(1, 4, "The Book of Winds R18", "Only one line");
    image.Broken(3, 5);
    Start(image);
    Open(GSL_LoadModeCB);

    EXPECT_EQ(Label(0), "The Book of Winds#n2026/03/09 07:04#nData_01  Chapter One");
    EXPECT_EQ(Label(1), "The Book of Winds#n2026/12/07 14:05#nData_02  Only one line");
    EXPECT_EQ(Label(2), "Empty_03");
    EXPECT_EQ(Label(3), "Damaged_04");
    // The badge only where the saved title holds "R18".
    EXPECT_EQ(TextOf(SLOT_TEXT_BADGE + 0), nullptr);
    ASSERT_NE(TextOf(SLOT_TEXT_BADGE + 1), nullptr);
    EXPECT_STREQ(TextOf(SLOT_TEXT_BADGE + 1)->text, "R18");

    // A valid slot's picture is the picture part itself, 228×128 at (-388, Y).
    const SpriteRecord* pict = Lib_SpriteAt(Sprite(SLOT_LAYER_PICT + 0));
    ASSERT_NE(pict, nullptr);
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(SLOT_LAYER_PICT + 0)));
    EXPECT_EQ(pict->textureWidth, 228);
    EXPECT_EQ(pict->textureHeight, 128);
    EXPECT_EQ(pict->posX, -388.0f);
    EXPECT_EQ(pict->posY, 256.0f);
    EXPECT_EQ(Lib_SpriteAt(Sprite(SLOT_LAYER_PICT + 1))->posY, 120.0f);
    // The empty slot shows the empty picture, the broken one none.
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(SLOT_LAYER_PICT + 2))) << Log();
    EXPECT_EQ(Sprite(SLOT_LAYER_PICT + 3), -1);
    // Buttons: details on a valid slot, delete unless empty.
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DETAILS + 0)), 1);
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DETAILS + 2)), 0);
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DELETE + 2)), 0);
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DETAILS + 3)), 0);
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DELETE + 3)), 1);
    // Labels only for the rows first - 1 .. first + 5.
    Frame();
    EXPECT_TRUE(TextOf(5)->state & TEXT_STATE_DRAWN);
    EXPECT_FALSE(TextOf(6)->state & TEXT_STATE_DRAWN);
    EXPECT_TRUE(MatchesReference("saveload_list"));

    // The broken slot: no details, the delete rebuilds it as empty.
    Press(BUTTON_DOWN);
    Settle();
    Press(BUTTON_DOWN);
    Settle();
    Press(BUTTON_DOWN);
    Settle();
    ASSERT_EQ(List()->cursor, 3);
    Press(0x8);  // C: details
    EXPECT_EQ(Work()->subState, 20);
    Press(BUTTON_DECIDE);  // a broken slot cannot be loaded
    EXPECT_EQ(Work()->subState, 20);
    Press(0x4);  // S: delete
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the delete question"));
    Frame(6);
    Press(BUTTON_DECIDE);  // yes
    ASSERT_TRUE(FramesUntilWorker([] { return Work()->subState == 20; }, "the delete"));
    EXPECT_EQ(Label(3), "Empty_04");
    EXPECT_EQ(Lib_SaveSlotCheck(3, nullptr), 1u);
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(SLOT_LAYER_PICT + 3)));
    EXPECT_EQ(Lib_SpriteGetFlag(Sprite(SLOT_LAYER_DELETE + 3)), 0);

    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
}

// Every element of slot n at its row for the first visible row.
void ExpectRowAt(int32_t n, int32_t first) {
    const float y = float(256 - kSlotPitch * (n - first));
    SCOPED_TRACE(n);
    for (uint32_t layer : {SLOT_LAYER_PANEL, SLOT_LAYER_PICT, SLOT_LAYER_DETAILS, SLOT_LAYER_DELETE}) {
        const SpriteRecord* r = Lib_SpriteAt(SlotEnv::Sprite(layer + uint32_t(n)));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->posY, y) << layer;
    }
    ASSERT_NE(SlotEnv::TextOf(uint32_t(n)), nullptr);
    EXPECT_EQ(SlotEnv::TextOf(uint32_t(n))->y, int32_t(y) - 360);
    ASSERT_NE(SlotEnv::TextOf(SLOT_TEXT_BADGE + uint32_t(n)), nullptr);
    EXPECT_EQ(SlotEnv::TextOf(SLOT_TEXT_BADGE + uint32_t(n))->y, int32_t(y) - 390);
}

TEST_F(SlotListTest, CursorScrollsAndWraps) {
    SlotImage image;
    for (int32_t n = 0; n < kSlotCount; ++n) image.Valid(n, n, "The Book of Winds R18", "line");
    Start(image, false);
    SystemDataBlock.lastSlot = 20;
    Open(GSL_LoadModeCB);
    // The remembered slot becomes the bottom row on the first frames.
    EXPECT_EQ(List()->cursor, 20);
    Frame();
    EXPECT_EQ(List()->first, 16);
    Settle();
    ExpectRowAt(20, 16);
    ExpectRowAt(0, 16);

    Press(0x40);  // A: to slot 0
    Settle();
    ASSERT_EQ(List()->cursor, 0);
    ASSERT_EQ(List()->first, 0);
    // Up on slot 0 wraps to 31: 27 rows at once, every element of every row
    // arrives, the bar moves 27 steps, and no task is refused on the way.
    Press(BUTTON_UP);
    Frame();
    EXPECT_EQ(List()->cursor, 31);
    EXPECT_EQ(List()->first, 27);
    Frame(8);
    Settle();
    for (int32_t n = 0; n < kSlotCount; ++n) ExpectRowAt(n, 27);
    EXPECT_EQ(GSL_SystemBarWork(List()->bar)->position, 27.0f);
    EXPECT_EQ(Log().find("Lib_TaskSet"), std::string::npos) << Log();
    // Labels only for the rows first - 1 .. first + 5.
    EXPECT_FALSE(TextOf(25)->state & TEXT_STATE_DRAWN);
    EXPECT_TRUE(TextOf(26)->state & TEXT_STATE_DRAWN);

    Press(BUTTON_UP);
    Press(BUTTON_UP);
    Settle();
    ASSERT_EQ(List()->cursor, 29);
    Press(0x4000);  // Right: 5 on, at most 31
    Settle();
    EXPECT_EQ(List()->cursor, 31);
    Press(0x40);
    Settle();
    for (int i = 0; i < 3; ++i) Press(BUTTON_DOWN);
    Settle();
    ASSERT_EQ(List()->cursor, 3);
    Press(0x1000);  // Left: 5 back, at least 0
    Settle();
    EXPECT_EQ(List()->cursor, 0);

    // A pointer held 200 pixels below its press moves one slot up a frame.
    Press(BUTTON_DOWN);
    Press(BUTTON_DOWN);
    Press(BUTTON_DOWN);
    Press(BUTTON_DOWN);
    Settle();
    ASSERT_EQ(List()->cursor, 4);
    Pointer(60, 100);
    Left(true);
    Frame();
    Pointer(60, 300);
    Frame();
    std::vector<int32_t> seen;
    for (int i = 0; i < 4; ++i) {
        seen.push_back(List()->cursor);
        Frame();
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{3, 2, 1, 0}));
    Left(false);
    Frame();
    Settle();

    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
}

TEST_F(SlotListTest, RememberedSlotOutOfUseOpensOnZero) {
    SlotImage image;
    image.Valid(0, 1, "The Book of Winds", "line");
    Start(image, false);
    SystemDataBlock.lastSlot = 5;  // empty
    Open(GSL_SaveModeCB);
    EXPECT_EQ(List()->cursor, 0);
    EXPECT_EQ(SystemDataBlock.lastSlot, 0);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
    SystemDataBlock.lastSlot = 77;  // beyond the list
    Open(GSL_SaveModeCB);
    EXPECT_EQ(List()->cursor, 0);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
}

}  // namespace
