// Engine heap against glibc malloc on the same pattern: 1,000 live blocks of
// 16..4096 bytes, one random block replaced per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"

namespace {

constexpr int kLive = 1000;
constexpr int kPattern = 1 << 16;

struct Pattern {
    std::vector<uint32_t> sizes;  // one per step
    std::vector<uint32_t> slots;
    Pattern() {
        std::mt19937 rng(20240601);
        for (int i = 0; i < kPattern; ++i) {
            sizes.push_back(16 + rng() % (4096 - 16 + 1));
            slots.push_back(rng() % kLive);
        }
    }
};
const Pattern& GetPattern() {
    static const Pattern pattern;
    return pattern;
}

template <typename Alloc, typename Free>
void Run(benchmark::State& state, Alloc alloc, Free release) {
    const Pattern& pat = GetPattern();
    std::vector<void*> live(kLive);
    for (int i = 0; i < kLive; ++i) live[i] = alloc(pat.sizes[i]);
    size_t step = 0;
    for (auto _ : state) {
        uint32_t slot = pat.slots[step];
        release(live[slot]);
        live[slot] = alloc(pat.sizes[step]);
        benchmark::DoNotOptimize(live[slot]);
        step = (step + 1) % kPattern;
    }
    for (void* p : live) release(p);
}

void BM_HeapReplace(benchmark::State& state) {
    static const uint64_t sizes[HEAP_COUNT] = {32ull << 20, 2ull << 20, 2ull << 20, 2ull << 20,
                                               2ull << 20};
    if (!Lib_MemInit(sizes)) {
        state.SkipWithError("heaps not reserved");
        return;
    }
    Run(state, [](uint32_t n) { return Lib_MemAlloc(HEAP_GENERAL, n, 16); },
        [](void* p) { Lib_MemFree(HEAP_GENERAL, p); });
    Lib_MemRelease();
}
BENCHMARK(BM_HeapReplace);

void BM_MallocReplace(benchmark::State& state) {
    Run(state, [](uint32_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}
BENCHMARK(BM_MallocReplace);

}  // namespace
