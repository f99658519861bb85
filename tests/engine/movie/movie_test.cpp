// The movie state machine, frame by frame, with a fake player (the frame
// timing of the states, the file request, the volume rule, stale events),
// and the real player through it into the headless window.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_movie.h"
#include "platform/plat_msg.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/render/gl_fixture.h"
#include "tests/platform/movie_files.h"
#include "tests/ui/screen_harness.h"

namespace {

constexpr int32_t kFakeMovie = 2;
// The colour bars' RGB, and as the ffmpeg tool spells them.
constexpr uint8_t kBars[4][3] = {{200, 40, 40}, {40, 180, 60}, {30, 60, 200}, {230, 220, 120}};
constexpr const char* kBarHex[4] = {"0xC82828", "0x28B43C", "0x1E3CC8", "0xE6DC78"};

// The fake player logs its calls: "open", "start", "pause", "stop", "close"
// and "volume 0.50".
struct FakePlayer {
    std::vector<std::string> log;
    std::string data;  // what the open was given
    float volume;
    PlatMovieNotify notify;
    uint64_t cookie;
} g_fake;

int Calls(const char* what) { return int(std::count(g_fake.log.begin(), g_fake.log.end(), what)); }
std::vector<std::string> Tail(size_t n) {
    return {g_fake.log.end() - ptrdiff_t(std::min(n, g_fake.log.size())), g_fake.log.end()};
}
bool Log(const char* what, int32_t m) {
    g_fake.log.push_back(what);
    return m == kFakeMovie;
}
int32_t FakeOpen(const void* data, uint32_t size, uint32_t, PlatMovieNotify notify, uint64_t cookie) {
    g_fake.log.push_back("open");
    if (!data || size == 0) return -1;
    g_fake.data.assign(static_cast<const char*>(data), size);
    g_fake.notify = notify;
    g_fake.cookie = cookie;
    g_fake.volume = 1.0f;
    return kFakeMovie;
}
bool FakeStart(int32_t m) { return Log("start", m); }
bool FakePause(int32_t m) { return Log("pause", m); }
bool FakeStop(int32_t m) { return Log("stop", m); }
bool FakeClose(int32_t m, uint32_t timeoutMs) { return Log(timeoutMs == 5000 ? "close" : "close early", m); }
bool FakeGetVolume(int32_t, float* gain) { return *gain = g_fake.volume, true; }
bool FakeSetVolume(int32_t, float gain) {
    char text[32];
    std::snprintf(text, sizeof text, "volume %.2f", gain);
    g_fake.volume = gain;
    return Log(text, kFakeMovie);
}
bool FakeLockFrame(int32_t, PlatMovieFrame*) { return false; }
void FakeUnlockFrame(int32_t) {}
const PlatMovieBackend kFake = {FakeOpen,      FakeStart,     FakePause,     FakeStop,       FakeClose,
                                FakeGetVolume, FakeSetVolume, FakeLockFrame, FakeUnlockFrame};

bool g_minimised = false, g_foreground = true;
bool Minimised() { return g_minimised; }
bool Foreground() { return g_foreground; }
const MovieWindowOps kWindow = {Minimised, Foreground};

// Small heaps, no requests, free sprite records, an empty queue.
void StartMovieModule() {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {4 * mib, 16 * mib, 2 * mib, 2 * mib, 4 * mib};
    ASSERT_TRUE(Lib_MemInit(sizes));
    for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
    FileLoadTable.pending = 0;
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
    Plat_GameMsgClear();
    Lib_MovieInit();
    g_minimised = false;
    g_foreground = true;
    Lib_MovieWindowOpsSet(&kWindow);
    Main_RunStateReset();
}

void EndMovieModule() {
    Lib_MovieStop();
    MovieState = MOVIE_IDLE;
    Lib_MovieWindowOpsSet(nullptr);
    Plat_MovieSetBackend(nullptr);
    Plat_GameMsgClear();
    Lib_MemRelease();
}

// One frame: the queued messages, then the movie upkeep.
void Frame() {
    while (kMainPassOps.takeMessage()) {
    }
    Lib_MovieUpdate();
}

// Serves the movie's request as the loader thread does.
void Serve(bool ok, const void* bytes, size_t n) {
    ASSERT_GE(MovieLoadSlot, 0);
    FileLoadRequest& r = FileLoadTable.slots[MovieLoadSlot];
    std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
    ASSERT_EQ(r.state.load(), 0);
    if (ok) {
        void* data = Lib_MemAlloc(int(r.type), n, r.align);
        ASSERT_NE(data, nullptr);
        std::memcpy(data, bytes, n);
        *r.result = data;
        *r.size = uint32_t(n);
    }
    r.state = ok ? 1 : -1;
    FileLoadTable.pending.fetch_sub(1);
}

int RequestsInUse() {
    int n = 0;
    for (const FileLoadRequest& r : FileLoadTable.slots) n += r.flags & 1;
    return n;
}

uint64_t FileHeapInUse() { return HeapTable.heaps[HEAP_FILE].bytesInUse; }

class MovieTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartMovieModule();
        g_fake = FakePlayer{};
        Plat_MovieSetBackend(&kFake);
        base_ = FileHeapInUse();
    }
    void TearDown() override { EndMovieModule(); }

    // A movie whose player has started.
    void StartPlaying() {
        Lib_MoviePlay("movie/movie1.avi", 9);
        Serve(true, "MOVIE", 5);
        Frame();
        g_fake.notify(g_fake.cookie, PLAT_MOVIE_EV_READY);
        Frame();
        ASSERT_EQ(Lib_MoviePlayerState(), PLAYER_STARTED);
        ASSERT_EQ(MovieState.load(), MOVIE_PLAYING);
    }
    void ExpectTornDown() {
        EXPECT_EQ(MovieState.load(), MOVIE_IDLE);
        EXPECT_EQ(MovieSpriteSlot.load(), -1);
        EXPECT_FALSE(Lib_MovieActive());
        EXPECT_EQ(MoviePlayer, nullptr);
        EXPECT_EQ(MovieData, nullptr);
        EXPECT_EQ(RequestsInUse(), 0);
        EXPECT_EQ(FileLoadTable.pending.load(), 0);
        EXPECT_EQ(FileHeapInUse(), base_);
        for (const SpriteRecord& s : SpriteTable) EXPECT_EQ(s.flags, 0);
    }
    uint64_t base_ = 0;
};

