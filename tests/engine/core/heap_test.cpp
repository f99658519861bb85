#include "engine/core/cache.h"
#include "engine/core/heap.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

// Headers are poisoned in sanitizer builds, so the checks read them from
// functions that the address sanitizer leaves alone.
#define HEAP_TEST_RAW __attribute__((no_sanitize("address")))

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

uintptr_t A(const void* p) { return reinterpret_cast<uintptr_t>(p); }

struct Hdr {
    uintptr_t next, prev;
    uint64_t size;
    uint32_t used;
};

HEAP_TEST_RAW Hdr ReadHdr(uintptr_t at) {
    const MemBlockHeader* h = reinterpret_cast<const MemBlockHeader*>(at);
    return Hdr{A(h->next), A(h->prev), h->size, h->used};
}

HEAP_TEST_RAW bool AllZero(const uint8_t* p, uint64_t n) {
    for (uint64_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// Walks a heap and returns the first broken invariant (empty when sound).
// `used` receives the data pointers of the used blocks.
std::string CheckHeap(const MemHeap& heap, std::vector<uintptr_t>* used = nullptr) {
    uintptr_t base = A(heap.base);
    if (A(heap.first) != base) return "first block is not at the region start";
    if (A(heap.end) != base + heap.size - 32) return "end sentinel misplaced";
    Hdr end = ReadHdr(A(heap.end));
    if (end.next || end.size || end.used != 1) return "end sentinel fields";
    uint64_t bytes = 0, count = 0;
    uintptr_t prev = 0;
    bool prevFree = false;
    uintptr_t at = base;
    for (uint64_t steps = 0; at != A(heap.end); ++steps) {
        if (steps > heap.size / 32 || at % 8) return "walk runs away";
        Hdr h = ReadHdr(at);
        if (h.prev != prev) return "prev link broken";
        if (h.next <= at || h.next > A(heap.end)) return "next outside the region";
        if (h.size != h.next - at) return "size is not the distance to next";
        if (at == base && h.used) return "first block handed out";
        if (!h.used && prevFree) return "two adjacent free blocks";
        if (h.used) {
            bytes += h.size;
            ++count;
            if (used) used->push_back(at + 32);
        }
        prevFree = !h.used;
        prev = at;
        at = h.next;
    }
    if (end.prev != prev) return "sentinel prev broken";
    if (bytes != heap.bytesInUse || count != heap.usedCount) return "statistics disagree";
    // Below each size class's first candidate no block can take a block of
    // that class: used, or too small for 2^k bytes and a free header.
    for (int k = 0; k < kHeapFitClasses; ++k) {
        uintptr_t b = base;
        while (b != A(heap.lowFit[k]) && b != A(heap.end)) {
            Hdr h = ReadHdr(b);
            if (!h.used && h.size >= (uint64_t(1) << k) + 32) return "a fitting block below its class's first candidate";
            b = h.next;
        }
        if (b != A(heap.lowFit[k])) return "a class's first candidate is not a block";
    }
    return "";
}

// The first block from the bottom that could hold `need` bytes whatever the
// alignment (0 when none).
uintptr_t SurelyFitting(const MemHeap& heap, uint64_t need, uint64_t align) {
    for (uintptr_t at = A(heap.first); at != A(heap.end);) {
        Hdr h = ReadHdr(at);
        if (!h.used && h.size >= need + align + 96) return at;
        at = h.next;
    }
    return 0;
}

// A heap laid out over a buffer of our own.
struct LocalHeap {
    std::vector<uint64_t> buf;
    MemHeap heap;
    explicit LocalHeap(uint64_t bytes) : buf(bytes / 8) {
        EXPECT_TRUE(Lib_MemHeapInit(&heap, buf.data(), bytes));
    }
    uintptr_t base() const { return A(heap.base); }
    void* top(uint64_t size, uint64_t align = 8) { return Lib_MemHeapAlloc(&heap, size, align, false); }
    void* bottom(uint64_t size, uint64_t align = 8) { return Lib_MemHeapAlloc(&heap, size, align, true); }
    bool free(uintptr_t data) { return Lib_MemHeapFree(&heap, reinterpret_cast<void*>(data)); }
};

class HeapGlobal : public ::testing::Test {
protected:
    void TearDown() override { Lib_MemRelease(); }
    static bool In(int heap, void* p) {
        const MemHeap& h = HeapTable.heaps[heap];
        return A(p) >= A(h.base) && A(p) < A(h.base) + h.size;
    }
};

}  // namespace

TEST(HeapLayout, InitLaysOutAndRejectsBadRanges) {
    LocalHeap lh(1024);
    EXPECT_EQ(lh.heap.firstFreeSize, 992u);
    EXPECT_EQ(CheckHeap(lh.heap), "");

    void* p = lh.bottom(100);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 100);
    // Too small a range: the old region is zeroed and the record cleared.
    std::vector<uint64_t> other(8);
    EXPECT_FALSE(Lib_MemHeapInit(&lh.heap, other.data(), 63));
    EXPECT_TRUE(lh.heap.base == nullptr && lh.heap.first == nullptr && lh.heap.size == 0);
    EXPECT_TRUE(AllZero(reinterpret_cast<uint8_t*>(lh.buf.data()), 1024));
    // Without a region every call fails quietly.
    EXPECT_EQ(lh.bottom(8), nullptr);
    EXPECT_FALSE(Lib_MemHeapFree(&lh.heap, p));
    EXPECT_EQ(Lib_MemHeapLargestFree(&lh.heap), 0u);
    EXPECT_FALSE(Lib_MemHeapInit(&lh.heap, nullptr, 1024));
    EXPECT_FALSE(Lib_MemHeapInit(&lh.heap, reinterpret_cast<uint8_t*>(other.data()) + 4, 56));
    EXPECT_TRUE(Lib_MemHeapInit(&lh.heap, other.data(), 64));
    EXPECT_EQ(lh.bottom(1), nullptr);  // the lone first block is never handed out
}

