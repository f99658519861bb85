#include <benchmark/benchmark.h>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "ui/trans_num.h"

namespace {

// One frame pass with 300 number transitions running (integer and float
// targets, all five curves), as a share of one core at 60 frames a second.
void BM_TransNumFrame300(benchmark::State& state) {
    const uint64_t sizes[HEAP_COUNT] = {4u << 20, 2u << 20, 2u << 20, 2u << 20, 2u << 20};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heap or scheduler start-up failed");
        return;
    }
    static int32_t ints[150];
    static float floats[150];
    const int8_t modes[] = {0, 1, -1, 2, -2};
    // Long enough never to finish while measured (each step costs the same
    // whatever the constants).
    const int32_t frames = 1 << 30;
    for (int i = 0; i < 150; ++i) {
        ints[i] = i;
        floats[i] = float(i);
        int8_t mode = modes[i % 5];
        if (GSL_SystemTransNumSet(&ints[i], 100000 + i, frames, mode, kWidgetPriority, kWidgetGroupScreen, 0) < 0 ||
            GSL_SystemTransNumSetF(&floats[i], 5000.5f, frames, mode, kWidgetPriority, kWidgetGroupScreen, 0) < 0) {
            state.SkipWithError("registration failed");
            Lib_MemRelease();
            return;
        }
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Lib_TaskPass(false));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 300);
    // Seconds per frame pass × 60 frames a second, in percent.
    state.counters["core_pct_at_60fps"] = benchmark::Counter(
        1.0 / 6000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    Lib_MemRelease();
}
BENCHMARK(BM_TransNumFrame300);

}  // namespace
