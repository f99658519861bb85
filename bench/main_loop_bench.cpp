// CPU cost of the running engine on a static frame: the game thread's share of
// one core (its per-frame task work plus the between-frames passes) and the
// whole process's share, headless on the sample game, over 10 seconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/program_bench.h"
#include "app/frame.h"
#include "platform/plat_window.h"

namespace {
using program_bench::ProcessCpuSeconds;
using program_bench::ThreadTicks;

void BM_StaticFrameCpu(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    char tmpl[] = "/tmp/vn_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return state.SkipWithError("no temporary folder");
    auto old = std::filesystem::current_path();
    std::filesystem::current_path(tmpl);
    if (std::system("python3 " VN_SOURCE_DIR "/tools/build_sample.py . >/dev/null") != 0)
        return state.SkipWithError("sample data could not be built");
    double gameShare = 0, processShare = 0;
    for (auto _ : state) {
        std::thread watcher([&] {
            while (RunState.load() != RUN_RUNNING) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::seconds(2));  // preloads settle
            const double hz = double(sysconf(_SC_CLK_TCK));
            long t0 = ThreadTicks("game");
            double p0 = ProcessCpuSeconds();
            auto w0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(10));
            long t1 = ThreadTicks("game");
            double p1 = ProcessCpuSeconds();
            double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
            gameShare = double(t1 - t0) / hz / wall;
            processShare = (p1 - p0) / wall;
            Plat_PostQuit();
        });
        WinMain();
        watcher.join();
    }
    state.counters["game_thread_core_share"] = gameShare;
    state.counters["process_core_share"] = processShare;
    std::filesystem::current_path(old);
    std::filesystem::remove_all(tmpl);
}
BENCHMARK(BM_StaticFrameCpu)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace
