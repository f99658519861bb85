#include "engine/core/heap.h"

#include <cstring>

#include "engine/core/cache.h"
#include "platform/plat_vm.h"

// In sanitizer builds the block headers are poisoned, and so is the free space
// of heaps small enough for its shadow to be cheap, so that overruns inside a
// heap are caught. The allocator's own walks are exempt from checking instead
// of unpoisoning every header they pass.
#if defined(VN_SANITIZE)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VN_HEAP_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VN_HEAP_ASAN 1
#endif
#endif

#if defined(VN_HEAP_ASAN)
#include <sanitizer/asan_interface.h>
#define HEAP_WALK __attribute__((no_sanitize("address")))
#define HEAP_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define HEAP_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define HEAP_WALK
#define HEAP_POISON(p, n) ((void)(p), (void)(n))
#define HEAP_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// process-wide: made afresh by Lib_MemInit
HeapTableT HeapTable;

namespace {

constexpr uint64_t kHeader = sizeof(MemBlockHeader);
constexpr uint64_t kGranule = 2ull * 1024 * 1024;
constexpr uint64_t kDiscardBytes = 256ull * 1024;  // a freed block this large gives its pages back
constexpr uint64_t kTopPlacementSize = 1024 * 1024;
// Headers must stay 8-byte aligned, so smaller alignments are raised to 8.
constexpr uint64_t kMinAlign = 8;
// Free space is poisoned only in heaps up to this size (see above).
constexpr uint64_t kPoisonFreeLimit = 256ull * 1024 * 1024;

uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }
MemBlockHeader* HeaderAt(uintptr_t a) { return reinterpret_cast<MemBlockHeader*>(a); }
uintptr_t AlignUp(uintptr_t v, uint64_t a) { return (v + a - 1) & ~(a - 1); }
uintptr_t AlignDown(uintptr_t v, uint64_t a) { return v & ~(a - 1); }

[[maybe_unused]] bool PoisonsFree(const MemHeap* heap) { return heap->size <= kPoisonFreeLimit; }

void ClearRecord(MemHeap* heap) {
    heap->first = heap->end = nullptr;
    for (MemBlockHeader*& low : heap->lowFit) low = nullptr;
    heap->base = nullptr;
    heap->size = heap->firstFreeSize = heap->bytesInUse = heap->usedCount = 0;
}

// Lays a region out as one free first block followed by the end sentinel.
HEAP_WALK void LayOut(MemHeap* heap, uint8_t* start, uint64_t size) {
    MemBlockHeader* first = reinterpret_cast<MemBlockHeader*>(start);
    MemBlockHeader* end = HeaderAt(Addr(start) + size - kHeader);
    *first = MemBlockHeader{end, nullptr, size - kHeader, 0, 0};
    *end = MemBlockHeader{nullptr, first, 0, 1, 0};
    heap->first = first;
    heap->end = end;
    for (MemBlockHeader*& low : heap->lowFit) low = first;
    heap->base = start;
    heap->size = size;
    heap->firstFreeSize = size - kHeader;
    heap->bytesInUse = 0;
    heap->usedCount = 0;
#if defined(VN_HEAP_ASAN)
    if (PoisonsFree(heap)) {
        HEAP_POISON(start, size);
    } else {
        HEAP_POISON(first, kHeader);
        HEAP_POISON(end, kHeader);
    }
#endif
}

// Makes a heap's region addressable again before it is zeroed or released.
// In large heaps only the headers of the list are poisoned.
[[maybe_unused]] HEAP_WALK void UnpoisonRegion(MemHeap* heap) {
#if defined(VN_HEAP_ASAN)
    if (!heap->base) return;
    if (PoisonsFree(heap)) {
        HEAP_UNPOISON(heap->base, heap->size);
        return;
    }
    for (MemBlockHeader* h = heap->first; h; h = h->next) HEAP_UNPOISON(h, kHeader);
#else
    (void)heap;
#endif
}

