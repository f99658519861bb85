// Applying the configuration: the channel volumes with the stage's factors,
// the window's opacity and text edge on the story screen, the "[0018]"
// mirror, and the font logic: a face change within a language, a language
// change, the first apply and the end of the load task.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/movie/movie.h"
#include "engine/text/font.h"
#include "script/stage.h"
#include "story/access_flags.h"
#include "story/config.h"
#include "story/game_state.h"
#include "tests/engine/text/font_env.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"

namespace {
using Config = StageEnv;

float Volume(int32_t ch) { return SoundChannelTable[ch].st.volume.load(); }
float Gain(int32_t ch) { return SoundChannelTable[ch].st.gain.load(); }

TEST_F(Config, VolumesFollowTheirBytesAndTheStageFactors) {
    if (IsSkipped()) return;
    GSL_StageReset(&GameStateBlock.stage, 2);
    GameStateBlock.stage.factors[0] = 0.5f;
    SystemDataBlock.systemVolume = 30;
    SystemDataBlock.musicVolume = 80;
    SystemDataBlock.seVolume = 120;  // above 100: applies as 100
    SystemDataBlock.voiceVolume = 200;  // negative as a signed byte: 0
    SoundChannelTable[4].st.fadeInFrames.store(20);
    GSL_ConfigApplyVolume();
    EXPECT_FLOAT_EQ(Volume(0), 40.0f);
    EXPECT_FLOAT_EQ(Gain(0), 0.4f);
    EXPECT_FLOAT_EQ(Volume(1), 80.0f);
    EXPECT_FLOAT_EQ(Volume(4), 100.0f);
    EXPECT_FLOAT_EQ(Gain(4), 1.0f);
    EXPECT_EQ(SoundChannelTable[4].st.fadeInFrames.load(), 0u);
    EXPECT_FLOAT_EQ(Volume(11), 0.0f);
    EXPECT_FLOAT_EQ(Volume(18), 0.0f);
    for (int32_t ch = 19; ch <= 22; ++ch) EXPECT_FLOAT_EQ(Volume(ch), 30.0f) << ch;
    EXPECT_FLOAT_EQ(MovieVolume.load(), 0.3f);
    Lib_SoundReset();
}

TEST_F(Config, OpacityTextEdgeAndInstantEffectsReachTheStoryScreen) {
    if (IsSkipped()) return;
    SpriteRecord* layers[3] = {&LayerSprite(24, SPRITE_IN_USE), &LayerSprite(25, SPRITE_IN_USE),
                               &LayerSprite(26, SPRITE_IN_USE)};
    ScreenWork* story = Story();
    ASSERT_NE(story, nullptr);
    int32_t texts[6];
    for (uint32_t i = 0; i < 6; ++i) {
        texts[i] = GSL_WorkTextSetIn(story, i, -1, "line");
        ASSERT_GE(texts[i], 0);
        TextTable[texts[i]]->renderFlags = 0xFF;
    }
    const struct {
        uint8_t opacity;
        uint32_t alpha;
    } rows[] = {{100, 255}, {50, 127}, {0, 0}, {250, 255}};
    for (const auto& r : rows) {
        SystemDataBlock.windowOpacity = r.opacity;
        GSL_ConfigApply(true);
        for (SpriteRecord* s : layers) EXPECT_EQ(s->color, r.alpha << 24 | 0xFFFFFFu) << int(r.opacity);
    }
    SystemDataBlock.textEffectOff = 0;
    GSL_ConfigApply(true);
    for (int32_t t : texts) EXPECT_EQ(TextTable[t]->outline, 0xFFFFFFFFu);
    SystemDataBlock.textEffectOff = 1;
    GSL_ConfigApply(true);
    for (int32_t t : texts) {
        EXPECT_EQ(TextTable[t]->outline, 0u);
        EXPECT_EQ(TextTable[t]->renderFlags, 0x1E);  // only the alignment bits stay
    }
    SystemDataBlock.instantEffects = 1;
    GSL_ConfigApply(true);
    EXPECT_EQ(GSL_VarRefEval("[0018]"), 0);
    SystemDataBlock.instantEffects = 0;
    GSL_ConfigApply(true);
    EXPECT_EQ(GSL_VarRefEval("[0018]"), 1);
    Lib_SoundReset();
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

const FontLoadWork* LoadWork() {
    if (FontLoadTask < 0 || !TaskTable.slots[FontLoadTask]) return nullptr;
    return static_cast<const FontLoadWork*>(TaskTable.slots[FontLoadTask]->work);
}

TEST_F(Config, FontsLoadOnceOnTheFirstApplyAndOnALanguageChangeOnly) {
    if (IsSkipped()) return;
    const std::string sans = ReadFile(font_env::kDejaVuSans), serif = ReadFile(font_env::kDejaVuSerif);
    if (sans.empty() || serif.empty()) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    ASSERT_TRUE(Files({Bytes("font/font_01.ttf", sans), Bytes("font/font_11.ttf", serif),
                       Bytes("font/font_02.ttf", serif), Bytes("font/font_12.ttf", sans),
                       Bytes("font/font_add_00.ext", std::string(256 + 16384, '\0'))}));
    ASSERT_TRUE(Fonts());
    // Nothing was loaded through the configuration yet: the first apply loads,
    // even when the language stays.
    EXPECT_LT(FontReloadPending, 0);
    TextLanguage = 1;
    SystemDataBlock.language = 1;
    std::memset(SystemDataBlock.fontName, 0, sizeof SystemDataBlock.fontName);
    GSL_ConfigApply(false);
    ASSERT_NE(LoadWork(), nullptr);
    EXPECT_STREQ(LoadWork()->name[0], "font_01.ttf");
    EXPECT_FALSE(GSL_ConfigFontWait());
    const int32_t task = FontLoadTask;
    ASSERT_TRUE(FramesUntil([] { return GSL_ConfigFontWait(); }, 30, "the fonts"));
    // The finished task is gone, and the game's face fills the empty name.
    EXPECT_EQ(TaskTable.slots[task] == nullptr || TaskTable.slots[task]->dead, true);
    EXPECT_EQ(FontLoadTask, -1);
    EXPECT_STREQ(FontUserFace, "DejaVu Sans");
    EXPECT_STREQ(SystemDataBlock.fontName, "DejaVu Sans");

    // Another face of the same language: made at once, nothing loaded.
    std::strcpy(SystemDataBlock.fontName, "DejaVu Serif");
    GSL_ConfigApply(false);
    EXPECT_EQ(FontLoadTask, -1);
    EXPECT_STREQ(FontUserFace, "DejaVu Serif");

    // A 64-byte name without its terminator and a language byte out of range.
    std::memset(SystemDataBlock.fontName, 'A', sizeof SystemDataBlock.fontName);
    SystemDataBlock.language = 7;
    GSL_ConfigApply(false);
    EXPECT_EQ(std::strlen(FontUserFace), 63u);
    EXPECT_EQ(TextLanguage.load(), Lib_LanguageGet());
    if (LoadWork()) FramesUntil([] { return GSL_ConfigFontWait(); }, 30, "the locale's fonts");

    // A language change loads that language's file; a second change during the
    // load waits for it.
    std::strcpy(SystemDataBlock.fontName, "DejaVu Sans");
    SystemDataBlock.language = 2;
    GSL_ConfigApply(false);
    ASSERT_NE(LoadWork(), nullptr);
    EXPECT_STREQ(LoadWork()->name[0], "font_02.ttf");
    const int32_t second = FontLoadTask;
    SystemDataBlock.language = 1;
    GSL_ConfigApply(false);
    EXPECT_EQ(FontLoadTask, second);
    EXPECT_LT(FontReloadPending, 0);
    ASSERT_TRUE(FramesUntil([] { return GSL_ConfigFontWait(); }, 30, "language 2"));
    GSL_ConfigApply(false);
    ASSERT_NE(LoadWork(), nullptr);
    EXPECT_STREQ(LoadWork()->name[0], "font_01.ttf");
    ASSERT_TRUE(FramesUntil([] { return GSL_ConfigFontWait(); }, 30, "language 1"));
    TextLanguage = 0;
}
}  // namespace