TEST_F(MovieTest, PlaysToItsEndWithTheFrameTimingOfTheStates) {
    Lib_MoviePlay("movie/movie1.avi", 9);
    const int32_t slot = MovieSpriteSlot;
    ASSERT_GE(slot, 0);
    EXPECT_EQ(MovieState.load(), MOVIE_WAITING_FILE);
    EXPECT_TRUE(Lib_MovieActive());
    EXPECT_EQ(SpriteTable[slot].priority, 9);
    const FileLoadRequest& r = FileLoadTable.slots[MovieLoadSlot];
    EXPECT_STREQ(r.name, "movie/movie1.avi");
    EXPECT_EQ(r.type, uint32_t(HEAP_FILE));
    EXPECT_EQ(r.align, 256u);

    // A second request while one is active changes nothing.
    Lib_MoviePlay("movie/other.avi", 5);
    EXPECT_EQ(MovieSpriteSlot.load(), slot);
    EXPECT_EQ(SpriteTable[slot].priority, 9);
    EXPECT_EQ(RequestsInUse(), 1);

    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_WAITING_FILE);
    EXPECT_EQ(Calls("open"), 0);
    Serve(true, "MOVIE", 5);
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_PLAYING);
    EXPECT_EQ(g_fake.data, "MOVIE");
    EXPECT_EQ(RequestsInUse(), 0);
    EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_OPEN_PENDING);
    EXPECT_EQ(Calls("start"), 0);
    g_fake.notify(g_fake.cookie, PLAT_MOVIE_EV_READY);
    Frame();
    EXPECT_EQ(Calls("start"), 1);
    EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_STARTED);

    // The end: state 1 on the next update, torn down on the one after.
    g_fake.notify(g_fake.cookie, PLAT_MOVIE_EV_ENDED);
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_STOP_REQUESTED);
    EXPECT_EQ(MovieSpriteSlot.load(), slot);
    EXPECT_EQ(Calls("close"), 0);
    Frame();
    ExpectTornDown();
    // The ended session is not stopped again; its volume returns to 1.0.
    EXPECT_EQ(Tail(2), (std::vector<std::string>{"volume 1.00", "close"}));
    EXPECT_EQ(Calls("stop"), 0);
    Frame();
    EXPECT_EQ(Calls("close"), 1);
}