TEST(HeapLayout, AlignedBottomAllocationSplitsFirstBlock) {
    LocalHeap lh(64 * 1024);
    uint8_t* p = static_cast<uint8_t*>(lh.bottom(1, 256));
    uintptr_t d = (lh.base() + 64 + 255) & ~uintptr_t(255);
    ASSERT_EQ(A(p), d);
    EXPECT_EQ(ReadHdr(d - 32).size, 288u);
    EXPECT_EQ(ReadHdr(d - 32 + 288).used, 0u);  // a free header follows
    EXPECT_EQ(lh.heap.bytesInUse, 288u);
    EXPECT_EQ(CheckHeap(lh.heap), "");
}

TEST(HeapLayout, ExactFitsSkipsAndMerges) {
    LocalHeap lh(1024);  // first block 0..992, sentinel at 992
    uintptr_t b = lh.base();
    // The first block alone can serve neither placement.
    EXPECT_EQ(lh.top(960), nullptr);
    EXPECT_EQ(lh.bottom(960), nullptr);

    ASSERT_EQ(A(lh.top(64)), b + 928);   // header 896
    ASSERT_EQ(A(lh.top(64)), b + 832);   // header 800
    ASSERT_EQ(A(lh.top(80)), b + 720);   // header 688, 112 bytes
    ASSERT_EQ(A(lh.top(64)), b + 624);   // header 592
    ASSERT_EQ(A(lh.top(528)), b + 64);   // header 32: first block keeps 32 bytes
    EXPECT_EQ(ReadHdr(b).size, 32u);

    // A free block of exactly `need`: too small from the bottom, used whole from the top.
    ASSERT_TRUE(lh.free(b + 832));
    EXPECT_EQ(lh.bottom(64), nullptr);
    EXPECT_EQ(A(lh.top(64)), b + 832);
    EXPECT_EQ(ReadHdr(b + 800).size, 96u);

    // A 112-byte free block: a 96-byte block would put its header 16 bytes
    // above the free header, so the block is skipped; 112 bytes use it whole.
    ASSERT_TRUE(lh.free(b + 720));
    EXPECT_EQ(lh.top(64), nullptr);
    EXPECT_EQ(lh.top(72), nullptr);
    EXPECT_EQ(A(lh.top(80)), b + 720);
    EXPECT_EQ(CheckHeap(lh.heap), "");

    // Freeing a block between two free blocks leaves one block over all three.
    ASSERT_TRUE(lh.free(b + 624));
    ASSERT_TRUE(lh.free(b + 832));
    uint64_t before = lh.heap.bytesInUse;
    ASSERT_TRUE(lh.free(b + 720));
    EXPECT_EQ(lh.heap.bytesInUse, before - 112);
    EXPECT_EQ(ReadHdr(b + 592).size, 304u);
    EXPECT_EQ(Lib_MemHeapLargestFree(&lh.heap), 304u);
    EXPECT_EQ(CheckHeap(lh.heap), "");

    // Double free and pointers that are no block change nothing.
    before = lh.heap.bytesInUse;
    EXPECT_FALSE(lh.free(b + 720));
    EXPECT_FALSE(lh.free(b + 32));   // the first block
    EXPECT_FALSE(lh.free(b + 936));  // inside a block
    EXPECT_FALSE(lh.free(b + 1024)); // the sentinel
    EXPECT_FALSE(lh.free(A(&before)));
    EXPECT_EQ(lh.heap.bytesInUse, before);
    EXPECT_EQ(CheckHeap(lh.heap), "");
}

