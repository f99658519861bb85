// The option items on the sample's sheet: the table's sprites and texts in
// their slots, each item on its byte, and what one change does at once.
#include <gtest/gtest.h>

#include "engine/movie/movie.h"
#include "engine/sound/sound.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/screens/option_env.h"
#include "ui/screen_slots.h"

namespace {
using OptionItems = OptionEnv;

TEST_F(OptionItems, FiftyThreeSpritesAndFortySevenTextsEachOnItsByte) {
    if (IsSkipped()) return;
    Open();
    EXPECT_TRUE(MatchesReference("option_list"));
    for (uint32_t slot = 10; slot <= 62; ++slot) EXPECT_TRUE(Lib_SpriteIsLive(GSL_WorkLayerGet(nullptr, slot))) << slot;
    EXPECT_EQ(GSL_WorkLayerGet(nullptr, 63), -1);
    for (uint32_t slot = 3; slot <= 49; ++slot) EXPECT_GE(GSL_WorkTextGet(nullptr, slot), 0) << slot;
    EXPECT_EQ(GSL_WorkTextGet(nullptr, 50), -1);
    // Every item's knob, selector or overlay follows its byte.
    const int32_t bytes[24] = {10, 11, 12, 13, 6, 7, 5, 8, 9, 14, 28, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27};
    for (int32_t i = 0; i < 24; ++i) EXPECT_EQ(GSL_OptionItemByte(i), bytes[i]);
    EXPECT_EQ(GSL_OptionItemByte(24), -1);
    Byte(11) = 25;  // music: knob of item 1 (slots 12, 13)
    Byte(5) = 1;    // skip all: selector of item 6 over the second choice
    Byte(15 + 3) = 1;
    GSL_OptionDrawItems(1);
    EXPECT_FLOAT_EQ(Layer(nullptr, 12)->posX, 14.0f + 394.0f * 25 / 100);
    const uint32_t item6 = 10 + 6 * 2;  // after the sliders 0..5
    EXPECT_EQ(Layer(nullptr, item6)->posX, 264.0f);
    EXPECT_EQ(Layer(nullptr, item6)->priority, 188);
    EXPECT_EQ(Layer(nullptr, item6 + 1)->color, 0xFFF0F0F0u);
    const uint32_t icon3 = 10 + 7 * 2 + 4 * 3 + 3 * 2;  // overlay of icon k = 3
    EXPECT_EQ(Layer(nullptr, icon3)->visible, 1);
    EXPECT_EQ(Layer(nullptr, icon3 + 2)->visible, 0);
    OptionTemplate t;
    EXPECT_EQ(GSL_OptionTemplateGet(&t, 25)->spriteCount, 0);
    EXPECT_EQ(GSL_OptionTemplateGet(&t, 99)->textCount, -1);
}

TEST_F(OptionItems, ChangesClampAndPlayOnlyWhatTheyShould) {
    if (IsSkipped()) return;
    Open();
    OptionWork* o = Work();
    auto change = [&](int32_t item, int32_t before, int8_t step) {
        o->cursor = item;
        Byte(GSL_OptionItemByte(item)) = uint8_t(before);
        Mark();
        GSL_OptionChangeItem(step, 1);
        return int32_t(Byte(GSL_OptionItemByte(item)));
    };
    EXPECT_EQ(change(4, 100, 1), 100);
    EXPECT_FALSE(Played());
    EXPECT_EQ(change(4, 0, -1), 0);
    EXPECT_FALSE(Played());
    EXPECT_EQ(change(5, 70, 60), 100);
    EXPECT_TRUE(Played());
    EXPECT_EQ(change(8, 50, -100), 0);
    EXPECT_EQ(change(6, 0, 1), 0);
    EXPECT_FALSE(Played());
    EXPECT_EQ(change(6, 0, -1), 1);
    EXPECT_TRUE(Played());
    EXPECT_EQ(change(9, 1, 1), 1);
    EXPECT_EQ(change(9, 1, -1), 0);
    EXPECT_EQ(change(14, 0, 2), 1);
    EXPECT_EQ(change(14, 1, 2), 0);
    // Music: the channels at once, no sound of any kind; the playing track's
    // voice follows.
    ASSERT_EQ(Lib_SoundPlay(0, "sound/bgm/quillmere.oggl", 0, -1, 0, 0, nullptr), 0);
    FramesUntil([] { return Lib_SoundStateGet(0) == SOUND_PLAYING; }, 30, "the music");
    EXPECT_EQ(change(1, 50, -25), 25);
    EXPECT_FALSE(Played());
    for (int ch = 0; ch <= 2; ++ch) EXPECT_EQ(SoundChannelTable[ch].st.volume.load(), 25.0f);
    Frame(2);
    const int32_t mB = sound_test::FakeAudio::With(SoundChannelTable[0].voice, 0,
                                                   [](sound_test::FakeVoice& f) { return f.mB; });
    EXPECT_EQ(mB, -1204);
    Lib_SoundStop(0, 1);
    // The system volume: its channels, the gain factor and one system voice.
    EXPECT_EQ(change(0, 50, 30), 80);
    for (int ch = 19; ch <= 22; ++ch) EXPECT_EQ(SoundChannelTable[ch].st.volume.load(), 80.0f);
    EXPECT_FLOAT_EQ(MovieVolume.load(), 0.8f);
    EXPECT_TRUE(SoundChannelTable[22].st.flags.load() & SOUND_IN_USE);
}

TEST_F(OptionItems, SamplesStartOnAFreeChannelOnlyAndNeverOnNone) {
    if (IsSkipped()) return;
    Open();
    OptionWork* o = Work();
    ASSERT_GE(o->seChannel, 3);
    o->cursor = 2;
    Byte(12) = 50;
    GSL_OptionChangeItem(1, 1);
    SoundChannel& ch = SoundChannelTable[o->seChannel];
    EXPECT_STREQ(ch.st.path, "sound/se/拍手.ogg");
    EXPECT_FLOAT_EQ(ch.st.gain.load(), 0.51f);
    FramesUntil([&] { return ch.st.state.load() == SOUND_PLAYING; }, 30, "the sample");
    const int32_t voice = ch.voice;
    GSL_OptionChangeItem(1, 1);  // still playing: not started again
    EXPECT_EQ(ch.voice, voice);
    EXPECT_EQ(ch.st.state.load(), SOUND_PLAYING);
    EXPECT_EQ(Byte(12), 52);
    // No channel was free when the screen opened: no sample, no crash.
    o->seChannel = o->voiceChannel = -1;
    o->cursor = 3;
    GSL_OptionChangeItem(-1, 1);
    o->cursor = 2;
    GSL_OptionChangeItem(-1, 1);
    EXPECT_EQ(Byte(12), 51);
    // Cancel stops the samples, skipping a missing channel.
    Press(BUTTON_CANCEL);
    FramesUntil([] { return GSL_ModeTop() != GSL_OptionModeCB; }, 200, "the screen gone");
}
}  // namespace