// With every sprite record taken the movie stays inactive and requests
// nothing: no record is written.
TEST_F(MovieTest, NoFreeSpriteRecordLeavesTheMovieInactive) {
    for (SpriteRecord& s : SpriteTable) s.flags = SPRITE_IN_USE;
    Lib_MoviePlay("movie/movie1.avi", 9);
    EXPECT_EQ(MovieSpriteSlot.load(), -1);
    EXPECT_EQ(MovieState.load(), MOVIE_IDLE);
    EXPECT_EQ(RequestsInUse(), 0);
    for (const SpriteRecord& s : SpriteTable) ASSERT_EQ(s.priority, 0);
    Frame();
    EXPECT_EQ(Calls("open"), 0);
    for (SpriteRecord& s : SpriteTable) s.flags = 0;
}

// A failed load, a name the loader refuses (no terminator within 256 bytes)
// and no name all open over no data: the movie stays in state 3, black,
// until a stop is requested, and then goes like any other.
TEST_F(MovieTest, AFileThatFailsStaysPlayingAndBlackUntilStopped) {
    std::string longName = "movie/" + std::string(300, 'a') + ".avi";
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        g_fake = FakePlayer{};
        Lib_MoviePlay(kind == 0 ? "movie/missing.avi" : kind == 1 ? longName.c_str() : nullptr, 9);
        if (kind == 0)
            Serve(false, nullptr, 0);
        else
            EXPECT_EQ(MovieLoadSlot, -1);
        for (int i = 0; i < 5; ++i) Frame();
        EXPECT_EQ(Calls("open"), 1);
        EXPECT_EQ(MovieState.load(), MOVIE_PLAYING);
        EXPECT_TRUE(Lib_MovieActive());
        EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_CLOSED);
        MovieState = MOVIE_STOP_REQUESTED;
        Frame();
        ExpectTornDown();
        EXPECT_EQ(Calls("close"), 0);
    }
}

// A stop while the file loads: the request is withdrawn, or the data it
// delivered before the teardown is freed; a later movie inherits nothing.
TEST_F(MovieTest, AStopWhileLoadingReleasesTheRequestAndFreesLateData) {
    Lib_MoviePlay("movie/movie1.avi", 9);
    MovieState = MOVIE_STOP_REQUESTED;
    Frame();
    ExpectTornDown();
    Lib_FileLoadCB(nullptr);  // a loader pass finds nothing to serve
    EXPECT_EQ(MovieData, nullptr);

    Lib_MoviePlay("movie/movie1.avi", 9);
    MovieState = MOVIE_STOP_REQUESTED;
    std::vector<char> big(1 << 20, 'x');
    Serve(true, big.data(), big.size());
    EXPECT_GT(FileHeapInUse(), base_);
    Frame();
    ExpectTornDown();
    EXPECT_EQ(Calls("open"), 0);

    Lib_MoviePlay("movie/movie1.avi", 9);
    EXPECT_EQ(MovieData, nullptr);
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_WAITING_FILE);
}

