// The system sound effects and the system voices, read back from the sound
// channels' request records and the screen's sound slot.
#include "ui/system_sound.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/util.h"
#include "tests/ui/screen_harness.h"
#include "ui/ui_host.h"
#include "ui/utility_dialog.h"

namespace {

class SystemSoundTest : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        SysVoiceRandom = [](uint32_t lo, uint32_t) { return lo + drawn; };
        saved_ = GSL_UiHost();
        UiHost host = saved_;
        host.systemVolume = [] { return configured; };
        GSL_UiHostSet(&host);
    }
    void TearDown() override {
        SysVoiceRandom = Lib_Random;
        GSL_UiHostSet(&saved_);
        ScreenHarness::TearDown();
    }
    static inline uint32_t drawn = 0;
    static inline uint8_t configured = 100;
    UiHost saved_{};
};

std::string Path(int ch) { return SoundChannelTable[ch].st.path; }
std::string Pack(int ch) { return SoundChannelTable[ch].st.pack; }

TEST_F(SystemSoundTest, SystemSoundsRotateAndWriteWhatSoundPlayWrites) {
    StartMinimal();
    Lib_SoundVolumeSet(20, 40);
    for (int n : {0, 1, 2, 6}) GSL_SystemSePlay(n);
    EXPECT_EQ(Path(19), "select.wav");  // 19, 20, 21, then 19 again
    EXPECT_EQ(Path(20), "cancel.wav");
    EXPECT_EQ(Path(21), "move.wav");
    EXPECT_EQ(Pack(19), "sound/se_system/se_sys.arc");
    EXPECT_FLOAT_EQ(SoundChannelTable[20].st.gain.load(), 0.4f);  // the channel's own volume

    // The same request through the engine's play call, on an idle channel.
    Lib_SoundVolumeSet(5, 40);
    ASSERT_EQ(Lib_SoundPlay(5, "cancel.wav", 0, 0, 0, 0, "sound/se_system/se_sys.arc"), 5);
    const SoundChannelState &a = SoundChannelTable[20].st, &b = SoundChannelTable[5].st;
    EXPECT_EQ(a.flags.load(), b.flags.load());
    EXPECT_EQ(a.state.load(), b.state.load());
    EXPECT_EQ(a.repeat.load(), b.repeat.load());
    EXPECT_EQ(a.gain.load(), b.gain.load());
    EXPECT_EQ(a.fadeInFrames.load(), b.fadeInFrames.load());

    // Numbers outside the table play nothing and leave the rotation alone.
    for (int ch = 19; ch <= 21; ++ch) SoundChannelTable[ch].st.path[0] = 0;
    GSL_SystemSePlay(7);
    GSL_SystemSePlay(-1);
    for (int ch = 19; ch <= 21; ++ch) EXPECT_EQ(Path(ch), "");
    GSL_SystemSePlay(3);
    EXPECT_EQ(Path(20), "error.wav");

    // The dialog's sounds keep their own rotation over the same channels.
    for (int i = 0; i < 4; ++i) Lib_UtilityDialogSePlay(i == 3 ? 0 : 1);
    EXPECT_EQ(Path(19), "utility/dialog/enter.wav");
    EXPECT_EQ(Path(20), "utility/dialog/move.wav");
    EXPECT_EQ(Path(21), "utility/dialog/move.wav");
    EXPECT_EQ(Pack(19), "");
}

