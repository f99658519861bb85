#include "engine/core/cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "engine/core/heap.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override { Init(80 * kMiB); }
    void TearDown() override {
        Lib_CashReset();
        Lib_MemRelease();
    }
    static void Init(uint64_t cacheHeap) {
        const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 8 * kMiB, 2 * kMiB, cacheHeap, 8 * kMiB};
        ASSERT_TRUE(Lib_MemInit(sizes));
    }
    static CacheEntry* Make(const std::string& name, uint32_t tag, bool complete, uint64_t size = 64) {
        CacheEntry* e = Lib_CashEntryOf(Lib_CashAlloc(name.c_str(), size, 8), 8);
        if (e) e->tag = tag;
        if (e && complete) Lib_CashSetComplete(e);
        return e;
    }
    // An ASCII name whose probe-0 bucket is `bucket` (brute force).
    static std::string NameInBucket(int32_t bucket, const std::string& prefix) {
        for (int i = 0;; ++i)
            if (Lib_CashHash(0, (prefix + std::to_string(i)).c_str(), -1) == bucket) return prefix + std::to_string(i);
    }
};

TEST_F(CacheTest, HeaderDataOffsetAndNameLimit) {
    const uint64_t aligns[] = {8, 32, 64, 128, 256, 16384}, offsets[] = {288, 288, 320, 384, 512, 16384};
    for (int i = 0; i < 6; ++i) {
        std::string name = "visual/a" + std::to_string(i) + ".ext";
        uint8_t* data = static_cast<uint8_t*>(Lib_CashAlloc(name.c_str(), 1000, aligns[i]));
        CacheEntry* e = Lib_CashGetHitInfo(name.c_str(), -1);
        ASSERT_TRUE(data && e);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % aligns[i], 0u);
        EXPECT_EQ(data - reinterpret_cast<uint8_t*>(e), int64_t(offsets[i]));
        EXPECT_EQ(e->dataSize, 1000u);
        EXPECT_EQ(e->align, aligns[i]);
        EXPECT_EQ(e->state + e->tag, 0u);
        EXPECT_EQ(e->id, -9999);
        EXPECT_STREQ(e->name, name.c_str());
        std::memset(data, 0xAB, 1000);
    }
    EXPECT_EQ(Lib_CashGetHitInfo("VISUAL/a0.ext", -1), nullptr);  // exact names
    EXPECT_EQ(Lib_CashGetHitInfo("", -5), nullptr);
    EXPECT_EQ(Lib_CashLookup("visual/a0.ext", nullptr, nullptr), 0);  // still being filled
    std::string n255(255, 'n'), n256(256, 'n');
    EXPECT_EQ(Lib_CashAlloc(n256.c_str(), 16, 8), nullptr);
    ASSERT_NE(Lib_CashAlloc(n255.c_str(), 16, 8), nullptr);
    EXPECT_EQ(std::strlen(Lib_CashGetHitInfo(n255.c_str(), -1)->name), 255u);
}

// Freeing an entry must not hide entries stored at later probes, nor one
// kept outside the hash because its buckets were taken.
TEST_F(CacheTest, FreedBucketsKeepOtherEntriesFindable) {
    // "first" takes the bucket that is also probe 0 of `second`, which goes to
    // its probe 1: freeing "first" must leave `second` reachable by probing
    // (nothing lives outside the hash yet, so no linear search can help).
    std::string second = NameInBucket(Lib_CashHash(0, "first", -1), "second");
    Make("first", 0, true);
    CacheEntry* b = Make(second, 1, true);
    ASSERT_NE(b, nullptr);
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("first", -1), nullptr);
    EXPECT_EQ(Lib_CashGetHitInfo(second.c_str(), -1), b);
    CacheEntry* again = Make("first", 0, true);  // a freed bucket is used again
    EXPECT_EQ(Lib_CashGetHitInfo("first", -1), again);
    EXPECT_EQ(Lib_CashGetHitInfo(second.c_str(), -1), b);

    std::string high(100, '\x81');  // no bucket for probes 2-9
    for (int k = 2; k < 10; ++k) ASSERT_LT(Lib_CashHash(k, high.c_str(), -1), 0);
    Make(NameInBucket(Lib_CashHash(0, high.c_str(), -1), "p0-"), 0, true);
    CacheEntry* o1 = Make(NameInBucket(Lib_CashHash(1, high.c_str(), -1), "p1-"), 1, true);
    CacheEntry* h = Make(high, 1, true);
    ASSERT_TRUE(o1 && h);
    EXPECT_EQ(Lib_CashGetHitInfo(high.c_str(), -1), h);
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo(high.c_str(), -1), h);
    EXPECT_EQ(Lib_CashGetHitInfo(second.c_str(), -1), b);
    Lib_CashRemove(h);
    EXPECT_EQ(Lib_CashGetHitInfo(high.c_str(), -1), nullptr);
}