// Focus lost mutes, focus back restores MovieVolume, minimised mutes; each
// change shows on the next frame; the stop stops, restores 1.0 and closes.
TEST_F(MovieTest, VolumeFollowsMovieVolumeFocusAndMinimising) {
    StartPlaying();
    struct Step {
        bool foreground, minimised;
        float movieVolume, heard;
    } steps[] = {{true, false, 0.5f, 0.5f}, {false, false, 0.5f, 0.0f}, {true, false, 0.5f, 0.5f},
                 {true, true, 0.5f, 0.0f},  {true, false, 0.8f, 0.8f}};
    for (const Step& step : steps) {
        g_foreground = step.foreground;
        g_minimised = step.minimised;
        MovieVolume = step.movieVolume;
        Frame();
        EXPECT_EQ(g_fake.volume, step.heard) << step.foreground << step.minimised << step.movieVolume;
    }
    size_t sets = g_fake.log.size();
    Frame();
    EXPECT_EQ(g_fake.log.size(), sets) << "an unchanged volume is not set again";

    MovieState = MOVIE_STOP_REQUESTED;
    Frame();
    ExpectTornDown();
    EXPECT_EQ(Tail(3), (std::vector<std::string>{"stop", "volume 1.00", "close"}));
    EXPECT_EQ(MovieVolume.load(), 0.8f);
}

// Pause and resume for the story screen; events of a player already
// released are dropped, with or without a new player.
TEST_F(MovieTest, PauseResumeAndStaleEvents) {
    StartPlaying();
    Lib_MoviePause();
    EXPECT_EQ(Calls("pause"), 1);
    EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_PAUSED);
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_PAUSED);
    Lib_MovieResume();
    EXPECT_EQ(Calls("start"), 2);
    EXPECT_EQ(MovieState.load(), MOVIE_PLAYING);
    EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_STARTED);

    const PlatMovieNotify oldNotify = g_fake.notify;
    const uint64_t oldCookie = g_fake.cookie;
    MovieState = MOVIE_STOP_REQUESTED;
    Frame();
    ExpectTornDown();
    oldNotify(oldCookie, PLAT_MOVIE_EV_ENDED);
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_IDLE);

    Lib_MoviePlay("movie/movie2.avi", 9);
    Serve(true, "NEXT", 4);
    Frame();
    ASSERT_NE(g_fake.cookie, oldCookie);
    oldNotify(oldCookie, PLAT_MOVIE_EV_READY);
    oldNotify(oldCookie, PLAT_MOVIE_EV_ENDED);
    Frame();
    Frame();
    EXPECT_EQ(Calls("start"), 2);
    EXPECT_EQ(Lib_MoviePlayerState(), PLAYER_OPEN_PENDING);
    EXPECT_EQ(MovieState.load(), MOVIE_PLAYING);
}

// --- the real player into the window --------------------------------------------

class MovieGlTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        StartMovieModule();
        started_ = true;
        ASSERT_TRUE(Lib_ResizeTarget(renderer(), kTestWindowWidth, kTestWindowHeight));
    }
    void TearDown() override {
        if (started_) EndMovieModule();
        GlTest::TearDown();
    }
    static bool Black(Bgra p) { return p.r < 8 && p.g < 8 && p.b < 8; }
    // Frames until the player shows its first picture, its worker decoding
    // in real time (serial 0: none, a hang).
    static PlatMovieFrame FirstFrame() {
        PlatMovieFrame f{};
        WorkerUntil([&f] {
            int32_t m = 0;
            while (m < kPlatMovieSlots && Plat_MovieGetState(m) == PLAT_MOVIE_CLOSED) ++m;
            if (Lib_MoviePlayerState() == PLAYER_STARTED && Plat_MovieLockFrame(m, &f)) Plat_MovieUnlockFrame(m);
            return f.serial != 0;
        }, Frame, "the movie's first picture");
        return f;
    }
    bool started_ = false;
};

