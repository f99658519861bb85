// The channel records and the requests game code makes on them.
#include <gtest/gtest.h>

#include "tests/engine/sound/sound_env.h"

namespace sound_test {
namespace {

using SoundRequestTest = SoundEnv;

TEST_F(SoundRequestTest, PlayStoresTheRequestAndPicksFreeChannels) {
    EXPECT_EQ(Ch(22).st.volume.load(), 100.0f);  // start-up values
    EXPECT_EQ(Gain(22), 1.0f);
    Ch(1).st.pause = SOUND_PAUSE_REQUEST;
    Ch(1).st.fadeOutFrames = 9;
    EXPECT_EQ(Lib_SoundPlay(1, "sound/se/a.wav", 0, 3, 0, 0, nullptr), 1);
    EXPECT_EQ(Flags(1), SOUND_IN_USE | SOUND_START_REQUEST | SOUND_RELEASE_REQUEST);
    EXPECT_EQ(Lib_SoundStateGet(1), SOUND_STARTING);
    EXPECT_STREQ(Ch(1).st.path, "sound/se/a.wav");
    EXPECT_EQ(Ch(1).st.repeat.load(), 3);
    EXPECT_EQ(Ch(1).st.pause.load(), 0);
    EXPECT_EQ(Ch(1).st.fadeOutFrames.load(), 0u);
    EXPECT_EQ(Ch(1).fadeStartGain.load(), 1.0f);

    // Invalid numbers take the lowest channel with neither bit 0 nor bit 1.
    Ch(0).st.flags = SOUND_START_REQUEST;
    EXPECT_EQ(Lib_SoundPlay(-1, "x.wav", 0, 0, 0, 0, "pack.arc"), 2);
    EXPECT_STREQ(Ch(2).st.pack, "pack.arc");
    Ch(3).st.flags = SOUND_RELEASE_REQUEST | SOUND_STARTED;
    EXPECT_EQ(Lib_SoundPlay(23, nullptr, 0, 0, 0, 0, nullptr), 3);
    for (int32_t i = 0; i < kSoundChannels; ++i) Ch(i).st.flags |= SOUND_IN_USE;
    EXPECT_EQ(Lib_SoundPlay(-1, "y.wav", 0, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(Lib_SoundPlay(99, "y.wav", 0, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(Lib_SoundPlay(4, "z.wav", 0, 0, 0, 0, nullptr), 4);  // a valid busy channel is used
    EXPECT_EQ(Lib_SoundStateGet(-1), 0);
    EXPECT_EQ(Lib_SoundStateGet(23), 0);
    Ch(5).st.flags = 0;
    Ch(5).st.state = SOUND_PLAYING;
    EXPECT_EQ(Lib_SoundStateGet(5), 0);  // not in use

    // Names of 256 bytes or more are refused and change nothing.
    std::string n255(255, 'a'), n256(256, 'b');
    EXPECT_EQ(Lib_SoundPlay(6, n255.c_str(), 0, 0, 0, 0, n255.c_str()), 6);
    EXPECT_EQ(std::string(Ch(6).st.path), n255);
    Ch(6).st.flags = 0;
    EXPECT_EQ(Lib_SoundPlay(6, n256.c_str(), 0, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(Lib_SoundPlay(6, "ok.wav", 0, 0, 0, 0, n256.c_str()), -1);
    EXPECT_EQ(Flags(6), 0);
    EXPECT_EQ(std::string(Ch(6).st.path), n255);
}

TEST_F(SoundRequestTest, VolumeStopAndSnapshot) {
    Lib_SoundVolumeSet(2, 150.0f);
    EXPECT_EQ(Ch(2).st.volume.load(), 100.0f);
    Lib_SoundVolumeSet(2, -5.0f);
    EXPECT_EQ(Gain(2), 0.0f);
    Ch(2).st.fadeInFrames = 30;
    Lib_SoundVolumeSet(2, 40.0f);  // ends a fade-in; kept for the next sound
    EXPECT_EQ(Ch(2).st.fadeInFrames.load(), 0u);
    Lib_SoundPlay(2, "a.wav", 0, 0, 0, 0, nullptr);
    EXPECT_FLOAT_EQ(Gain(2), 0.4f);
    Lib_SoundPlay(2, "a.wav", 0, -1, 30, 0, "p.arc");  // a fade-in starts silent
    EXPECT_EQ(Gain(2), 0.0f);
    EXPECT_EQ(Ch(2).fadeStartGain.load(), 0.0f);

    Lib_SoundStop(6, 0);
    EXPECT_EQ(Flags(6), 0);  // not in use: nothing
    Ch(6).st.flags = SOUND_IN_USE | SOUND_STARTED;
    Ch(6).st.gain = 0.75f;
    g_nowUs = 5555000;
    Lib_SoundStop(6, 0);
    EXPECT_EQ(Ch(6).st.fadeOutFrames.load(), 16u);
    EXPECT_EQ(Ch(6).fadeStartGain.load(), 0.75f);
    EXPECT_EQ(Ch(6).st.fadeStartUs.load(), 5555000u);
    EXPECT_EQ(Flags(6), SOUND_IN_USE | SOUND_STARTED | SOUND_RELEASE_REQUEST);
    Lib_SoundStop(6, 1);
    EXPECT_EQ(Ch(6).st.fadeOutFrames.load(), 1u);

    SoundChannelState* snap = Lib_SoundStateCopy();
    EXPECT_EQ(snap, SoundStateSnapshot);
    EXPECT_STREQ(snap[2].pack, "p.arc");
    EXPECT_EQ(snap[2].repeat.load(), -1);
    EXPECT_EQ(snap[2].fadeInFrames.load(), 30u);
    EXPECT_EQ(snap[6].fadeOutFrames.load(), 1u);
    Ch(2).st.repeat = 5;  // a copy, not a view
    EXPECT_EQ(snap[2].repeat.load(), -1);
}

}  // namespace
}  // namespace sound_test
