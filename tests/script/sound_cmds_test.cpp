// The music, effect and movie commands on the stage harness with the fake
// voice back end and the harness's manual clock: the music's three slots,
// the hold until a sound has loaded, the effect banks and the movie's stop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "script/replay.h"
#include "script/sound_cmds.h"
#include "script/syntax.h"
#include "story/access_flags.h"
#include "script/script_host.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/script/stage_env.h"
#include "ui/engine_services.h"
#include "ui/screen_slots.h"

namespace {

class SoundCmdsTest : public StageEnv {
public:
    void Data() {
        ASSERT_TRUE(Files({Tool("sound_data.py", "sound/bgm/a.oggl", "ogg {} --rate 22050 --frames 4410 --loop 1000 3000"),
                           Tool("sound_data.py", "sound/bgm/b.oggl", "ogg {} --rate 22050 --frames 4410 --loop 1000 3000"),
                           Tool("sound_data.py", "sound/bgm/c.oggl", "ogg {} --rate 22050 --frames 4410 --loop 1000 3000"),
                           Tool("sound_data.py", "sound/se/tone.ogg", "ogg {} --rate 22050 --frames 2205 --tone 441")}));
    }
    // Starts the script and runs frames up to the one of its first tag.
    void Run(const std::string& body) {
        ASSERT_TRUE(Scripts({{"s.txt", body}}));
        Start("s.txt");
        const size_t before = executed.size();
        for (int i = 0; i < 10 && executed.size() == before; ++i) Frame();
    }
    bool Busy() { return Work() && (Work()->script.status & SCRIPT_BUSY); }
    static bool Heard(int32_t channel) {
        return sound_test::FakeAudio::With(SoundChannelTable[channel].voice, false,
                                           [](sound_test::FakeVoice& v) { return v.playing; });
    }
    static bool Held(int32_t channel) { return SoundChannelTable[channel].st.pause.load() & SOUND_PAUSE_REQUEST; }
    // Frames until the named command has run n times (and one frame more).
    void Until(size_t tags) {
        for (int i = 0; i < 200 && executed.size() < tags; ++i) Frame();
    }
    StageRecord& Stage() { return GameStateBlock.stage; }
};

}  // namespace

TEST_F(SoundCmdsTest, PathsAreLowerCaseStemsAndBanksOutsideTheEightAreBankZero) {
    char out[64];
    GSL_SoundPathMake("Dir/Quillmere.MP3", "sound/bgm/", ".oggl", out, sizeof out);
    EXPECT_STREQ(out, "sound/bgm/quillmere.oggl");
    GSL_SoundPathMake("movie1.mpg", "movie/", ".avi", out, sizeof out);
    EXPECT_STREQ(out, "movie/movie1.avi");
    GSL_SoundPathMake("", "sound/se/", ".ogg", out, sizeof out);
    EXPECT_STREQ(out, "");
    GSL_SoundPathMake("a_very_long_name", "sound/se/", ".ogg", out, 12);
    EXPECT_STREQ(out, "");  // does not fit: nothing rather than a cut path
    EXPECT_EQ(GSL_EffectSlot(9), 3u);
    EXPECT_EQ(GSL_EffectSlot(-1), 3u);
    EXPECT_EQ(GSL_EffectSlot(-9999), 3u);
    EXPECT_EQ(GSL_EffectSlot(7), 10u);
}