// A 4:3 movie in the 16:9 window: the picture between black bars while it
// plays; the stop closes the player well within its 5000 ms. A file that is
// no movie leaves the window black.
TEST_F(MovieGlTest, ShowsTheMovieInTheWindowKeepingItsAspect) {
    REQUIRE_FFMPEG();
    std::vector<uint8_t> file = MakeMovie("window.avi", "320x240", 2.0, "-c:v mjpeg -q:v 3");
    ASSERT_FALSE(file.empty());
    Lib_MoviePlay("movie/window.avi", 9);
    Serve(true, file.data(), file.size());
    ASSERT_NE(FirstFrame().serial, uint64_t(0));
    ASSERT_EQ(Lib_MoviePlayerState(), PLAYER_STARTED);
    Lib_MoviePaint();
    Image w = ReadFramebuffer(0, kTestWindowWidth, kTestWindowHeight);
    // The picture is 1440×1080 from x = 240.
    for (uint32_t y : {10u, 540u, 1070u}) {
        EXPECT_TRUE(Black(w.at(100, y))) << w.at(100, y);
        EXPECT_TRUE(Black(w.at(1820, y))) << w.at(1820, y);
    }
    size_t lit = 0, seen = 0;
    for (uint32_t y = 20; y < 1060; y += 40)
        for (uint32_t x = 260; x < 1660; x += 40, ++seen) lit += !Black(w.at(x, y));
    EXPECT_GT(lit, seen * 3 / 4);

    MovieState = MOVIE_STOP_REQUESTED;
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_IDLE);

    // A file that is no movie: black until stopped.
    const char garbage[] = "RIFF....AVI LIST this is no movie";
    Lib_MoviePlay("movie/garbage.avi", 9);
    Serve(true, garbage, sizeof garbage);
    Frame();
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_PLAYING);
    Lib_MoviePaint();
    w = ReadFramebuffer(0, kTestWindowWidth, kTestWindowHeight);
    for (uint32_t y = 0; y < kTestWindowHeight; y += 97)
        for (uint32_t x = 0; x < kTestWindowWidth; x += 101) ASSERT_TRUE(Black(w.at(x, y))) << x << "," << y;
}

