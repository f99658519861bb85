// The slot detail view: the stored detail expanded in the current language,
// wrapped, with its value column; and the view itself on the list.
#include "screens/slot_detail.h"

#include "tests/screens/slot_env.h"

namespace {

class SlotDetailTest : public SlotEnv {};

std::string Format(const char* src) {
    char out[kDetailTextSize];
    Save_FormatText(src, out, sizeof out);
    return out;
}

std::string Wrap(const std::string& text) {
    char out[kDetailTextSize] = "";
    size_t len = 0;
    Save_WrapAppend(out, sizeof out, &len, text.c_str());
    return out;
}

int32_t g_widths[3] = {100, 140, 120};
int32_t FakeMeasure(const char* text) {
    for (uint32_t i = 0; i < 3; ++i)
        if (std::string(text) == Lib_MesGet(nullptr, 2, int32_t(25 + i), -1, nullptr, 0)) return g_widths[i];
    return 0;
}

TEST_F(SlotDetailTest, TokensExpandInTheCurrentLanguage) {
    Start(SlotImage{}, false);
    EXPECT_EQ(Format("TEXT_40"), "abc");
    EXPECT_EQ(Format("x TEXT_41 y"), "x big y");  // an unclosed span runs to the text's end
    EXPECT_EQ(Format("NAME_12 says"), "Mira says");
    EXPECT_EQ(Format("SYSTEM_2028 01:02:03"), "Time played 01:02:03");
    TextLanguage = 0;
    EXPECT_EQ(Format("SYSTEM_2028"), "\xE3\x83\x97\xE3\x83\xAC\xE3\x82\xA4\xE6\x99\x82\xE9\x96\x93");
    TextLanguage = 1;
    // Digits are counted as read: leading zeros are not emitted again, a
    // token without digits or beyond 32 bits stays text.
    EXPECT_EQ(Format("TEXT_040."), "abc.");
    EXPECT_EQ(Format("TEXT_x"), "TEXT_x");
    EXPECT_EQ(Format("TEXT_"), "TEXT_");
    EXPECT_EQ(Format("TEXT_99999999999!"), "TEXT_99999999999!");
    EXPECT_EQ(Format("NAME_1TEXT_1"), "TravellerWhere am I?");
    char small[8];
    Save_FormatText("TEXT_1", small, sizeof small);
    EXPECT_STREQ(small, "Where a");
    Save_FormatText(nullptr, small, sizeof small);  // nothing happens
}

TEST_F(SlotDetailTest, WrapsAtFortyColumns) {
    EXPECT_EQ(Wrap(std::string(45, 'a')), std::string(40, 'a') + "\n" + std::string(5, 'a'));
    std::string wide;
    for (int i = 0; i < 25; ++i) wide += "\xE3\x81\x82";
    std::string want;
    for (int i = 0; i < 20; ++i) want += "\xE3\x81\x82";
    want += "\n";
    for (int i = 0; i < 5; ++i) want += "\xE3\x81\x82";
    EXPECT_EQ(Wrap(wide), want);
    // A line feed or "#n" starts the count again; the 'n' counts one.
    EXPECT_EQ(Wrap(std::string(39, 'a') + "\n" + std::string(40, 'b')), std::string(39, 'a') + "\n" + std::string(40, 'b'));
    EXPECT_EQ(Wrap(std::string(30, 'a') + "#n" + std::string(40, 'b')),
              std::string(30, 'a') + "#n" + std::string(39, 'b') + "\nb");
}

TEST_F(SlotDetailTest, ViewTextLinesUpItsValues) {
    Start(SlotImage{}, false);
    int32_t (*const measure)(const char*) = SaveDetailMeasure;
    SaveDetailMeasure = FakeMeasure;
    SaveInfo info{};
    info.date = {2026, 3, 9, 7, 4, 0, 0};
    std::snprintf(info.detail, sizeof info.detail, "%s", "Chapter One\nSYSTEM_2028 01:02:03\nNAME_1\nTEXT_1");
    char out[kDetailTextSize];
    Save_DetailCompose(out, sizeof out, info, 4);
    SaveDetailMeasure = measure;
    EXPECT_EQ(std::string(out),
              "#Pos[-256,-1]Title#Pos[115,-1]The Book of Winds#n#n"
              "#Pos[-256,-1]Date#Pos[75,-1]2026/03/09 07:04#n#n"
              "#Pos[-256,-1]Slot#Pos[95,-1]Data_05#n"
              "Chapter One\nTime played 01:02:03\nTraveller\nWhere am I?");
}

TEST_F(SlotDetailTest, ViewOpensOnValidSlotsOnly) {
    SlotImage image;
    image.Valid(0, 2, "The Book of Winds", "Chapter One\nSYSTEM_2028 01:02:03\nNAME_0\nTEXT_0 TEXT_7");
    Start(image);
    Open(GSL_LoadModeCB);
    Press(0x8);  // C
    ASSERT_EQ(Work()->subState, 26);
    ASSERT_NE(TextOf(SLOT_TEXT_DETAIL), nullptr);
    EXPECT_EQ(Lib_SpriteAt(Sprite(SLOT_LAYER_BACK))->priority, 499);
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(SLOT_LAYER_DIM)));
    // The list does not move under the view.
    Press(BUTTON_DOWN);
    EXPECT_EQ(List()->cursor, 0);
    Frame(4);
    EXPECT_TRUE(MatchesReference("saveload_detail"));
    Press(BUTTON_CANCEL);
    EXPECT_EQ(Work()->subState, 20);
    EXPECT_EQ(TextOf(SLOT_TEXT_DETAIL), nullptr);
    EXPECT_EQ(Sprite(SLOT_LAYER_DIM), -1);
    EXPECT_EQ(Lib_SpriteAt(Sprite(SLOT_LAYER_BACK))->priority, 599);
    Press(BUTTON_DOWN);
    Settle();
    Press(0x8);  // an empty slot has no details
    EXPECT_EQ(Work()->subState, 20);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
}

}  // namespace
