// The worker on the fake voice back end: passes run by hand, voices move only
// when the test advances them, fades read the manual clock.
#include <gtest/gtest.h>

#include <random>

#include "engine/core/cache.h"
#include "engine/core/thread.h"
#include "engine/files/archive.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/ui/screen_harness.h"

namespace sound_test {
namespace {

using namespace std::chrono_literals;

class SoundWorkerTest : public SoundEnv {
protected:
    // Plays path on ch and runs the start and the first playing visit.
    static void Started(int32_t ch, const char* path, int32_t repeat, int32_t fadeIn = 0, const char* pack = nullptr) {
        ASSERT_EQ(Lib_SoundPlay(ch, path, 0, repeat, fadeIn, 0, pack), ch);
        Pass();
        ASSERT_GE(Voice(ch), 0) << Log();
        ASSERT_EQ(State(ch), SOUND_STARTING);
        Pass();
        ASSERT_EQ(State(ch), SOUND_PLAYING);
    }
    static void ExpectReleased(int32_t ch) {
        EXPECT_EQ(State(ch), SOUND_IDLE);
        EXPECT_EQ(Flags(ch), 0);
        EXPECT_EQ(Voice(ch), -1);
        EXPECT_EQ(Ch(ch).owned, nullptr);
    }
};

TEST_F(SoundWorkerTest, RepeatsPlayFromTheStartThenRelease) {
    PutFile("user/sound/se/tone.wav", "tone.wav");
    uint64_t heapBefore = InUse(HEAP_FILE);
    for (int32_t repeat : {0, 1, 3}) {
        Started(3, "user/sound/se/tone.wav", repeat);
        FakeVoice v = Fake(3);
        EXPECT_FALSE(v.looping);
        ASSERT_EQ(v.data.size(), 4410u + 2);  // the samples and one frame of silence
        EXPECT_EQ(std::string(v.data.begin(), v.data.end() - 2), SoundBytes("tone.wav").substr(44));
        EXPECT_EQ(v.mB, 0);
        EXPECT_EQ(Ch(3).category, 3);
        for (int play = 2; play <= repeat; ++play) {
            PlayOut(3);
            Plat_VoiceSetPosition(Voice(3), 1234);  // wherever the buffer stopped
            Pass();
            EXPECT_EQ(Fake(3).plays, play);
            EXPECT_EQ(Fake(3).position, 0u);
        }
        PlayOut(3);
        Pass();
        ExpectReleased(3);
    }
    EXPECT_EQ(InUse(HEAP_FILE), heapBefore);
    EXPECT_EQ(FakeAudio::Get().created, FakeAudio::Get().destroyed);
}

TEST_F(SoundWorkerTest, LoopPointsFromTheTrailerCycleTheSound) {
    PutFile("user/sound/bgm/loop.wav", "loop.wav");
    PutFile("user/sound/bgm/tone.wav", "tone.wav");
    Started(0, "user/sound/bgm/loop.wav", -1);  // endless: loops between the points
    EXPECT_EQ(Ch(0).category, 1);
    EXPECT_TRUE(Fake(0).looping);
    EXPECT_EQ(Fake(0).loopStart, 2000u);  // frames * 2 bytes
    EXPECT_EQ(Fake(0).loopEnd, 6000u);
    Plat_VoiceSetPosition(Voice(0), 6500);  // at or past the loop end: sent back
    Pass();
    EXPECT_EQ(Fake(0).position, 2000u);

    Started(1, "user/sound/bgm/loop.wav", 2);  // also cycles: the count falls only at an end
    EXPECT_FALSE(Fake(1).looping);
    EXPECT_EQ(Fake(1).loopEnd, 6000u);
    for (int i = 0; i < 5; ++i) FakeAudio::Advance(Voice(1), 3000), Pass();
    EXPECT_EQ(State(1), SOUND_PLAYING);
    EXPECT_EQ(Ch(1).st.repeat.load(), 1);

    Started(2, "user/sound/bgm/tone.wav", -1);  // no trailer: the whole buffer loops
    EXPECT_TRUE(Fake(2).looping);
    EXPECT_EQ(Fake(2).loopEnd, 0u);
}

TEST_F(SoundWorkerTest, FadesRunOnTheClock) {
    EXPECT_EQ(Lib_SoundGainToMb(1.0f), 0);
    EXPECT_EQ(Lib_SoundGainToMb(0.5f), -602);
    EXPECT_EQ(Lib_SoundGainToMb(0.25f), -1204);
    EXPECT_EQ(Lib_SoundGainToMb(0.000001f), -10000);
    EXPECT_EQ(Lib_SoundGainToMb(0.0f), -10000);

    PutFile("user/sound/bgm/tone.wav", "tone.wav");
    Started(0, "user/sound/bgm/tone.wav", -1);
    Lib_SoundStop(0, 60);
    AdvanceMs(500);
    Pass();
    EXPECT_FLOAT_EQ(Gain(0), 0.5f);
    EXPECT_EQ(Fake(0).mB, -602);
    Lib_SoundVolumeSet(0, 80.0f);  // does not alter the running fade
    AdvanceMs(500);
    Pass();
    EXPECT_EQ(Gain(0), 0.0f);
    EXPECT_EQ(Fake(0).mB, -10000);
    Pass();
    EXPECT_EQ(State(0), SOUND_STOPPED);
    EXPECT_FALSE(Fake(0).playing);
    Pass();
    ExpectReleased(0);

    Lib_SoundVolumeSet(1, 100.0f);
    Started(1, "user/sound/bgm/tone.wav", -1, 60);
    EXPECT_EQ(Fake(1).mB, -10000);
    AdvanceMs(250);
    Pass();
    EXPECT_FLOAT_EQ(Gain(1), 0.25f);
    AdvanceMs(1000);
    Pass();
    EXPECT_EQ(Gain(1), 1.0f);
    EXPECT_EQ(Ch(1).st.fadeInFrames.load(), 0u);
}

TEST_F(SoundWorkerTest, PlayCutsAPlayingChannelAndStopBeforeStartIsTakenUp) {
    PutFile("user/sound/se/tone.wav", "tone.wav");
    PutFile("user/sound/se/stereo.wav", "stereo.wav");
    Lib_SoundVolumeSet(4, 50.0f);
    Started(4, "user/sound/se/tone.wav", -1);
    EXPECT_EQ(Fake(4).mB, -602);
    Lib_SoundPlay(4, "user/sound/se/stereo.wav", 0, 0, 0, 0, nullptr);
    Pass();
    EXPECT_EQ(State(4), SOUND_STOPPED);  // cut without a fade
    Pass();
    EXPECT_EQ(State(4), SOUND_STARTING);
    EXPECT_EQ(Fake(4).format.channels, 2);
    EXPECT_EQ(Fake(4).mB, -602);  // the channel keeps its volume
    EXPECT_EQ(FakeAudio::Get().destroyed, 1);

    Lib_SoundPlay(6, "user/sound/se/tone.wav", 0, 0, 0, 0, nullptr);
    Lib_SoundStop(6, 10);  // before the start: the start clears it
    Pass(2);
    EXPECT_EQ(State(6), SOUND_PLAYING);
    Lib_SoundPlay(7, "user/sound/se/tone.wav", 0, 0, 0, 0, nullptr);
    Pass();
    PlayOut(7);  // ended before any visit saw it play: released all the same
    Pass();
    ExpectReleased(7);
}

TEST_F(SoundWorkerTest, PauseRightAfterPlayHoldsSilentlyAtStateOne) {
    PutFile("user/sound/se/tone.wav", "tone.wav");
    Lib_SoundPlay(5, "user/sound/se/tone.wav", 0, 0, 0, 0, nullptr);
    Ch(5).st.pause |= SOUND_PAUSE_REQUEST;
    Pass(4);
    EXPECT_EQ(State(5), SOUND_PAUSED);
    EXPECT_EQ(Fake(5).plays, 0);  // never heard
    EXPECT_EQ(Fake(5).mB, -10000);
    Ch(5).st.pause &= uint8_t(~SOUND_PAUSE_REQUEST);
    Pass();
    EXPECT_EQ(State(5), SOUND_PLAYING);
    EXPECT_TRUE(Fake(5).playing);
    EXPECT_EQ(Fake(5).mB, 0);

    FakeAudio::Advance(Voice(5), 1000);  // a pause while playing keeps the position
    Ch(5).st.pause |= SOUND_PAUSE_REQUEST;
    Pass(2);
    EXPECT_EQ(State(5), SOUND_PAUSED);
    EXPECT_FALSE(Fake(5).playing);
    Ch(5).st.pause &= uint8_t(~SOUND_PAUSE_REQUEST);
    Pass();
    EXPECT_TRUE(Fake(5).playing);
    EXPECT_EQ(Fake(5).position, 1000u);
    Ch(5).st.pause |= SOUND_PAUSE_REQUEST;
    Pass();
    Lib_SoundStop(5, 10);  // a stop while paused: stopped, then released
    Pass();
    EXPECT_EQ(State(5), SOUND_STOPPED);
    Pass();
    ExpectReleased(5);
}

TEST_F(SoundWorkerTest, VoiceLevelFollowsThePlayedFrames) {
    PutFile("user/sound/voice/v.wav", "tone.wav");
    Started(11, "user/sound/voice/v.wav", 0);
    EXPECT_EQ(Ch(11).category, 2);
    EXPECT_NEAR(Ch(11).levelReference, 16384.0f, 50.0f);
    FakeAudio::Advance(Voice(11), 200);  // two periods of the 441 Hz tone
    Pass();
    EXPECT_NEAR(Ch(11).st.voiceLevel.load(), 100.0f, 0.5f);
    Lib_SoundVolumeSet(11, 50.0f);
    FakeAudio::Advance(Voice(11), 200);
    Pass();
    EXPECT_NEAR(Ch(11).st.voiceLevelAtGain.load(), 50.0f, 0.5f);
}

// The sample game's sounds from its archive: the title track loops between
// its trailer's points; the system pack serves members from the named cache.
TEST_F(SoundWorkerTest, SampleGameSoundsPlay) {
    ASSERT_TRUE(LinkSampleData("."));
    Lib_PcArcOpen();
    Started(0, "sound/bgm/quillmere.oggl", -1);
    EXPECT_EQ(Fake(0).format.channels, 2);
    EXPECT_EQ(Fake(0).format.rate, 44100u);
    EXPECT_EQ(Fake(0).loopStart, 88200u * 4);
    EXPECT_EQ(Fake(0).loopEnd, 441000u * 4);
    char pack[] = "sound/se_system/se_sys.arc";
    void* data = nullptr;
    ASSERT_TRUE(Lib_FileLoad(kFileTypeCache, pack, &data, nullptr, 256, true));
    Started(19, "ENTER.wav", 0, 0, "Sound/SE_System/se_sys.arc");
    EXPECT_EQ(Ch(19).category, 0);
    EXPECT_EQ(Ch(19).owned, nullptr);
    Started(20, "error.wav", 0, 0, pack);  // an 18-byte format chunk
    Started(11, "sound/voice/v_0001.wav", 0);
    Started(22, "sound/voice_system/sysv_title.wav", 0);
    EXPECT_EQ(Ch(22).category, 2);
    Started(3, "sound/se/se_chime.ogg", 0);
    Started(12, "sound/voice/v_0002.ogg", 0);
    EXPECT_EQ(Log(), "");
    Lib_SoundPlay(21, "sys_missing.wav", 0, 0, 0, 0, pack);
    Lib_SoundPlay(18, "sys_decide.wav", 0, 0, 0, 0, "sound/se_system/other.arc");
    Pass();
    ExpectReleased(21);
    ExpectReleased(18);
    EXPECT_NE(Log().find("Error -> Lib_ArcGetData(sys_missing.wav)\n"), std::string::npos);
}

// Requests made while the worker releases a channel or loads the sound it
// starts are kept: a pass on another thread is held inside a device call
// while this thread makes the request.
TEST_F(SoundWorkerTest, RequestsMadeWhileTheWorkerHoldsAChannelAreKept) {
    PutFile("user/s/a.wav", "tone.wav");
    PutFile("user/s/b.wav", "stereo.wav");
    std::atomic<bool> entered{false}, made{false};
    // The worker stays inside the device call up to 50 ms, or until the
    // request is made: a request that waits for the channel's lock is made
    // once the hold ends, which is no failure.
    auto hold = [&] {
        entered = true;
        for (int i = 0; i < 50 && !made; ++i) std::this_thread::sleep_for(1ms);
    };
    auto passDuring = [&](std::function<void()>& hook, const std::function<void()>& request) {
        entered = made = false;
        hook = hold;
        std::thread worker([] { Pass(); });
        WorkerUntil([&] { return entered.load(); }, {}, "the worker's pass");
        request();
        made = true;
        worker.join();
        hook = nullptr;
    };
    FakeAudio& fa = FakeAudio::Get();
    Started(0, "user/s/a.wav", -1);
    Lib_SoundStop(0, 1);
    AdvanceMs(100);
    Pass(2);
    ASSERT_EQ(State(0), SOUND_STOPPED);
    passDuring(fa.onDestroy, [] { Lib_SoundPlay(0, "user/s/b.wav", 0, -1, 0, 0, nullptr); });
    Pass(2);
    EXPECT_EQ(State(0), SOUND_PLAYING);
    EXPECT_EQ(Fake(0).format.channels, 2);

    Lib_SoundPlay(1, "user/s/a.wav", 0, -1, 0, 0, nullptr);  // the newer play wins
    passDuring(fa.onCreate, [] { Lib_SoundPlay(1, "user/s/b.wav", 0, -1, 0, 0, nullptr); });
    Pass(2);
    EXPECT_EQ(State(1), SOUND_PLAYING);
    EXPECT_EQ(Fake(1).format.channels, 2);

    Lib_SoundPlay(2, "user/s/a.wav", 0, -1, 0, 0, nullptr);  // a stop during the load fades it out
    passDuring(fa.onCreate, [] { Lib_SoundStop(2, 1); });
    AdvanceMs(100);
    Pass(3);
    ExpectReleased(2);
}

// A pass says whether the channels need the next one in a millisecond: a
// sound that can end, fade, loop by the visits or be measured does; empty
// channels, a held sound and one the device loops unchanged do not, as they
// change only through requests.
TEST_F(SoundWorkerTest, APassSaysWhetherTheChannelsNeedTheNext) {
    PutFile("user/sound/bgm/loop.wav", "loop.wav");
    PutFile("user/s/tone.wav", "tone.wav");
    PutFile("user/voice/v.wav", "tone.wav");
    EXPECT_FALSE(Lib_SoundWorkPass());
    Started(0, "user/sound/bgm/loop.wav", -1);
    EXPECT_FALSE(Lib_SoundWorkPass());
    Lib_SoundVolumeSet(0, 50);  // a volume is taken up at the next pass, which needs no other
    EXPECT_FALSE(Lib_SoundWorkPass());
    EXPECT_EQ(Fake(0).mB, Lib_SoundGainToMb(0.5f));
    Lib_SoundPauseSet(Ch(0), true);
    EXPECT_FALSE(Lib_SoundWorkPass());
    EXPECT_EQ(State(0), SOUND_PAUSED);
    EXPECT_FALSE(Fake(0).playing);
    Lib_SoundPauseSet(Ch(0), false);
    EXPECT_FALSE(Lib_SoundWorkPass());
    EXPECT_TRUE(Fake(0).playing);
    Lib_SoundStop(0, 4);  // the fade-out runs on the visits
    EXPECT_TRUE(Lib_SoundWorkPass());
    AdvanceMs(100);
    Pass(3);
    ExpectReleased(0);
    EXPECT_FALSE(Lib_SoundWorkPass());

    ASSERT_EQ(Lib_SoundPlay(1, "user/sound/bgm/loop.wav", 0, -1, 30, 0, nullptr), 1);  // fading in
    Pass(2);
    EXPECT_TRUE(Lib_SoundWorkPass());
    AdvanceMs(1000);
    Pass();
    EXPECT_FALSE(Lib_SoundWorkPass());
    Lib_SoundStop(1, 0);

    Started(2, "user/s/tone.wav", 0);  // ends by itself
    EXPECT_TRUE(Lib_SoundWorkPass());
    Started(3, "user/voice/v.wav", -1);  // its level is measured
    Lib_SoundStop(2, 0);
    AdvanceMs(100);
    Pass(3);
    EXPECT_TRUE(Lib_SoundWorkPass());
}

// With only a sound the device loops, the running worker rests instead of
// passing every millisecond, and still answers every request at once.
TEST_F(SoundWorkerTest, TheRunningWorkerRestsAndAnswersRequests) {
    PutFile("user/sound/bgm/loop.wav", "loop.wav");
    SoundThreadSlot = Lib_ThreadSet("soundWorkThread", soundWorkThread, THREAD_PRIORITY_ABOVE_NORMAL);
    ASSERT_GE(SoundThreadSlot, 0);
    Lib_ThreadStart(SoundThreadSlot);
    auto until = [](const std::function<bool()>& done) { return WorkerUntil(done, {}, "the worker's answer") >= 0; };
    auto playing = [] {
        std::lock_guard<std::mutex> hold(Ch(0).lock);
        return State(0) == SOUND_PLAYING && Fake(0).playing;
    };
    ASSERT_EQ(Lib_SoundPlay(0, "user/sound/bgm/loop.wav", 0, -1, 0, 0, nullptr), 0);
    ASSERT_TRUE(until(playing));
    FakeAudio& fa = FakeAudio::Get();
    std::this_thread::sleep_for(20ms);
    // A rest lasts 20 ms unless a request wakes it, and none comes here; a pass a
    // millisecond would ask 10 times in 10 ms. Counted against the span as it came.
    const auto from = std::chrono::steady_clock::now();
    const int polls = fa.polls;
    std::this_thread::sleep_for(200ms);
    const int asked = fa.polls - polls;
    const auto ms = (std::chrono::steady_clock::now() - from) / 1ms;
    EXPECT_LT(asked * 10, 3 * ms + 20) << asked << " in " << ms << " ms";
    Lib_SoundVolumeSet(0, 25);
    EXPECT_TRUE(until([] { return Fake(0).mB == Lib_SoundGainToMb(0.25f); }));
    Lib_SoundPauseSet(Ch(0), true);
    EXPECT_TRUE(until([] { return State(0) == SOUND_PAUSED && !Fake(0).playing; }));
    Lib_SoundPauseSet(Ch(0), false);
    EXPECT_TRUE(until(playing));
    Lib_SoundStop(0, 2);
    g_nowUs += 100000;
    EXPECT_TRUE(until([] {
        std::lock_guard<std::mutex> hold(Ch(0).lock);
        return State(0) == SOUND_IDLE && Voice(0) == -1;
    }));
    Lib_SoundEnd();
    EXPECT_EQ(SoundThreadSlot, -1);
}

// Bursts of play and stop requests against the running worker: each channel
// must end as its last request says.
TEST_F(SoundWorkerTest, NoRequestIsLostAgainstTheRunningWorker) {
    PutFile("user/s/a.wav", "tone.wav");
    PutFile("user/s/b.wav", "stereo.wav");
    FakeAudio::Get().delayUs = 500;  // a slow device widens the worker's release
    SoundThreadSlot = Lib_ThreadSet("soundWorkThread", soundWorkThread, THREAD_PRIORITY_ABOVE_NORMAL);
    ASSERT_GE(SoundThreadSlot, 0);
    Lib_ThreadStart(SoundThreadSlot);
    std::mt19937 rng(8);
    // Per channel: the sound it must end with (0 none, else its channel
    // count), the last one requested, and whether the last stop came while a
    // play was pending (the start takes such a stop up: either end is right).
    int expect[2] = {}, lastPlay[2] = {};
    bool either[2] = {};
    auto playing = [](int32_t ch, int kind) {
        return State(ch) == SOUND_PLAYING && Flags(ch) == (SOUND_IN_USE | SOUND_STARTED) &&
               Fake(ch).format.channels == kind && Fake(ch).playing;
    };
    for (int round = 0; round < 60; ++round) {
        for (int op = 0; op < 12; ++op) {
            int32_t ch = int32_t(rng() % 2);
            int kind = int(rng() % 3);
            if (kind == 0) {
                either[ch] = Flags(ch) & SOUND_START_REQUEST;
                Lib_SoundStop(ch, 1);
                expect[ch] = 0;
            } else {
                Lib_SoundPlay(ch, kind == 1 ? "user/s/a.wav" : "user/s/b.wav", 0, -1, 0, 0, nullptr);
                expect[ch] = lastPlay[ch] = kind;
                either[ch] = false;
            }
            g_nowUs += 100000;  // a stop's fade ends at the next visit
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1500));
        }
        for (int32_t ch = 0; ch < 2; ++ch) {
            auto settled = [&] {
                std::lock_guard<std::mutex> hold(Ch(ch).lock);
                if (expect[ch]) return playing(ch, expect[ch]);
                return (State(ch) == SOUND_IDLE && Flags(ch) == 0) || (either[ch] && playing(ch, lastPlay[ch]));
            };
            ASSERT_GE(WorkerUntil(settled, {}, "the channel settled"), 0)
                << "round " << round << " channel " << ch << " state " << State(ch);
            expect[ch] = State(ch) == SOUND_PLAYING ? lastPlay[ch] : 0;
        }
    }
    Lib_SoundEnd();
    EXPECT_EQ(SoundThreadSlot, -1);
    EXPECT_EQ(FakeAudio::Get().created, FakeAudio::Get().destroyed);
}

}  // namespace
}  // namespace sound_test