// The size class of a block of `need` bytes (header included).
int FitClass(uint64_t need) {
    const int k = 63 - __builtin_clzll(need | 1);
    return k < kHeapFitClasses ? k : kHeapFitClasses - 1;
}

// A block can take some block of class k: free, with room for 2^k bytes and
// the free header placed after it.
HEAP_WALK bool Serves(const MemBlockHeader* b, int k) { return !b->used && b->size >= (1ull << k) + kHeader; }

// Block b was taken or shrunk: the classes whose first candidate it was look
// further up.
HEAP_WALK void RaiseFits(MemHeap* heap, const MemBlockHeader* b) {
    for (int k = 0; k < kHeapFitClasses; ++k) {
        if (heap->lowFit[k] != b) continue;
        MemBlockHeader* low = heap->lowFit[k];
        while (low != heap->end && !Serves(low, k)) low = low->next;
        heap->lowFit[k] = low;
    }
}

// Placement from the bottom: the first free block that leaves room for the new
// block and a free header after it.
HEAP_WALK MemBlockHeader* TakeFromBottom(MemHeap* heap, uint64_t need, uint64_t a) {
    // No block below lowFit of the request's class can take it.
    MemBlockHeader* start = heap->lowFit[FitClass(need)];
    for (MemBlockHeader* b = start ? start : heap->first; b != heap->end; b = b->next) {
        if (b->used || b->size < need) continue;
        uintptr_t base = Addr(b);
        uintptr_t oldNext = Addr(b->next);
        uintptr_t d = AlignUp(base + kHeader, a);
        bool split = b == heap->first || d - kHeader != base;
        if (split) d = AlignUp(base + 2 * kHeader, a);
        uintptr_t h = d - kHeader;
        if (h + need + kHeader > oldNext) continue;

        MemBlockHeader* block = HeaderAt(h);
        MemBlockHeader* tail = HeaderAt(h + need);
        MemBlockHeader* prev = split ? b : b->prev;
        *tail = MemBlockHeader{b->next, block, oldNext - (h + need), 0, 0};
        b->next->prev = tail;
        *block = MemBlockHeader{tail, prev, need, 1, 0};
        if (split) {
            b->next = block;
            b->size = h - base;
        }
        HEAP_POISON(block, kHeader);
        HEAP_POISON(tail, kHeader);
        RaiseFits(heap, b);
        return block;
    }
    return nullptr;
}

// Placement from the top: the highest aligned position inside a free block,
// walking down from the end of the heap.
HEAP_WALK MemBlockHeader* TakeFromTop(MemHeap* heap, uint64_t need, uint64_t a) {
    for (MemBlockHeader* b = heap->end->prev; b; b = b->prev) {
        if (b->used || b->size < need) continue;
        uintptr_t base = Addr(b);
        uintptr_t h = AlignDown(base + b->size - need + kHeader, a) - kHeader;
        if (h == base) {
            if (b == heap->first) return nullptr;
            b->used = 1;
            RaiseFits(heap, b);
            return b;
        }
        if (h < base + kHeader) continue;
        MemBlockHeader* block = HeaderAt(h);
        *block = MemBlockHeader{b->next, b, Addr(b->next) - h, 1, 0};
        b->next->prev = block;
        b->next = block;
        b->size = h - base;
        HEAP_POISON(block, kHeader);
        RaiseFits(heap, b);
        return block;
    }
    return nullptr;
}

// Carves a block of `need` bytes and counts it in the statistics.
HEAP_WALK MemBlockHeader* TakeBlock(MemHeap* heap, uint64_t need, uint64_t a, bool fromBottom) {
    MemBlockHeader* block = fromBottom ? TakeFromBottom(heap, need, a) : TakeFromTop(heap, need, a);
    if (block) {
        heap->bytesInUse += block->size;
        heap->usedCount += 1;
    }
    return block;
}