TEST_F(CacheTest, FreeGroupTakesOnlyCompleteEntriesOfTheTag) {
    MemHeap* heap = &HeapTable.heaps[HEAP_CACHE];
    uint64_t freeAtStart = Lib_MemHeapLargestFree(heap);
    EXPECT_TRUE(Lib_CashHasLargeBlock());
    CacheEntry* t1 = Make("t1", 1, true, 5000);
    CacheEntry* filling = Make("filling", 0, false, 5000);
    CacheEntry* t4 = Make("t4", 4, true, 5000);
    ASSERT_TRUE(Make("t0", 0, true, 5000) && Make("t0b", 0, true, 20 * kMiB) && t1 && filling && t4);
    EXPECT_FALSE(Lib_CashHasLargeBlock());
    EXPECT_EQ(Lib_CashAlloc("huge", 100 * kMiB, 8), nullptr);  // no fallback to other heaps

    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("t0", -1), nullptr);
    EXPECT_EQ(Lib_CashGetHitInfo("t0b", -1), nullptr);
    EXPECT_EQ(Lib_CashGetHitInfo("t1", -1), t1);
    EXPECT_EQ(Lib_CashGetHitInfo("filling", -1), filling);  // its reader still writes to it
    EXPECT_EQ(Lib_CashGetHitInfo("t4", -1), t4);
    EXPECT_TRUE(Lib_CashHasLargeBlock());

    Lib_CashFreeGroup(4);
    Lib_CashSetComplete(filling);
    t1->tag = 0;
    Lib_CashFreeGroup(0);
    EXPECT_EQ(heap->usedCount, 0u);
    EXPECT_EQ(Lib_MemHeapLargestFree(heap), freeAtStart);  // merged back into one block
}

// A loader thread creates and fills entries while this thread looks them up
// and frees group 0 (meant for the sanitizer builds).
TEST_F(CacheTest, LoaderAndGameThreadsShareTheCache) {
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int round = 0; round < 5; ++round) {
            for (int i = 0; i < 400; ++i) {
                std::string name = "file/" + std::to_string(i);
                if (Lib_CashGetHitInfo(name.c_str(), -1)) continue;
                uint8_t* data = static_cast<uint8_t*>(Lib_CashAlloc(name.c_str(), 256, 32));
                std::memset(data, uint8_t(i), 256);
                Lib_CashSetComplete(Lib_CashEntryOf(data, 32));
            }
        }
        done = true;
    });
    while (!done) {
        for (int i = 0; i < 400; i += 7) {
            void* data = nullptr;
            uint64_t size = 0;
            if (Lib_CashLookup(("file/" + std::to_string(i)).c_str(), &data, &size) == 1) {
                EXPECT_EQ(static_cast<uint8_t*>(data)[size - 1], uint8_t(i));
            }
        }
        Lib_CashFreeGroup(0);
    }
    loader.join();
    Lib_CashFreeGroup(0);
    EXPECT_EQ(HeapTable.heaps[HEAP_CACHE].usedCount, 0u);
}

}  // namespace
