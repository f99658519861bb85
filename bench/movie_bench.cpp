// The movie player on a 10-second 1280×720 30 fps MPEG-4 + PCM movie made by
// the ffmpeg tool: the whole pipeline (demux, decode, publishing each picture
// with its YUV planes as decoded, resampling; the RGB conversion happens when
// the picture is drawn, on the GPU) as fast as it goes against `ffmpeg -f null`
// decoding the same file (both with one decoder thread), and the share of one
// core the player takes while it plays in real time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_movie.h"

namespace {

namespace fs = std::filesystem;

// The folder of the test movie, removed when the process ends.
struct MovieFolder {
    fs::path path;
    ~MovieFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

const fs::path& MoviePath() {
    static const MovieFolder dir{fs::temp_directory_path() / ("vn_movie_bench_" + std::to_string(::getpid()))};
    static const fs::path path = [] {
        fs::create_directories(dir.path);
        fs::path out = dir.path / "bench.avi";
        std::string cmd =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30:duration=10 "
            "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 "
            "-c:v mpeg4 -q:v 4 -c:a pcm_s16le -ac 2 '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0) fs::remove(out);
        return out;
    }();
    return path;
}

const std::vector<uint8_t>& Movie() {
    static const std::vector<uint8_t> data = [] {
        std::ifstream in(MoviePath(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return data;
}

// The decoding loop time `ffmpeg -benchmark` reports (rtime), best of three;
// `output` goes between the input and the null muxer.
double FfmpegSeconds(const char* output) {
    double best = 0;
    for (int i = 0; i < 3; ++i) {
        std::string cmd = "ffmpeg -nostdin -benchmark -threads 1 -i '" + MoviePath().string() + "' " + output +
                          " -f null - 2>&1 | grep -o 'rtime=[0-9.]*'";
        FILE* pipe = ::popen(cmd.c_str(), "r");
        if (!pipe) return 0;
        double rtime = 0;
        if (std::fscanf(pipe, "rtime=%lf", &rtime) != 1) rtime = 0;
        ::pclose(pipe);
        if (rtime > 0 && (best == 0 || rtime < best)) best = rtime;
    }
    return best;
}

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// ratio: this pipeline's time over ffmpeg's decode of the same file.
void BM_MovieDecodeConvert720p(benchmark::State& state) {
    const std::vector<uint8_t>& file = Movie();
    if (file.empty()) {
        state.SkipWithError("the ffmpeg tool could not make the test movie");
        return;
    }
    const double ffmpeg = FfmpegSeconds("");
    PlatMovieStats stats{};
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!Plat_MovieDecodeAll(file.data(), uint32_t(file.size()), 1, &stats)) {
            state.SkipWithError("the movie did not open");
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double mean = total / double(state.iterations());
    state.counters["pictures"] = double(stats.converted);
    state.counters["fps"] = double(stats.converted) / mean;
    state.counters["ffmpeg_s"] = ffmpeg;
    state.counters["ratio"] = ffmpeg > 0 ? mean / ffmpeg : 0;
}
BENCHMARK(BM_MovieDecodeConvert720p)->Unit(benchmark::kMillisecond)->Iterations(3);

std::atomic<int> g_ready{0};
void OnEvent(uint64_t, int32_t event) {
    if (event == PLAT_MOVIE_EV_READY) g_ready = 1;
}

// core_pct: process CPU time over wall time while the player plays four
// seconds in real time (its thread, the sound resampling into the mixer on
// SDL's dummy device, the mixer itself).
void BM_MoviePlayRealtime720p(benchmark::State& state) {
    const std::vector<uint8_t>& file = Movie();
    if (file.empty()) {
        state.SkipWithError("the ffmpeg tool could not make the test movie");
        return;
    }
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    const bool audio = Plat_AudioOpen();
    double share = 0;
    for (auto _ : state) {
        g_ready = 0;
        int32_t m = Plat_MovieOpen(file.data(), uint32_t(file.size()), 0, OnEvent, 0);
        if (m < 0) {
            state.SkipWithError("the movie did not open");
            break;
        }
        while (!g_ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double cpu0 = ProcessCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        Plat_MovieStart(m);
        std::this_thread::sleep_for(std::chrono::seconds(4));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        share = (ProcessCpuSeconds() - cpu0) / wall;
        state.SetIterationTime(wall);
        Plat_MovieClose(m, kPlatMovieCloseWaitMs);
    }
    state.counters["core_pct"] = share * 100.0;
    state.counters["with_sound_device"] = audio ? 1 : 0;
    Plat_AudioClose();
}
BENCHMARK(BM_MoviePlayRealtime720p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