// The block in use whose header is at target, else null.
HEAP_WALK MemBlockHeader* UsedBlockLocked(MemHeap* heap, uintptr_t target) {
    if (!heap->first || target < Addr(heap->base) || target >= Addr(heap->end)) return nullptr;
    // A block of this heap is linked both ways with its neighbours; anything
    // else (a pointer into a block, a header merged away) is refused.
    if (target % kMinAlign) return nullptr;
    MemBlockHeader* h = HeaderAt(target);
    auto inHeap = [heap](const MemBlockHeader* p) {
        return Addr(p) >= Addr(heap->base) && Addr(p) <= Addr(heap->end) && Addr(p) % kMinAlign == 0;
    };
    if (!inHeap(h->next) || h->next->prev != h) return nullptr;
    if (h->prev ? !inHeap(h->prev) || h->prev->next != h : h != heap->first) return nullptr;
    return h->used ? h : nullptr;  // not one already free
}

// The usable size of the block in use at `target` (its header), or 0.
HEAP_WALK uint64_t UsedSizeLocked(MemHeap* heap, uintptr_t target) {
    const MemBlockHeader* h = UsedBlockLocked(heap, target);
    return h ? h->size - kHeader : 0;
}

HEAP_WALK bool FreeLocked(MemHeap* heap, uintptr_t target) {
    MemBlockHeader* h = UsedBlockLocked(heap, target);
    if (!h) return false;

    uint64_t ownSize = h->size;
    h->used = 0;
#if defined(VN_HEAP_ASAN)
    if (PoisonsFree(heap)) HEAP_POISON(reinterpret_cast<uint8_t*>(h) + kHeader, ownSize - kHeader);
#endif
    MemBlockHeader* next = h->next;
    if (!next->used) {
        h->next = next->next;
        h->size = Addr(h->next) - Addr(h);
        h->next->prev = h;
#if defined(VN_HEAP_ASAN)
        if (!PoisonsFree(heap)) HEAP_UNPOISON(next, kHeader);
#endif
    }
    MemBlockHeader* prev = h->prev;
    MemBlockHeader* freed = h;
    if (prev && !prev->used) {
        prev->next = h->next;
        prev->size = Addr(h->next) - Addr(prev);
        h->next->prev = prev;
        freed = prev;
#if defined(VN_HEAP_ASAN)
        if (!PoisonsFree(heap)) HEAP_UNPOISON(h, kHeader);
#endif
    }
    // A large free block gives its pages back: memory touched once (a file
    // read, a decoded picture) does not stay resident after it is freed.
    if (ownSize >= kDiscardBytes) Plat_VmDiscard(reinterpret_cast<uint8_t*>(h) + kHeader, ownSize - kHeader);
    // The merged block is a candidate from here on; a class whose candidate
    // was merged into it starts at it too.
    for (int k = 0; k < kHeapFitClasses; ++k) {
        const MemBlockHeader* low = heap->lowFit[k];
        if (low && Addr(low) > Addr(freed) && (Serves(freed, k) || Addr(low) < Addr(freed->next)))
            heap->lowFit[k] = freed;
    }
    heap->bytesInUse -= ownSize;
    heap->usedCount -= 1;
    return true;
}

HEAP_WALK uint64_t LargestFreeLocked(const MemHeap* heap) {
    uint64_t largest = 0;
    for (MemBlockHeader* b = heap->first; b; b = b->next)
        if (!b->used && b->size > largest) largest = b->size;
    return largest;
}

}  // namespace

bool Lib_MemInit(const uint64_t sizes[HEAP_COUNT]) {
    Lib_CashReset();  // the named cache forgets the entries of the old heaps
    Lib_MemRelease();
    for (int i = 0; i < HEAP_COUNT; ++i) {
        HeapTable.live[i] = 1;
        uint64_t size = sizes[i];
        if (size == 0 || size > ~0ull - kGranule) return false;
        size = (size + kGranule - 1) / kGranule * kGranule;
        void* base = Plat_VmReserve(size);
        if (!base) return false;  // this heap and the later ones stay without a region
        LayOut(&HeapTable.heaps[i], static_cast<uint8_t*>(base), size);
    }
    HeapTable.live[HEAP_SCREEN] = 0;
    HeapTable.live[HEAP_CACHE] = 0;
    return true;
}