TEST(HeapLayout, HugeAndEmptyRequestsFail) {
    LocalHeap lh(64 * 1024);
    EXPECT_EQ(lh.bottom(0), nullptr);
    EXPECT_EQ(lh.bottom(~0ull, 16), nullptr);
    EXPECT_EQ(lh.top(~0ull - 40, 1), nullptr);
    EXPECT_EQ(lh.top(64 * 1024 + 1), nullptr);
    EXPECT_EQ(lh.bottom(1, 1ull << 63), nullptr);
    EXPECT_EQ(lh.top(1, 1ull << 40), nullptr);
    EXPECT_EQ(Lib_MemHeapAlloc(nullptr, 8, 8, true), nullptr);
    EXPECT_EQ(lh.heap.usedCount, 0u);
    // A non-power-of-two alignment counts as 1 (blocks stay 8-aligned).
    void* p = lh.bottom(5, 24);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(A(p) % 8, 0u);
    EXPECT_EQ(CheckHeap(lh.heap), "");
}

TEST(HeapStress, RandomModelKeepsInvariants) {
    LocalHeap lh(kMiB);
    std::mt19937_64 rng(12345);
    const uint64_t aligns[] = {1, 3, 4, 256, 16384};
    struct Live { uint64_t size; uint8_t fill; };
    std::map<uintptr_t, Live> live;
    int failures = 0;
    for (int op = 0; op < 6000; ++op) {
        bool doFree = !live.empty() && (rng() % 100 < 45 || live.size() > 300);
        if (doFree) {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            const uint8_t* d = reinterpret_cast<const uint8_t*>(it->first);
            for (uint64_t i = 0; i < it->second.size; ++i)
                ASSERT_EQ(d[i], it->second.fill) << "block overwritten at op " << op;
            // A pointer into a block names no block.
            if (it->second.size >= 16 && rng() % 8 == 0) {
                ASSERT_FALSE(lh.free(it->first + 8));
            }
            ASSERT_TRUE(lh.free(it->first));
            if (rng() % 8 == 0) {
                ASSERT_FALSE(lh.free(it->first));
            }
            live.erase(it);
        } else {
            uint64_t size = rng() % 8 == 0 ? 1 + rng() % 60000 : 1 + rng() % 2000;
            uint64_t align = aligns[rng() % 5];
            bool fromBottom = rng() % 2;
            uint64_t largest = Lib_MemHeapLargestFree(&lh.heap);
            uint64_t a = (align & (align - 1)) ? 8 : std::max<uint64_t>(align, 8);
            uint64_t need = (size + a - 1) / a * a + 32;
            const uintptr_t sure = SurelyFitting(lh.heap, need, a);
            void* p = Lib_MemHeapAlloc(&lh.heap, size, align, fromBottom);
            // First fit from the bottom: never above a block that surely fits.
            if (p && fromBottom && sure) {
                ASSERT_LE(A(p), sure + 64 + a) << "placed too high at op " << op;
            }
            if (!p) {
                // Any free block this large would certainly have fitted.
                ASSERT_LT(largest, need + a + 64) << "false failure at op " << op;
                ++failures;
            } else {
                ASSERT_EQ(A(p) % a, 0u);
                Hdr h = ReadHdr(A(p) - 32);
                ASSERT_EQ(h.used, 1u);
                ASSERT_GE(h.size, need);
                uint8_t fill = static_cast<uint8_t>(op);
                std::memset(p, fill, size);
                live[A(p)] = Live{size, fill};
            }
        }
        std::vector<uintptr_t> used;
        ASSERT_EQ(CheckHeap(lh.heap, &used), "") << "at op " << op;
        ASSERT_EQ(used.size(), live.size());
        for (uintptr_t u : used) ASSERT_TRUE(live.count(u)) << "unknown used block at op " << op;
    }
    EXPECT_GT(failures, 0);  // the heap was driven full at times
    for (auto& [p, l] : live) ASSERT_TRUE(lh.free(p));
    EXPECT_EQ(lh.heap.bytesInUse, 0u);
    EXPECT_EQ(Lib_MemHeapLargestFree(&lh.heap), lh.heap.firstFreeSize);
}