TEST_F(SoundCmdsTest, MusicRotatesOverThreeSlotsAndTheSameTrackOnlyTakesItsVolume) {
    Data();
    SystemDataBlock.musicVolume = 50;
    Run("<playbgm a>\n<playbgm B.mp3>\n<playbgm c,true,80>\n<playbgm C,false,50>\n<wait time:100>\n<playbgm a>\n<wait>\n");
    // Each track is held while it loads: the script waits, and nothing is
    // heard until the hold is released on the frame the script goes on.
    ASSERT_EQ(Names(), std::vector<std::string>{"playbgm"});
    EXPECT_TRUE(Busy());
    EXPECT_EQ(Stage().musicSlot, 1);
    EXPECT_TRUE(Held(1));
    Lib_SoundWorkPass();
    EXPECT_EQ(SoundChannelTable[1].st.state.load(), SOUND_PAUSED);
    EXPECT_GE(SoundChannelTable[1].voice, 0);
    EXPECT_FALSE(Heard(1));
    Lib_SoundWorkPass();
    EXPECT_FALSE(Heard(1));
    Frame();
    EXPECT_FALSE(Held(1));
    EXPECT_EQ(Names().size(), 2u);  // the next track was asked for on the same frame
    EXPECT_EQ(Stage().musicSlot, 2);
    EXPECT_EQ(SoundChannelTable[1].st.fadeOutFrames.load(), 30u);  // the old track fades
    EXPECT_EQ(SoundChannelTable[2].st.volume.load(), 50.0f);
    Until(3);
    EXPECT_EQ(Stage().musicSlot, 0);
    EXPECT_EQ(SoundChannelTable[0].st.volume.load(), 40.0f);
    EXPECT_STREQ(Story()->sounds[0].file, "sound/bgm/c.oggl");
    // The same name: the track plays on, its volume set at once, no wait.
    const uint32_t fade = SoundChannelTable[0].st.fadeOutFrames.load();
    Until(5);
    EXPECT_EQ(Stage().musicSlot, 0);
    EXPECT_EQ(SoundChannelTable[0].st.volume.load(), 25.0f);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), fade);
    EXPECT_GE(Story()->sounds[0].handle, 0);
    Until(6);
    EXPECT_EQ(Stage().musicSlot, 1);  // slot 1 faded out long ago
    Frame(3);
    EXPECT_TRUE(Heard(1));
    EXPECT_EQ(SoundChannelTable[1].st.state.load(), SOUND_PLAYING);
    EXPECT_EQ(Story()->sounds[1].restoreKind, 1);  // looping: replayed when the story returns
}

TEST_F(SoundCmdsTest, StopBgmWaitsForALoadingTrackAndFadesOverSixteenFrames) {
    SoundSlot(0, 0, SOUND_STARTING);
    Run("<stopbgm>\n");
    EXPECT_TRUE(Busy());
    EXPECT_EQ(Story()->sounds[0].handle, 0);  // not stopped while it loads

    Finish();
    Frame();
    SoundChannelTable[0].st.state.store(SOUND_IDLE);
    Data();
    executed.clear();
    Run("<playbgm a>\n<stopbgm>\n<playbgm b>\n<stopbgm time:1000>\n");
    Until(2);
    EXPECT_EQ(SoundChannelTable[1].st.fadeOutFrames.load(), 16u);  // 0 is the channel's 16
    EXPECT_EQ(Story()->sounds[1].handle, -1);
    Until(4);
    EXPECT_EQ(SoundChannelTable[2].st.fadeOutFrames.load(), 60u);
}

TEST_F(SoundCmdsTest, EffectsPlayInTheirBanksAndSkippingPlaysOnlyLoops) {
    Data();
    SystemDataBlock.seVolume = 100;
    Run("<playse 9,tone,false,40>\n<ws 9>\n<playse -1,tone,true>\n<stopse -1,time:500>\n");
    EXPECT_EQ(Story()->sounds[3].handle, 3);
    EXPECT_EQ(SoundChannelTable[3].st.volume.load(), 40.0f);
    EXPECT_FALSE(Heard(3));
    Frame(2);
    ASSERT_EQ(Names().size(), 2u);  // ws waits for the one-shot to end
    EXPECT_TRUE(Heard(3));
    Frame(5);
    EXPECT_EQ(Names().size(), 2u);
    sound_test::FakeAudio::Advance(SoundChannelTable[3].voice, 1 << 20);
    Until(4);
    EXPECT_EQ(Names(), (std::vector<std::string>{"playse", "ws", "playse", "stopse"}));
    EXPECT_EQ(SoundChannelTable[3].st.fadeOutFrames.load(), 30u);

    // Skipping: a one-shot only stops its bank; a looping effect still starts.
    StoryPlayMode = 1;
    SystemDataBlock.skipAll = 1;
    executed.clear();
    SoundSlot(5, 5, SOUND_PLAYING);
    Run("<playse 2,tone>\n<playse 4,tone,true>\n");
    Frame(3);
    EXPECT_EQ(Story()->sounds[5].handle, -1);
    EXPECT_STRNE(SoundChannelTable[5].st.path, "sound/se/tone.ogg");
    EXPECT_EQ(Story()->sounds[7].handle, 7);
    EXPECT_STREQ(SoundChannelTable[7].st.path, "sound/se/tone.ogg");
    StoryPlayMode = 0;
    SystemDataBlock.skipAll = 0;
}

