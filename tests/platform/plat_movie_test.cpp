// The FFmpeg player on movies made by the ffmpeg tool: whole decodes, real-time
// playing against the sound clock (the mixer on SDL's dummy device) and the
// monotonic clock, pause and resume, the close, and files that are no movie.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <thread>
#include <utility>

#include "platform/plat_audio.h"
#include "platform/plat_movie.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/platform/movie_files.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_ready{0}, g_ended{0};

void CountEvents(uint64_t cookie, int32_t event) {
    EXPECT_EQ(cookie, 77u);
    (event == PLAT_MOVIE_EV_READY ? g_ready : g_ended).fetch_add(1);
}

// Waits for the player's thread to report an event.
bool WaitFor(const std::atomic<int>& counter, const char* what) {
    return WorkerUntil([&counter] { return counter.load() != 0; }, {}, what) >= 0;
}

// The threads of the process: a player's thread counts while it runs.
size_t Threads() {
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                std::filesystem::directory_iterator()));
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A player's clock that stands where the test sets it. Each read (on the
// player's thread, between its steps) first looks at the position the step
// before left: the clock as the read before gave it, less the clock at the
// start and the time the movie stood paused (`origin`).
struct DrivenClock {
    std::atomic<uint64_t> now{0}, origin{0}, reads{0}, pausedReads{0};
    std::atomic<int32_t> movie{-1};
    int32_t open = -1;     // the test thread's, closed by the fixture on a failure
    int64_t expected = 0;  // the player's thread's
    std::atomic<int64_t> wrongAt{-1}, wrong{0}, wanted{0};
};
DrivenClock g_driven;

uint64_t DrivenNow() {
    DrivenClock& c = g_driven;
    const int32_t m = c.movie.load();
    const int64_t seen = m >= 0 ? Plat_MoviePositionUs(m) : c.expected;
    if (seen != c.expected && c.wrongAt.load() < 0)
        c.wrong = seen, c.wanted = c.expected, c.wrongAt = int64_t(c.reads.load());
    const uint64_t now = c.now.load();
    c.expected = int64_t(now - c.origin.load());
    if (m >= 0 && Plat_MovieGetState(m) == PLAT_MOVIE_PAUSED) c.pausedReads.fetch_add(1);
    c.reads.fetch_add(1);
    return now;
}

// Closes the player on the driven clock, before the clock goes.
bool CloseDriven() {
    g_driven.movie = -1;
    const int32_t m = std::exchange(g_driven.open, -1);
    return m < 0 || Plat_MovieClose(m, kPlatMovieCloseWaitMs);
}

// Sets the driven clock and waits for three of the player's steps at it, or the end.
bool DriveTo(uint64_t now) {
    g_driven.now = now;
    const uint64_t reads = g_driven.reads.load();
    return WorkerUntil([reads] { return g_driven.reads.load() >= reads + 3 || g_ended.load() != 0; }, {},
                       "the player's steps") >= 0;
}

class PlatMovieTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_ready = 0;
        g_ended = 0;
        Plat_MovieSetBackend(nullptr);
    }
    void TearDown() override {
        CloseDriven();
        Plat_AudioClose();
        Plat_MovieSetClock(nullptr);
    }
};

TEST_F(PlatMovieTest, DecodesEveryPictureAndTheWholeSound) {
    REQUIRE_FFMPEG();
    struct Case {
        const char* name;
        const char* size;
        const char* video;
    } cases[] = {{"mjpeg.avi", "320x240", "-c:v mjpeg -q:v 5"}, {"mpeg4.avi", "1280x720", "-c:v mpeg4 -q:v 6"}};
    for (const Case& c : cases) {
        std::vector<uint8_t> file = MakeMovie(c.name, c.size, 1.5, c.video);
        ASSERT_FALSE(file.empty()) << c.name;
        PlatMovieStats stats{};
        ASSERT_TRUE(Plat_MovieDecodeAll(file.data(), uint32_t(file.size()), 1, &stats)) << c.name;
        EXPECT_EQ(stats.pictures, 45u) << c.name;
        EXPECT_EQ(stats.converted, 45u) << c.name;
        EXPECT_NEAR(double(stats.soundFrames), 1.5 * 48000, 2048) << c.name;
        EXPECT_NEAR(double(stats.durationUs), 1.5e6, 0.1e6) << c.name;
    }
}

