// The option screen's font page: the rows, the language list (a cancel
// after a move keeps the new language and reloads the fonts and every
// label), and the font-settings window read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/text/font.h"
#include "engine/text/font_window.h"
#include "screens/font_page.h"
#include "tests/screens/option_env.h"
#include "ui/screen_slots.h"

namespace {
using FontPage = OptionEnv;

int32_t Sub() { return GSL_WorkGet(GSL_OptionModeCB)->subState; }
std::string TextOf(int32_t h) { return h >= 0 && TextTable[h] ? TextTable[h]->text : ""; }

int g_calls = 0;
uint8_t FakeFontApp(const char*) {
    if (++g_calls < 6) return 0;
    FontUserFace[0] = 0;
    return 1;
}

TEST_F(FontPage, LanguageListAndFaceWindow) {
    if (IsSkipped()) return;
    DrawFrames(true);  // the face window is drawn once into its sprite
    Open();
    // Without a free sprite for the capture the page still opens, dimmed only.
    std::vector<int32_t> taken;
    for (int32_t s; (s = Lib_SpriteGetFree(0)) >= 0;) taken.push_back(s);
    Press(0x8);
    FramesUntil([] { return Step() == 5 && Sub() >= 1; }, 30, "the font page started");
    for (int32_t s : taken) {
        SpriteTable[s].flags |= SPRITE_FAILED;
        Lib_SpriteFree(s);
    }
    FramesUntil([] { return Sub() == 10; }, 30, "the font page without its capture");
    OptionWork* o = Work();
    EXPECT_EQ(o->capture, -1);
    EXPECT_GE(o->dimmer, 0);
    Press(BUTTON_CANCEL);
    FramesUntil([] { return Step() == 2; }, 30, "the list");
    Press(0x8);
    FramesUntil([] { return Step() == 5 && Sub() == 10; }, 30, "the font page");
    EXPECT_GE(o->capture, 0);
    EXPECT_EQ(ScreenHarness::Layer(GSL_OptionModeCB, 2)->priority, 97);
    Mark();
    Press(BUTTON_UP);
    EXPECT_EQ(o->row, 0);
    EXPECT_FALSE(Played());
    Press(BUTTON_DOWN);
    EXPECT_EQ(o->row, 1);
    Mark();
    Press(BUTTON_DOWN);
    EXPECT_FALSE(Played());
    Press(BUTTON_UP);
    Press(BUTTON_DECIDE);
    FramesUntil([] { return Sub() == 52; }, 30, "the language list");
    EXPECT_TRUE(MatchesReference("option_font_list"));
    Press(BUTTON_UP);
    EXPECT_EQ(SystemDataBlock.language, 0);
    Mark();
    Press(BUTTON_UP);
    EXPECT_EQ(SystemDataBlock.language, 0);
    EXPECT_FALSE(Played());
    for (int i = 0; i < 4; ++i) Press(BUTTON_DOWN);
    EXPECT_EQ(SystemDataBlock.language, 3);
    Press(BUTTON_UP);
    Press(BUTTON_CANCEL);
    FramesUntil([] { return Sub() == 10; }, 120, "the fonts of language 2");
    EXPECT_EQ(SystemDataBlock.language, 2);
    EXPECT_EQ(TextLanguage.load(), 2);
    EXPECT_STREQ(SystemDataBlock.fontName, FontDefaultFace);
    EXPECT_EQ(TextOf(GSL_WorkTextGet(GSL_OptionModeCB, 0)), "选项");
    EXPECT_EQ(TextOf(GSL_WorkTextGet(GSL_OptionModeCB, 3)), "系统音量");
    EXPECT_EQ(TextOf(o->rowText[0]), "语言 : 简体中文");
    EXPECT_EQ(TextOf(o->rowText[1]), std::string("字体 : ") + FontDefaultFace);
    // The face window closes without a face: the default is stored.
    std::strcpy(SystemDataBlock.fontName, "Elsewhere");
    g_calls = 0;
    OptionFontAppRun = FakeFontApp;
    Press(BUTTON_DOWN);
    Press(BUTTON_DECIDE);
    FramesUntil([] { return Sub() == 10; }, 30, "the face window closed");
    OptionFontAppRun = Lib_FontAppRun;
    EXPECT_EQ(g_calls, 6);
    EXPECT_STREQ(SystemDataBlock.fontName, FontDefaultFace);
    Press(BUTTON_CANCEL);
    FramesUntil([] { return Step() == 2; }, 30, "the list again");
    EXPECT_EQ(ScreenHarness::Layer(GSL_OptionModeCB, 2)->priority, 189);
    EXPECT_EQ(o->capture, -1);
}
}  // namespace