TEST_F(SoundCmdsTest, TheMovieStopsOnAConfirmAndAMissingOneEndsAlone) {
    SystemDataBlock.systemVolume = 50;
    SystemDataBlock.musicUnlock[2] = 0;
    Run("<openvideo other.mpg,vol:60>\n<openvideo movie1.mpg>\n<wait>\n");
    const int32_t sprite = MovieSpriteSlot.load();
    ASSERT_GE(sprite, 0);
    EXPECT_EQ(SpriteTable[sprite].priority, 9);
    EXPECT_FLOAT_EQ(MovieVolume.load(), 0.3f);
    EXPECT_EQ(MovieState.load(), MOVIE_WAITING_FILE);
    EXPECT_TRUE(Busy());
    InputButtons.pressed = BUTTON_DECIDE;
    Frame();
    InputButtons.pressed = 0;
    EXPECT_EQ(MovieState.load(), MOVIE_STOP_REQUESTED);
    Lib_MovieUpdate();
    Frame();
    EXPECT_EQ(Names().size(), 2u);
    EXPECT_FLOAT_EQ(MovieVolume.load(), 0.5f);
    // movie1.mpg unlocks the title track before anything is known of the
    // file; the file is missing, so the command ends without a key.
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/Quillmere.oggl", -1, 0), 1);
    for (int i = 0; i < 10 && Names().size() < 3; ++i) {
        Frame();
        Lib_MovieUpdate();
    }
    EXPECT_EQ(Names().size(), 3u);
    EXPECT_EQ(MovieSpriteSlot.load(), -1);
}

TEST_F(SoundCmdsTest, ARestoreReplaysOnlyTheSoundsStillPlaying) {
    Data();
    ASSERT_TRUE(Scripts({{"s.txt",
                          "*top\n<label>\n<playbgm a>\n<playse 1,tone,true>\n<playbgm b>\n<stopse 1>\n"
                          "<playse 3,tone,true>\n<ws 5>\n<openvideo none.mpg>\n<playbgm c>\n<stopbgm>\n"
                          "<playbgm a>\n<text x>\n<keywait 0>\n"}}));
    auto frames = [this](int n) {
        for (int i = 0; i < n; ++i) Frame(), Lib_MovieUpdate();
    };
    // What sounds once the fades are over: file names by sound slot.
    auto sounding = [this] {
        std::vector<std::string> files;
        for (uint32_t i = 0; i < 11; ++i)
            if (Story()->sounds[i].handle >= 0 && SoundChannelTable[i].st.state.load() == SOUND_PLAYING)
                files.push_back(std::to_string(i < 3 ? 0 : i) + " " + Story()->sounds[i].file);
        return files;
    };
    Start("s.txt");
    for (int i = 0; i < 200 && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) frames(1);
    ASSERT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
    frames(40);
    const auto straight = sounding();
    EXPECT_EQ(straight, (std::vector<std::string>{"0 sound/bgm/a.oggl", "6 sound/se/tone.ogg"}));

    for (uint32_t i = 0; i < 11; ++i) GSL_WorkSoundStop(GSL_ScreenOf(SCREEN_STORY), i, 0);
    frames(20);
    executed.clear();
    RestoreAt(-1);
    for (int i = 0; i < 200 && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) frames(1);
    frames(40);
    EXPECT_EQ(sounding(), straight);
    std::vector<std::string> replayed;
    for (const Executed& e : executed)
        if (e.status & SCRIPT_REPLAYING) replayed.push_back(GSL_ScriptCommandGet(e.index).name);
    EXPECT_EQ(replayed, (std::vector<std::string>{"playse", "ws", "playbgm", "text"}));
}
