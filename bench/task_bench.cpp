#include <benchmark/benchmark.h>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"

namespace {

int32_t Trivial(void* work) {
    benchmark::DoNotOptimize(work);
    return 0;
}

// One frame pass over a full table: 798 live tasks of mixed priorities, each
// with a small work area.
void BM_TaskPass798(benchmark::State& state) {
    const uint64_t sizes[HEAP_COUNT] = {4u << 20, 4u << 20, 2u << 20, 2u << 20, 4u << 20};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heap or scheduler start-up failed");
        return;
    }
    for (int i = 0; i < 798; ++i) {
        int32_t slot = Lib_TaskSet("Trivial", Trivial, uint16_t((i * 7919) % 60000), 300, 0);
        if (slot < 0 || !Lib_TaskWorkAlloc(uint32_t(slot), 64)) {
            state.SkipWithError("registration failed");
            Lib_MemRelease();
            return;
        }
    }
    for (auto _ : state) benchmark::DoNotOptimize(Lib_TaskPass(false));
    state.SetItemsProcessed(int64_t(state.iterations()) * 798);
    Lib_MemRelease();
}
BENCHMARK(BM_TaskPass798);

}  // namespace
