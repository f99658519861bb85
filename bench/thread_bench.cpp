#include <benchmark/benchmark.h>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/thread.h"

namespace {

int32_t Idle(void*) { return 0; }

// One worker's whole life: made, started, asked to yield and deleted (the
// delete joins it). The figure is cycles a second; the thread test's cycles
// check each cycle's outcome instead.
void BM_ThreadCreateStartDelete(benchmark::State& state) {
    const uint64_t sizes[HEAP_COUNT] = {4u << 20, 4u << 20, 2u << 20, 2u << 20, 4u << 20};
    if (!Lib_MemInit(sizes)) {
        state.SkipWithError("heap start-up failed");
        return;
    }
    Lib_ThreadTableClear();
    const bool start = state.range(0) != 0;
    for (auto _ : state) {
        const int32_t slot = Lib_ThreadSet("cycle", Idle, THREAD_PRIORITY_NORMAL);
        if (slot < 0) {
            state.SkipWithError("no thread slot");
            break;
        }
        if (start) Lib_ThreadStart(slot);
        Lib_ThreadYield(slot);
        Lib_ThreadDel(slot);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    Lib_MemRelease();
}
BENCHMARK(BM_ThreadCreateStartDelete)->Arg(0)->Arg(1)->ArgName("started")->UseRealTime();

}  // namespace