void Lib_MemRelease() {
    for (int i = 0; i < HEAP_COUNT; ++i) {
        MemHeap* heap = &HeapTable.heaps[i];
        std::lock_guard<std::mutex> lock(heap->mutex);
        UnpoisonRegion(heap);
        Plat_VmRelease(heap->base, heap->size);
        ClearRecord(heap);
        HeapTable.live[i] = 0;
    }
}

void* Lib_MemHeapAlloc(MemHeap* heap, uint64_t size, uint64_t align, bool fromBottom) {
    if (!heap || size == 0) return nullptr;
    uint64_t a = (align & (align - 1)) == 0 && align ? align : 1;
    if (a < kMinAlign) a = kMinAlign;

    std::lock_guard<std::mutex> lock(heap->mutex);
    // A size beyond the region can never fit, and would overflow the rounding.
    if (!heap->first || size > heap->size) return nullptr;
    uint64_t need = AlignUp(size, a) + kHeader;
    MemBlockHeader* block = TakeBlock(heap, need, a, fromBottom);
    if (!block) return nullptr;
    uint8_t* data = reinterpret_cast<uint8_t*>(block) + kHeader;
    HEAP_UNPOISON(data, size);
    return data;
}

bool Lib_MemHeapFree(MemHeap* heap, void* data) {
    if (!heap || !data) return false;
    std::lock_guard<std::mutex> lock(heap->mutex);
    return FreeLocked(heap, Addr(data) - kHeader);
}

bool Lib_MemHeapInit(MemHeap* heap, void* start, uint64_t size) {
    if (!heap) return false;
    // Headers are read in place, so the range must keep them 8-byte aligned.
    bool aligned = Addr(start) % kMinAlign == 0 && size % kMinAlign == 0;
    if (!start || size < 2 * kHeader || !aligned) {
        if (heap->base) {
            UnpoisonRegion(heap);
            Plat_VmZero(heap->base, heap->size);
        }
        ClearRecord(heap);
        return false;
    }
    if (start == heap->base && size == heap->size) UnpoisonRegion(heap);
    LayOut(heap, static_cast<uint8_t*>(start), size);
    return true;
}

void Lib_MemHeapReset(MemHeap* heap) {
    if (!heap || !heap->base) return;
    UnpoisonRegion(heap);
    Plat_VmZero(heap->base, heap->size);
    LayOut(heap, heap->base, heap->size);
}

void* Lib_MemAlloc(int heap, uint64_t size, uint64_t align) {
    if (heap < 0 || heap >= HEAP_COUNT) return nullptr;
    bool fromBottom = size < kTopPlacementSize;
    if (void* p = Lib_MemHeapAlloc(&HeapTable.heaps[heap], size, align, fromBottom)) return p;
    for (int i = 0; i < HEAP_COUNT; ++i) {
        if (!HeapTable.live[i]) continue;
        if (void* p = Lib_MemHeapAlloc(&HeapTable.heaps[i], size, align, fromBottom)) return p;
    }
    return nullptr;
}

void Lib_MemFree(int heap, void* data) {
    if (!data) return;
    bool named = heap >= 0 && heap < HEAP_COUNT;
    if (named && Lib_MemHeapFree(&HeapTable.heaps[heap], data)) return;
    for (int i = 0; i < HEAP_COUNT; ++i) {
        if (i == heap || !HeapTable.live[i]) continue;
        if (Lib_MemHeapFree(&HeapTable.heaps[i], data)) return;
    }
}

void Lib_MemDiscard(void* data) {
    if (!data) return;
    for (MemHeap& heap : HeapTable.heaps) {
        std::lock_guard<std::mutex> lock(heap.mutex);
        if (const uint64_t size = UsedSizeLocked(&heap, Addr(data) - kHeader)) {
            Plat_VmDiscard(data, size);
            return;
        }
    }
}

uint64_t Lib_MemHeapLargestFree(MemHeap* heap) {
    if (!heap) return 0;
    std::lock_guard<std::mutex> lock(heap->mutex);
    return heap->first ? LargestFreeLocked(heap) : 0;
}