// Zero bytes, noise, a RIFF header over noise, a file cut short: no player,
// or one that ends by itself; never a crash or a sanitizer report.
TEST_F(PlatMovieTest, FilesThatAreNoMovieFailCleanly) {
    uint8_t one = 0;
    EXPECT_EQ(Plat_MovieOpen(&one, 0, 0, CountEvents, 77), -1);
    EXPECT_EQ(Plat_MovieOpen(nullptr, 100, 0, CountEvents, 77), -1);
    EXPECT_FALSE(Plat_MovieDecodeAll(&one, 0, 1, nullptr));

    std::mt19937 rng(9);
    std::vector<uint8_t> noise(64 * 1024);
    for (uint8_t& b : noise) b = uint8_t(rng());
    EXPECT_EQ(Plat_MovieOpen(noise.data(), uint32_t(noise.size()), 0, CountEvents, 77), -1);
    EXPECT_FALSE(Plat_MovieDecodeAll(noise.data(), uint32_t(noise.size()), 1, nullptr));
    std::memcpy(noise.data(), "RIFF\x00\x00\x01\x00" "AVI LIST", 16);
    EXPECT_FALSE(Plat_MovieDecodeAll(noise.data(), uint32_t(noise.size()), 1, nullptr));

    // The cut files are made by the ffmpeg tool; without it that half is skipped, and says so.
    REQUIRE_FFMPEG();
    std::vector<uint8_t> file = MakeMovie("cut.avi", "160x120", 1.0, "-c:v mjpeg");
    ASSERT_FALSE(file.empty());
    for (size_t keep : {size_t(12), file.size() / 3, file.size() - 7}) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + ptrdiff_t(keep));
        Plat_MovieDecodeAll(cut.data(), uint32_t(cut.size()), 1, nullptr);
        g_ended = 0;
        int32_t m = Plat_MovieOpen(cut.data(), uint32_t(cut.size()), 0, CountEvents, 77);
        if (m < 0) continue;
        Plat_MovieStart(m);
        EXPECT_TRUE(WaitFor(g_ended, "the end")) << keep;
        EXPECT_TRUE(Plat_MovieClose(m, kPlatMovieCloseWaitMs));
    }
}

// Real time, with the mixer on SDL's dummy device (the voice's position is
// the clock) and with no device (the monotonic clock): a pause holds the
// position and the picture, the movie then lasts as long as it says plus the
// pause, and the close is quick. A close that gives up at once leaves the
// player to its thread, which frees it (the sanitizers watch that path). On a
// clock the test drives, the position is the clock after every step.
TEST_F(PlatMovieTest, PlaysInRealTimePausesAndCloses) {
    REQUIRE_FFMPEG();
    std::vector<uint8_t> file = MakeMovie("play.avi", "320x240", 1.5, "-c:v mjpeg -q:v 5");
    ASSERT_FALSE(file.empty());
    for (bool device : {true, false}) {
        SCOPED_TRACE(device ? "sound clock" : "monotonic clock");
        if (device) {
            ASSERT_TRUE(Plat_AudioOpen()) << "SDL's dummy audio device";
        }
        g_ready = g_ended = 0;
        int32_t m = Plat_MovieOpen(file.data(), uint32_t(file.size()), 0, CountEvents, 77);
        ASSERT_GE(m, 0);
        ASSERT_TRUE(WaitFor(g_ready, "the player ready"));
        // Every look at the position while it plays: it never goes back.
        int64_t last = 0, backFrom = 0, backTo = 0;
        auto position = [&] {
            const int64_t now = Plat_MoviePositionUs(m);
            if (now < last && backFrom == 0) backFrom = last, backTo = now;
            return last = std::max(last, now);
        };
        auto start = Clock::now();
        ASSERT_TRUE(Plat_MovieStart(m));
        ASSERT_GE(WorkerUntil([&] { return position() > 250000; }, {}, "a quarter second played"), 0);
        ASSERT_TRUE(Plat_MoviePause(m));
        EXPECT_EQ(Plat_MovieGetState(m), PLAT_MOVIE_PAUSED);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        const int64_t held = Plat_MoviePositionUs(m);
        EXPECT_GE(held, last);
        PlatMovieFrame f;
        ASSERT_TRUE(Plat_MovieLockFrame(m, &f));
        EXPECT_EQ(f.width, 320);
        EXPECT_EQ(f.height, 240);
        EXPECT_NEAR(f.aspect, 4.0f / 3.0f, 1e-3);
        // The tool's Motion JPEG of an RGB source is 4:4:4, which is converted.
        EXPECT_EQ(f.format, PLAT_MOVIE_BGRA);
        EXPECT_NE(f.planes[0], nullptr);
        EXPECT_GE(f.strides[0], 320u * 4);
        const uint64_t serial = f.serial;
        Plat_MovieUnlockFrame(m);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(Plat_MoviePositionUs(m), held);
        ASSERT_TRUE(Plat_MovieLockFrame(m, &f));
        EXPECT_EQ(f.serial, serial);
        Plat_MovieUnlockFrame(m);

        ASSERT_TRUE(Plat_MovieStart(m));
        EXPECT_GE(WorkerUntil([&] { position(); return g_ended.load() != 0; }, {}, "the end"), 0);
        EXPECT_EQ(backFrom, 0) << "the position went back to " << backTo;
        // Paced by its clock, the play cannot end before the movie's length
        // and the pause have passed (SDL's dummy device paces its callbacks by
        // sleeping, so its clock may run a little fast against the monotonic
        // one). How late it ends depends on the machine's load: no bound.
        EXPECT_GE(Seconds(start), 1.5 * 0.85 + 0.4);
        EXPECT_EQ(Plat_MovieGetState(m), PLAT_MOVIE_ENDED);
        ASSERT_TRUE(Plat_MovieLockFrame(m, &f));  // the reader holds a picture through the close
        EXPECT_GT(f.serial, serial);
        EXPECT_TRUE(Plat_MovieClose(m, kPlatMovieCloseWaitMs));
        EXPECT_EQ(Plat_MovieGetState(m), PLAT_MOVIE_CLOSED);
        EXPECT_FALSE(Plat_MovieStart(m));

        const size_t threads = Threads();
        m = Plat_MovieOpen(file.data(), uint32_t(file.size()), 0, CountEvents, 77);
        ASSERT_GE(m, 0);
        Plat_MovieStart(m);
        Plat_MovieClose(m, 0);
        // Left to its thread, the player is freed (its voice with it) before
        // the sound device goes.
        ASSERT_GE(WorkerUntil([threads] { return Threads() <= threads; }, {}, "the closed player's thread's end"), 0);
        Plat_AudioClose();
    }

    // On a clock the test steps (10 ms a step, off the pictures' 1/30 s),
    // every step of the player leaves the clock as its position, whatever
    // picture it published; a pause holds it while the clock runs on.
    SCOPED_TRACE("driven clock");
    g_driven.now = g_driven.origin = 1000000;
    g_driven.expected = 0;
    g_driven.wrongAt = -1;
    Plat_MovieSetClock(DrivenNow);
    g_ready = g_ended = 0;
    const int32_t m = g_driven.open = Plat_MovieOpen(file.data(), uint32_t(file.size()), 0, CountEvents, 77);
    ASSERT_GE(m, 0);
    ASSERT_TRUE(WaitFor(g_ready, "the player ready"));
    g_driven.movie = m;
    ASSERT_TRUE(Plat_MovieStart(m));
    // The start reads the clock where the movie begins.
    for (uint64_t t = 0; t <= 300000; t += 10000) ASSERT_TRUE(DriveTo(1000000 + t));
    g_driven.pausedReads = 0;
    ASSERT_TRUE(Plat_MoviePause(m));
    ASSERT_GE(WorkerUntil([] { return g_driven.pausedReads.load() > 0; }, {}, "the pause taken"), 0);
    EXPECT_EQ(Plat_MoviePositionUs(m), 300000);
    g_driven.origin = 1400000;  // no step reads the clock while paused
    g_driven.now = 1700000;
    ASSERT_TRUE(Plat_MovieStart(m));
    ASSERT_TRUE(DriveTo(1700000));
    EXPECT_EQ(Plat_MoviePositionUs(m), 300000);
    for (uint64_t t = 1750000; g_ended.load() == 0 && t < 4000000; t += 50000) ASSERT_TRUE(DriveTo(t));
    EXPECT_TRUE(WaitFor(g_ended, "the end"));
    EXPECT_EQ(g_driven.wrongAt.load(), -1) << "at read " << g_driven.wrongAt.load() << " the position was "
                                           << g_driven.wrong.load() << ", not " << g_driven.wanted.load();
    EXPECT_TRUE(CloseDriven());
}

}  // namespace