TEST_F(HeapGlobal, InitRoundsSizesAndPlacesByRequestSize) {
    const uint64_t sizes[HEAP_COUNT] = {3 * kMiB, 2 * kMiB, 1, 2 * kMiB, 4 * kMiB};
    ASSERT_TRUE(Lib_MemInit(sizes));
    EXPECT_EQ(HeapTable.heaps[0].size, 4 * kMiB);
    EXPECT_EQ(HeapTable.heaps[2].size, 2 * kMiB);
    const uint8_t live[HEAP_COUNT] = {1, 1, 0, 0, 1};
    for (int i = 0; i < HEAP_COUNT; ++i) EXPECT_EQ(HeapTable.live[i], live[i]) << i;

    MemHeap& h0 = HeapTable.heaps[0];
    void* big = Lib_MemAlloc(0, kMiB, 16);
    EXPECT_EQ(A(big) + kMiB, A(h0.end));  // from the top
    void* small = Lib_MemAlloc(0, kMiB - 1, 16);
    EXPECT_EQ(A(small), A(h0.base) + 64);  // from the bottom
    EXPECT_EQ(Lib_MemAlloc(0, ~0ull, 16), nullptr);
    EXPECT_EQ(Lib_MemAlloc(7, 16, 16), nullptr);
    Lib_MemFree(0, big);
    Lib_MemFree(0, small);
    EXPECT_EQ(h0.usedCount, 0u);

    // The screen heap's reset zeroes its region and discards every block.
    MemHeap& h2 = HeapTable.heaps[2];
    void* p = Lib_MemAlloc(2, 4096, 16);
    ASSERT_TRUE(In(2, p));
    std::memset(p, 0x5A, 4096);
    Lib_MemHeapReset(&h2);
    EXPECT_EQ(h2.usedCount, 0u);
    EXPECT_EQ(h2.bytesInUse, 0u);
    EXPECT_TRUE(AllZero(static_cast<uint8_t*>(p), 4096));
    EXPECT_EQ(Lib_MemHeapLargestFree(&h2), h2.firstFreeSize);
    EXPECT_EQ(CheckHeap(h2), "");
    // Zeroing a region that was mostly never used leaves it out of memory:
    // at most the pages the heap's own records lie on stay resident.
    const long page = sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident(size_t((h2.size + page - 1) / page));
    ASSERT_EQ(mincore(h2.base, h2.size, resident.data()), 0);
    EXPECT_LE(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }), 4);

    // A block whose contents nobody reads again gives its pages back but
    // stays in use where it is; a pointer into a block is left alone.
    auto* pixels = static_cast<uint8_t*>(Lib_MemAlloc(0, 64 * size_t(page), size_t(page)));
    ASSERT_NE(pixels, nullptr);
    std::memset(pixels, 0x5A, 64 * size_t(page));
    Lib_MemDiscard(pixels + 16);
    EXPECT_EQ(pixels[64 * page - 1], 0x5A);
    const uint64_t used = h0.bytesInUse;
    Lib_MemDiscard(pixels);
    EXPECT_EQ(h0.bytesInUse, used);
    std::vector<unsigned char> kept(64);
    ASSERT_EQ(mincore(pixels, 64 * size_t(page), kept.data()), 0);
    EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [](unsigned char r) { return r & 1; }), 0);
    EXPECT_TRUE(AllZero(pixels, 64 * size_t(page)));
    Lib_MemFree(0, pixels);
    EXPECT_EQ(CheckHeap(h0), "");

    Lib_MemRelease();
    for (int i = 0; i < HEAP_COUNT; ++i) {
        EXPECT_EQ(HeapTable.heaps[i].base, nullptr);
        EXPECT_EQ(HeapTable.live[i], 0);
    }
}

