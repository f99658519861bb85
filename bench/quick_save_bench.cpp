// The quick save: the game thread's work per frame from the menu's "yes" to
// the quick task's end (slot 33, then the system slot), less the same frames
// without a save, against one frame period; and the disk writer's time for
// those commits.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/files/file_loader.h"
#include "script/game_blocks.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "bench/save_root_bench.h"

namespace {

namespace fs = std::filesystem;
constexpr double kFrameUs = 16667.0;

double ThreadCpuUs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

struct Root : SaveBenchRoot {
    Root() : SaveBenchRoot("quick", 4) {
        // The loader serves the save task's progress notice (its picture).
        Lib_FileInit();
        Lib_SaveInit();
        Lib_SaveFlush();
    }
    ~Root() {
        Lib_SaveEnd();  // before the loader stops
        Lib_FileEnd();
    }
};

// One pass a frame, each frame's game-thread CPU time; the first frame holds
// the quick save's own copy when `save` is set.
std::vector<double> Frames(bool save, size_t count) {
    std::vector<double> us;
    double t0 = ThreadCpuUs();
    if (save) GSL_QuickSaveNow();
    Lib_TaskPass(false);
    us.push_back(ThreadCpuUs() - t0);
    while (save ? SaveQuickGDGuard != -1 : us.size() < count) {
        t0 = ThreadCpuUs();
        Lib_TaskPass(false);
        us.push_back(ThreadCpuUs() - t0);
        if (save) ::usleep(200);  // the writer runs beside the frames
    }
    return us;
}

void BM_QuickSaveGameThreadPerFrame(benchmark::State& state) {
    Root root;
    GSL_GameStateInit();
    double largest = 0, mean = 0, writerMs = 0, taskMs = 0;
    size_t frames = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::vector<double> with = Frames(true, 0);
        taskMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        const std::vector<double> without = Frames(false, with.size());
        const auto w0 = std::chrono::steady_clock::now();
        Lib_SaveFlush();
        writerMs = std::max(
            writerMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
        double sum = 0;
        for (size_t i = 0; i < with.size(); ++i) {
            const double d = std::max(0.0, with[i] - without[i]);
            largest = std::max(largest, d);
            sum += d;
        }
        mean = sum / double(with.size());
        frames = with.size();
    }
    state.counters["largest_us"] = largest;
    state.counters["largest_pct"] = largest * 100.0 / kFrameUs;
    state.counters["mean_us"] = mean;
    state.counters["mean_pct"] = mean * 100.0 / kFrameUs;
    state.counters["frames"] = double(frames);
    state.counters["writer_flush_ms"] = writerMs;
    // Both slots committed to disk by the writer thread, as the task waits.
    state.counters["task_wall_ms"] = taskMs;
}
BENCHMARK(BM_QuickSaveGameThreadPerFrame)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