// Movies of four solid bars of known RGB, each a silent 1-second AVI of five
// pictures (the tests read the first) at its size, `encode` naming its codec,
// pixel format and matrix; made by one run of the ffmpeg tool, kept for later
// test processes as the harnesses keep theirs. Their bytes in order; none on failure.
struct Bars {
    std::string name;
    int width, height;
    std::string encode;
    int32_t format = PLAT_MOVIE_YUV420;  // of the pictures the player gives
};
std::vector<std::vector<uint8_t>> MakeBars(const std::vector<Bars>& movies) {
    std::string cmd = "ffmpeg -nostdin -v error -y", outputs, key = "ffmpeg bars 1\n";
    std::vector<std::filesystem::path> paths;
    for (const Bars& b : movies) {
        const std::string bar = ":s=" + std::to_string(b.width / 4) + "x" + std::to_string(b.height) + ":r=5:d=1,format=rgb24";
        std::string graph;
        for (int i = 0; i < 4; ++i) graph += "color=c=" + std::string(kBarHex[i]) + bar + "[b" + std::to_string(i) + "];";
        graph += "[b0][b1][b2][b3]hstack=inputs=4";
        key += graph + "\n" + b.encode + "\n";
        cmd += " -f lavfi -i \"" + graph + "\"";
        outputs += " -map " + std::to_string(paths.size()) + " " + b.encode + " -an '" + (MovieDir() / b.name).string() + "'";
        paths.push_back(MovieDir() / b.name);
    }
    cmd += outputs;
    if (!KeptToolRun(key, paths, [&cmd] { return std::system(cmd.c_str()) == 0; })) return {};
    std::vector<std::vector<uint8_t>> files;
    for (const std::filesystem::path& path : paths) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// The four colour bars of a picture shown `shown` pixels wide from `left`,
// sampled at the middle of each bar on the given rows.
void ExpectBars(const Image& w, uint32_t left, uint32_t shown, std::initializer_list<uint32_t> rows) {
    for (int b = 0; b < 4; ++b) {
        const uint32_t x = left + shown * uint32_t(2 * b + 1) / 8;
        for (uint32_t y : rows) {
            Bgra p = w.at(x, y);
            EXPECT_NEAR(p.r, kBars[b][0], 4) << "bar " << b << " at " << x << "," << y;
            EXPECT_NEAR(p.g, kBars[b][1], 4) << "bar " << b << " at " << x << "," << y;
            EXPECT_NEAR(p.b, kBars[b][2], 4) << "bar " << b << " at " << x << "," << y;
        }
    }
}

// Decoded YUV goes to the window through the drawing's conversion: limited
// range BT.601 for an unmarked small movie, BT.709 for an unmarked 720-row
// one, full range 4:2:2 from Motion JPEG; an RGB codec takes the BGRA
// conversion. Every bar's centre shows its colour within a few levels.
TEST_F(MovieGlTest, ColourBarsShowTheirColoursForEveryPictureLayout) {
    REQUIRE_FFMPEG();
    const std::vector<Bars> movies = {
        {"bars601.avi", 320, 240, "-c:v ffv1 -pix_fmt yuv420p"},
        {"bars709.avi", 1280, 720, "-vf scale=out_color_matrix=bt709:out_range=tv -c:v ffv1 -pix_fmt yuv420p"},
        {"barsjpeg.avi", 320, 240, "-c:v mjpeg -pix_fmt yuvj422p -q:v 1", PLAT_MOVIE_YUV422},
        {"barsrgb.avi", 320, 240, "-c:v png -pix_fmt rgb24", PLAT_MOVIE_BGRA},
    };
    const std::vector<std::vector<uint8_t>> files = MakeBars(movies);
    ASSERT_EQ(files.size(), movies.size());
    for (size_t i = 0; i < movies.size(); ++i) {
        const Bars& c = movies[i];
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t>& file = files[i];
        ASSERT_FALSE(file.empty());
        Lib_MoviePlay("movie/bars.avi", 9);
        Serve(true, file.data(), file.size());
        const PlatMovieFrame f = FirstFrame();
        ASSERT_GT(f.serial, 0u);
        EXPECT_EQ(f.format, c.format);
        Lib_MoviePaint();
        Image w = ReadFramebuffer(0, kTestWindowWidth, kTestWindowHeight);
        // The picture fills the window's height; each bar is a quarter of its width.
        const uint32_t shown = kTestWindowHeight * uint32_t(c.width) / uint32_t(c.height);
        const uint32_t left = (kTestWindowWidth - shown) / 2;
        ExpectBars(w, left, shown, {200u, 540u, 880u});
        MovieState = MOVIE_STOP_REQUESTED;
        Frame();
        ASSERT_EQ(MovieState.load(), MOVIE_IDLE);
    }
}

// A movie wider than the window's shape (12:5 in 16:9) fills the width
// between black bars above and below; only a movie narrower than the window
// fills its height.
TEST_F(MovieGlTest, AWideMovieFillsTheWidthBetweenBarsAboveAndBelow) {
    REQUIRE_FFMPEG();
    const std::vector<std::vector<uint8_t>> files = MakeBars({{"wide.avi", 480, 200, "-c:v ffv1 -pix_fmt yuv420p"}});
    ASSERT_EQ(files.size(), 1u);
    ASSERT_FALSE(files[0].empty());
    Lib_MoviePlay("movie/wide.avi", 9);
    Serve(true, files[0].data(), files[0].size());
    ASSERT_GT(FirstFrame().serial, 0u);
    Lib_MoviePaint();
    Image w = ReadFramebuffer(0, kTestWindowWidth, kTestWindowHeight);
    // 1920×800 from y = 140.
    for (uint32_t x : {100u, 960u, 1820u}) {
        EXPECT_TRUE(Black(w.at(x, 60))) << w.at(x, 60);
        EXPECT_TRUE(Black(w.at(x, 1020))) << w.at(x, 1020);
    }
    ExpectBars(w, 0, kTestWindowWidth, {150u, 540u, 930u});
    MovieState = MOVIE_STOP_REQUESTED;
    Frame();
    EXPECT_EQ(MovieState.load(), MOVIE_IDLE);
}

}  // namespace