TEST_F(HeapGlobal, FallbackTakesOnlyLiveHeaps) {
    const uint64_t sizes[HEAP_COUNT] = {4 * kMiB, 4 * kMiB, 2 * kMiB, 8 * kMiB, 4 * kMiB};
    ASSERT_TRUE(Lib_MemInit(sizes));
    void* a = Lib_MemAlloc(2, 3 * kMiB, 16);
    void* b = Lib_MemAlloc(2, 3 * kMiB, 16);
    void* c = Lib_MemAlloc(2, 3 * kMiB, 16);
    EXPECT_TRUE(In(0, a));
    EXPECT_TRUE(In(1, b));
    EXPECT_TRUE(In(4, c));
    EXPECT_EQ(Lib_MemAlloc(2, 3 * kMiB, 16), nullptr);  // heap 3 has room but is never taken
    EXPECT_EQ(HeapTable.heaps[3].usedCount, 0u);
    void* cached = Lib_MemHeapAlloc(&HeapTable.heaps[3], 64, 16, false);
    Lib_MemFree(0, cached);  // heap 3 is not live: only a free naming it finds the block
    EXPECT_EQ(HeapTable.heaps[3].usedCount, 1u);
    Lib_MemFree(3, cached);
    EXPECT_EQ(HeapTable.heaps[3].usedCount, 0u);

    // Frees find the block wherever it lives; anything else changes nothing.
    Lib_MemFree(0, c);
    EXPECT_EQ(HeapTable.heaps[4].usedCount, 0u);
    Lib_MemFree(9, b);
    EXPECT_EQ(HeapTable.heaps[1].usedCount, 0u);
    uint64_t inUse = HeapTable.heaps[0].bytesInUse;
    Lib_MemFree(0, c);                                  // double free
    Lib_MemFree(4, static_cast<uint8_t*>(a) + 64);      // inside a block
    Lib_MemFree(0, &inUse);                             // foreign memory
    Lib_MemFree(0, nullptr);
    EXPECT_EQ(HeapTable.heaps[0].bytesInUse, inUse);
    EXPECT_EQ(HeapTable.heaps[0].usedCount, 1u);
    for (int i = 0; i < HEAP_COUNT; ++i) EXPECT_EQ(CheckHeap(HeapTable.heaps[i]), "") << i;

    // The cache heap never falls back into the screen heap.
    const uint64_t sizes2[HEAP_COUNT] = {2 * kMiB, 2 * kMiB, 8 * kMiB, 2 * kMiB, 2 * kMiB};
    ASSERT_TRUE(Lib_MemInit(sizes2));
    EXPECT_EQ(Lib_MemAlloc(3, 3 * kMiB, 16), nullptr);
    EXPECT_EQ(HeapTable.heaps[2].usedCount, 0u);
}