TEST_F(SystemSoundTest, SystemVoicePicksTheLineAndItsVolume) {
    StartMinimal();
    ScreenWork* w = MakeContext(TestScreen(0));
    ASSERT_TRUE(w);
    SoundChannel& ch = SoundChannelTable[22];

    // Kinds without a pattern never touch channel 22.
    EXPECT_EQ(GSL_SysVoicePlay(0, 3, 50), -1);
    EXPECT_EQ(GSL_SysVoicePlay(0, 18, 50), -1);
    EXPECT_EQ(ch.st.flags.load(), 0);
    EXPECT_EQ(w->sounds[22].handle, -1);

    drawn = 9;
    EXPECT_EQ(GSL_SysVoicePlay(0, 10, 150), -1);
    EXPECT_EQ(Path(22), "sound/voice_system/svo_fennick_save.ogg");
    EXPECT_FLOAT_EQ(ch.st.volume.load(), 100.0f);
    EXPECT_FLOAT_EQ(ch.st.gain.load(), 1.0f);
    EXPECT_EQ(w->sounds[22].handle, 22);
    EXPECT_EQ(w->sounds[22].restoreKind, -1);
    EXPECT_EQ(w->sounds[22].extra, -1);
    EXPECT_STREQ(w->sounds[22].file, "sound/voice_system/svo_fennick_save.ogg");

    drawn = 0;
    configured = 30;  // a negative volume takes the configured one
    GSL_SysVoicePlay(0, 15, -1);
    EXPECT_EQ(Path(22), "sound/voice_system/svo_dova_title.ogg");
    EXPECT_FLOAT_EQ(ch.st.gain.load(), 0.3f);
    configured = 250;  // from a user file: clamped
    GSL_SysVoicePlay(0, 15, -1);
    EXPECT_FLOAT_EQ(ch.st.gain.load(), 1.0f);

    configured = 0;
    ch.st.path[0] = 0;
    GSL_SysVoicePlay(0, 15, -1);
    GSL_SysVoicePlay(0, 15, 0);
    EXPECT_EQ(Path(22), "");
    configured = 100;
}

// A table installed with its volume entry left null answers with the
// default volume, 100, and keeps the entries it was given.
TEST_F(SystemSoundTest, AVolumeLeftOutOfTheInstalledTableIsTheDefault) {
    StartMinimal();
    ASSERT_TRUE(MakeContext(TestScreen(0)));
    UiHost host = GSL_UiHost();
    host.systemVolume = nullptr;
    host.scriptStatusGet = [](int32_t) { return int32_t(7); };
    GSL_UiHostSet(&host);
    configured = 30;  // what the table installed before answers, and is not asked
    drawn = 0;
    GSL_SysVoicePlay(0, 15, -1);
    configured = 100;
    EXPECT_EQ(Path(22), "sound/voice_system/svo_dova_title.ogg");
    EXPECT_FLOAT_EQ(SoundChannelTable[22].st.gain.load(), 1.0f);
    EXPECT_EQ(GSL_UiHost().scriptStatusGet(3), 7);
}

TEST_F(SystemSoundTest, VoiceDoneTestReadsSlot22OfTheTopScreen) {
    StartMinimal();
    EXPECT_TRUE(GSL_SysVoiceIsDone(true));  // no context at all
    EXPECT_TRUE(GSL_SysVoiceIsDone(false));
    drawn = 0;
    GSL_SysVoicePlay(0, 15, 50);  // nothing plays without a context
    EXPECT_EQ(SoundChannelTable[22].st.flags.load(), 0);

    ScreenWork* w = MakeContext(TestScreen(0));
    ASSERT_TRUE(w);
    EXPECT_TRUE(GSL_SysVoiceIsDone(true));  // slot 22 empty (-1)
    GSL_SysVoicePlay(0, 15, 50);
    SoundChannelState& st = SoundChannelTable[22].st;
    st.state = SOUND_STARTING;
    EXPECT_FALSE(GSL_SysVoiceIsDone(true));
    EXPECT_FALSE(GSL_SysVoiceIsDone(false));
    st.state = SOUND_PLAYING;
    EXPECT_FALSE(GSL_SysVoiceIsDone(true));
    EXPECT_TRUE(GSL_SysVoiceIsDone(false));  // "has started"
    st.state = 0;
    EXPECT_TRUE(GSL_SysVoiceIsDone(true));
    w->sounds[22].handle = 40;  // a damaged slot is never used as a channel
    st.state = SOUND_STARTING;
    EXPECT_TRUE(GSL_SysVoiceIsDone(true));
}

}  // namespace
