// Message-text markup conversion, line-break classes and measuring, with
// fixed advances (exact breaks) on the stage harness.
#include <gtest/gtest.h>

#include <string>

#include "tests/script/markup_env.h"

namespace {

std::string Rep(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// cp932 bytes of a few characters.
const std::string kSjA = "\x82\xA0";      // あ
const std::string kSjMaru = "\x81\x42";   // 。
const std::string kSjOpen = "\x81\x75";   // 「
const std::string kSjHyo = "\x95\x5C";    // 表 (0x5C trail byte)

}  // namespace

TEST_F(MarkupEnv, LineBreakClassesFollowTheLanguage) {
    struct Case {
        int32_t mode;
        const char* ch;
        int32_t expect[6];  // languages 0, 1, 2, 3, -1, 4
    };
    const Case cases[] = {
        {0, "っ", {0, 1, 1, 1, 1, 1}},
        {0, ",", {1, 0, 1, 1, 1, 1}},
        {0, ".", {1, 0, 1, 1, 1, 1}},
        {0, " ", {1, 0, 1, 1, 1, 1}},
        {0, "a", {1, 1, 1, 1, 1, 1}},
        {0, "。", {0, 1, 0, 0, 1, 1}},
        {0, "，", {1, 1, 0, 0, 1, 1}},
        {0, "」", {0, 0, 0, 0, 1, 1}},
        {0, "\x81\x42", {0, 1, 0, 0, 1, 1}},  // cp932 。
        {1, "「", {1, 1, 1, 1, 0, 0}},
        {1, "…", {1, 1, 1, 1, 0, 0}},
        {1, "\x81\x75", {1, 1, 1, 1, 0, 0}},  // cp932 「
        {1, "(", {0, 0, 0, 0, 0, 0}},
        {1, "」", {0, 0, 0, 0, 0, 0}},
    };
    const int8_t langs[6] = {0, 1, 2, 3, -1, 4};
    for (const Case& c : cases)
        for (int l = 0; l < 6; ++l) {
            SystemDataBlock.language = langs[l];
            EXPECT_EQ(GSL_KinsokuCheck(c.mode, c.ch), c.expect[l]) << c.mode << " " << c.ch << " lang " << int(langs[l]);
        }

    EXPECT_FALSE(GSL_CharMatch("\x81\x42", "。"));
    EXPECT_FALSE(GSL_CharMatch("。x", "\x81\x42"));
    EXPECT_FALSE(GSL_CharMatch(",", ","));
    EXPECT_FALSE(GSL_CharMatch("あ", ""));
    EXPECT_TRUE(GSL_CharMatch("\x81\x41", "。"));
    EXPECT_TRUE(GSL_CharMatch("a", "b"));
}

TEST_F(MarkupEnv, SizeParseKeepsOnlyTheEarlierSizeTags) {
    FixedAdvances();
    const char* text = "#Size[1.0,1.0]AB#Size[0.5,0.5]EF";
    const uint32_t e = uint32_t(std::string(text).find('E'));
    EXPECT_EQ(GSL_TextSizeParse(&stage, text, e), 32.0f);  // E and F at 0.5
    EXPECT_EQ(GSL_TextSizeParse(&stage, text, 0), 96.0f);  // A and B at 1.0 too
    stage.textSizeX = stage.textSizeY = 1.0f;
    EXPECT_EQ(GSL_TextSizeParse(&stage, "あa", 0), 96.0f);
}

TEST_F(MarkupEnv, ConstructsBecomeEngineTags) {
    FixedAdvances();
    EXPECT_EQ(Convert("/ruby:漢字&かん/"), "漢字#Pos[-56,0]#Rubi[か　ん]#Pos[56,0]");
    EXPECT_EQ(Convert("/ruby:\x8A\xBF\x8E\x9A&\x82\xA9\x82\xF1/"),  // cp932 漢字 / かん
              "\x8A\xBF\x8E\x9A#Pos[-56,0]#Rubi[\x82\xA9\x81\x40\x82\xF1]#Pos[56,0]");
    EXPECT_EQ(Convert("/ruby:漢&かんじ/"), "漢#Pos[-40,0]#Rubi[かんじ]#Pos[40,0]");  // longer ruby: unspaced
    EXPECT_EQ(Convert("/size:45&45/a"), "#Size[0.75,0.75]a");
    EXPECT_EQ(Convert("/size:1.2&1.2/"), "#Size[1.20,1.20]");
    EXPECT_EQ(Convert("#Size[1.5,2]"), "#Size[1.50,2.00]");
    stage.textColor = 0x80123456u;
    EXPECT_EQ(Convert("/color:FF8000/x"), "#Color[-1,0,128,255]x");
    EXPECT_EQ(stage.textColor, 0x800080FFu);
    EXPECT_EQ(Convert("/color:-1/"), "#Color[-1,0,0,0]");
    EXPECT_EQ(stage.textColor, 0x80000000u);
    EXPECT_EQ(Convert("#Pos[10.7,3]#Speed[5]/italic:1//weight:700//system:2/"),
              "#Pos[10,3]#Speed[5]#Italic[1]#Weight[700]#System[2]");
    EXPECT_EQ(Convert("a$0b$1$2$3$4$9c$"), "a>b<,;\"c");
    EXPECT_EQ(Convert("a/b/ruby"), "a/b/ruby");  // no keyword, no construct
    EXPECT_EQ(Convert("a\\nb#nc"), "a#nb#nc");
    EXPECT_EQ(Convert(kSjHyo + "n"), kSjHyo + "n");  // a trail byte 0x5C is no break
    EXPECT_EQ(Convert("#Speed[5"), "#Speed[5");
    // Without a stage nothing is touched.
    char out[8] = "keep";
    ctx.stage = nullptr;
    GSL_MarkupConvert(&ctx, "abc", out, sizeof out, true, -1.0f, 0.0f);
    GSL_MarkupConvert(nullptr, "abc", out, sizeof out, true, -1.0f, 0.0f);
    EXPECT_STREQ(out, "keep");
}

TEST_F(MarkupEnv, JapaneseBreaksAtTheThreeThresholds) {
    FixedAdvances();
    // 66 columns: L = 1056; one wide character is 32 units.
    for (const bool sjis : {false, true}) {
        const std::string a = sjis ? kSjA : "あ", maru = sjis ? kSjMaru : "。", open = sjis ? kSjOpen : "「";
        // 。 at L-32 stays; the next character at L breaks.
        EXPECT_EQ(Convert(Rep(a, 32) + maru + a), Rep(a, 32) + maru + "#n" + a) << sjis;
        // 「 at L-64 moves; an ordinary character there does not.
        EXPECT_EQ(Convert(Rep(a, 31) + open + a), Rep(a, 31) + "#n" + open + a) << sjis;
        EXPECT_EQ(Convert(Rep(a, 32) + a), Rep(a, 32) + "#n" + a) << sjis;
        // A final 。 at L overhangs (a two-byte mark at the very end included); one more is not final.
        EXPECT_EQ(Convert(Rep(a, 32) + maru + maru), Rep(a, 32) + maru + maru) << sjis;
        EXPECT_EQ(Convert(Rep(a, 32) + maru + maru + a), Rep(a, 32) + maru + "#n" + maru + a) << sjis;
    }
    // 54 columns with a negative window frame.
    stage.windowFrame = -1;
    EXPECT_EQ(Convert(Rep("あ", 27)), Rep("あ", 26) + "#nあ");
    // Languages outside 0..3 never break before an opening mark.
    stage.windowFrame = 0;
    SystemDataBlock.language = 4;
    EXPECT_EQ(Convert(Rep("あ", 31) + "「あ"), Rep("あ", 31) + "「#nあ");
}

TEST_F(MarkupEnv, EnglishWrapsWholeWords) {
    FixedAdvances();
    SystemDataBlock.language = 1;
    // A narrow character is 16 units: the zone starts after 62 of them.
    EXPECT_EQ(Convert(Rep("a", 60) + " bcdef"), Rep("a", 60) + " #nbcdef");
    // An over-long word after an earlier line breaks where the rules say, without empty lines.
    const std::string out = Convert("ab " + Rep("x", 100) + " end");
    EXPECT_EQ(out, "ab #n" + Rep("x", 64) + "#n" + Rep("x", 36) + " end");
    // A space never breaks; a word wrap always indents a speech.
    const std::string speech = Convert("\"" + Rep("a", 59) + " bcdef");
    EXPECT_EQ(speech, "\"" + Rep("a", 59) + " #n#Pos[16,0]bcdef");
}

TEST_F(MarkupEnv, SpeechesHangUnderTheirFirstLetter) {
    FixedAdvances();
    // Explicit breaks, except before a line that opens with a bracket or a space.
    EXPECT_EQ(Convert("「あ#nい\\n『う#n　え#n（お#n“か」"), "「あ#n#Pos[32,0]い#n『う#n　え#n（お#n“か」");
    // After an automatic break.
    EXPECT_EQ(Convert("「" + Rep("あ", 32) + "い」"), "「" + Rep("あ", 31) + "#n#Pos[32,0]あい」");
    // None for a speech that opens otherwise, or with the indent switched off.
    EXPECT_EQ(Convert("あ#nい"), "あ#nい");
    EXPECT_EQ(Convert("「あ#nい", false), "「あ#nい");
    // The size compensation needs two size constructs.
    EXPECT_EQ(Convert("/size:0.5&0.5/「あ#n/size:1&1/い#nう"),
              "#Size[0.50,0.50]「あ#n#Pos[32,0]#Size[1.00,1.00]い#n#Pos[32,0]う");
    const std::string big = Convert("/size:0.5&0.5/「/size:0.75&0.75/" + Rep("あ", 30));
    EXPECT_NE(big.find("#n#Pos[32,0]#Pos[-16,16]"), std::string::npos) << big;
    EXPECT_EQ(Convert("/size:0.75&0.75/「" + Rep("あ", 30)).find("#Pos[-16,16]"), std::string::npos);
}

TEST_F(MarkupEnv, ReconvertingShownTextKeepsItsPrefix) {
    FixedAdvances();
    const std::string shown = Convert("「" + Rep("あ", 40) + "#nいう");
    ASSERT_EQ(shown, "「" + Rep("あ", 31) + "#n#Pos[32,0]" + Rep("あ", 9) + "#n#Pos[32,0]いう");
    const std::string again = Convert(shown + "#nえお」");
    EXPECT_EQ(again, shown + "#n#Pos[32,0]えお」");
}

TEST_F(MarkupEnv, LimitsHoldOnLongRubyAndLongText) {
    FixedAdvances();
    // A 21-character ruby over a 21-character base is respaced whole.
    const std::string base = Rep("漢", 21), ruby = Rep("か", 21);
    const std::string out = Convert("/ruby:" + base + "&" + ruby + "/");
    std::string spaced = "か";
    for (int i = 1; i < 21; ++i) spaced += "　か";
    EXPECT_NE(out.find("#Rubi[" + spaced + "]"), std::string::npos) << out;
    // Over-long input: output below 1536 bytes, cut on character boundaries.
    for (const std::string& unit : {std::string("あ"), kSjA, std::string("a b "), std::string("#n")}) {
        const std::string r = Convert(Rep(unit, 2000));
        EXPECT_LT(r.size(), kMarkupSize);
        EXPECT_GT(r.size(), 1400u);
    }
    // A smaller buffer is respected to the byte.
    char small[40];
    std::memset(small, 0x55, sizeof small);
    GSL_MarkupConvert(&ctx, Rep("あ", 40).c_str(), small, 32, true, -1.0f, 0.0f);
    EXPECT_EQ(std::string(small), Rep("あ", 10));
    EXPECT_EQ(uint8_t(small[32]), 0x55);
}

TEST_F(MarkupEnv, WaitIconFollowsTheMessageEnd) {
    FixedAdvances();
    float p[3];
    GSL_TextPageMake(p, &ctx);
    EXPECT_EQ(p[0], 395.0f);
    EXPECT_EQ(p[1], -310.0f);
    SpriteRecord& icon = LayerSprite(29, 0x01);
    icon.imageWidth = 40;
    icon.imageHeight = 30;
    GSL_TextPageMake(p, &ctx);  // no message yet
    EXPECT_EQ(p[0], 395.0f);

    const TextPos at{100, 50, 0};
    const int32_t t = Lib_TextSet(10, "あいう#nえお", &at);
    ASSERT_GE(t, 0);
    TextTable[t]->scaleX = TextTable[t]->scaleY = 0.5f;
    Story()->texts[stage.textSlotOffset + 1].handle = t;
    stage.textOffsetX = 7;
    stage.textOffsetY = -3;
    TextRect r{};
    const TextScale s{0.5f, 0.5f};
    Lib_TextMeasure(&r, "あいう#nえお", &s, nullptr, 0, 0);
    GSL_TextPageMake(p, &ctx);
    EXPECT_EQ(p[0], float(7 + 100 + 64 - (1280 - 40) / 2));
    EXPECT_EQ(p[1], float(-3 + (30 + 720) / 2 - r.top + 50 + r.bottom - 10));

    Lib_TextStrSet(t, "#Size[1.00,1.00]");
    GSL_TextPageMake(p, &ctx);
    EXPECT_EQ(p[0], float(7 + 100 + 0 - 620 + 128));
    Lib_TextDel(t);
}

TEST_F(MarkupEnv, VoiceSoundingFollowsTheChannelState) {
    EXPECT_FALSE(GSL_ContextCheck());
    for (const int32_t state : {8, 4, 1}) {
        SoundSlot(12, 3, state);
        EXPECT_TRUE(GSL_ContextCheck()) << state;
    }
    SoundSlot(12, 3, 2);
    EXPECT_FALSE(GSL_ContextCheck());
    SoundSlot(19, 4, 8);  // not a voice slot
    EXPECT_FALSE(GSL_ContextCheck());
    SoundSlot(18, 5, 8);
    SoundChannelTable[5].st.flags.store(0);  // not in use
    EXPECT_FALSE(GSL_ContextCheck());
    SoundSlot(11, 6, 8);
    EXPECT_TRUE(GSL_ContextCheck());
    NoStory();
    EXPECT_FALSE(GSL_ContextCheck());
}