TEST_F(HeapGlobal, UnreservedRegionIsAnEmptyHeap) {
    const uint64_t sizes[HEAP_COUNT] = {2 * kMiB, 2 * kMiB, 1ull << 60, 2 * kMiB, 2 * kMiB};
    EXPECT_FALSE(Lib_MemInit(sizes));
    EXPECT_EQ(HeapTable.live[2], 1);  // start-up stopped before the live bytes were cleared
    for (int i = 2; i < HEAP_COUNT; ++i) {
        MemHeap* h = &HeapTable.heaps[i];
        EXPECT_EQ(h->base, nullptr);
        EXPECT_EQ(Lib_MemHeapAlloc(h, 16, 8, true), nullptr);
        EXPECT_EQ(Lib_MemHeapAlloc(h, 2 * kMiB, 8, false), nullptr);
        EXPECT_EQ(Lib_MemHeapLargestFree(h), 0u);
    }
    void* p = Lib_MemAlloc(4, 16, 8);
    EXPECT_TRUE(In(0, p));
    EXPECT_FALSE(Lib_MemHeapFree(&HeapTable.heaps[4], p));
    Lib_MemFree(4, p);
    EXPECT_EQ(HeapTable.heaps[0].usedCount, 0u);
    EXPECT_EQ(Lib_MemAlloc(2, 3 * kMiB, 8), nullptr);

    const uint64_t zero[HEAP_COUNT] = {2 * kMiB, 0, 2 * kMiB, 2 * kMiB, 2 * kMiB};
    EXPECT_FALSE(Lib_MemInit(zero));
    EXPECT_EQ(HeapTable.heaps[1].base, nullptr);
}

TEST_F(HeapGlobal, ThreadsShareHeapsSafely) {
    const uint64_t sizes[HEAP_COUNT] = {4 * kMiB, 4 * kMiB, 2 * kMiB, 2 * kMiB, 4 * kMiB};
    ASSERT_TRUE(Lib_MemInit(sizes));
    std::atomic<int> corrupt{0};
    const int heaps[3] = {0, 1, 4};
    // Each thread allocates in and frees naming any of the live heaps, so all
    // three contend for every heap and frees are often routed.
    auto worker = [&](uint8_t fill, unsigned seed) {
        std::mt19937 rng(seed);
        std::vector<std::pair<uint8_t*, uint32_t>> mine;
        for (int op = 0; op < 20000; ++op) {
            if (!mine.empty() && (rng() % 2 || mine.size() > 64)) {
                size_t k = rng() % mine.size();
                auto [p, n] = mine[k];
                for (uint32_t i = 0; i < n; ++i)
                    if (p[i] != fill) ++corrupt;
                Lib_MemFree(heaps[rng() % 3], p);
                mine[k] = mine.back();
                mine.pop_back();
            } else {
                uint32_t n = rng() % 64 == 0 ? kMiB + rng() % 4096 : 1 + rng() % 4096;
                auto* p = static_cast<uint8_t*>(Lib_MemAlloc(heaps[rng() % 3], n, 16));
                if (!p) continue;
                std::memset(p, fill, n);
                mine.push_back({p, n});
            }
        }
        for (auto [p, n] : mine) Lib_MemFree(0, p);
    };
    std::thread t0(worker, 0x11, 1), t1(worker, 0x22, 2), t2(worker, 0x33, 3);
    t0.join();
    t1.join();
    t2.join();
    EXPECT_EQ(corrupt.load(), 0);
    for (int i = 0; i < HEAP_COUNT; ++i) {
        const MemHeap& h = HeapTable.heaps[i];
        EXPECT_EQ(CheckHeap(h), "") << i;
        EXPECT_EQ(h.usedCount, 0u) << i;
        EXPECT_EQ(Lib_MemHeapLargestFree(&HeapTable.heaps[i]), h.firstFreeSize) << i;
    }
}

#if defined(VN_SANITIZE) && (defined(__SANITIZE_ADDRESS__) || defined(__clang__))
TEST(HeapSanitize, OverrunAndUseAfterFreeAreCaught) {
    LocalHeap lh(64 * 1024);
    auto* p = static_cast<volatile uint8_t*>(lh.bottom(40));
    p[39] = 1;
    EXPECT_DEATH(p[40] = 1, "use-after-poison");
    EXPECT_DEATH(p[-1] = 1, "use-after-poison");
    Lib_MemHeapFree(&lh.heap, const_cast<uint8_t*>(p));
    EXPECT_DEATH(p[0] = 1, "use-after-poison");
}
#endif
