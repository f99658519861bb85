// The engine's five heaps: each one region reserved at start-up and carved by a
// first-fit allocator with 32-byte block headers and power-of-two alignment.
#pragma once

#include <cstdint>
#include <mutex>

enum : int {
    HEAP_GENERAL = 0,
    HEAP_FILE = 1,
    HEAP_SCREEN = 2,
    HEAP_CACHE = 3,
    HEAP_GRAPHICS = 4,
    HEAP_COUNT = 5,
};

// Sizes the program asks for (each a multiple of 2 MiB).
inline constexpr uint64_t kHeapDefaultSizes[HEAP_COUNT] = {
    31457280ull, 629145600ull, 52428800ull, 1887436800ull, 536870912ull};

struct MemBlockHeader {
    MemBlockHeader* next;
    MemBlockHeader* prev;
    uint64_t size;   // bytes from this header to the next header, header included
    uint32_t used;   // 1 used (and the end sentinel), 0 free
    uint32_t pad;
};
static_assert(sizeof(MemBlockHeader) == 32);

inline constexpr int kHeapFitClasses = 40;

struct MemHeap {
    std::mutex mutex;
    MemBlockHeader* first = nullptr;
    MemBlockHeader* end = nullptr;
    uint8_t* base = nullptr;
    uint64_t size = 0;
    uint64_t firstFreeSize = 0;
    uint64_t bytesInUse = 0;
    uint64_t usedCount = 0;
    // Per size class k (blocks of 2^k bytes and more, header included): no
    // block below lowFit[k] can take one, so the first fit starts there.
    MemBlockHeader* lowFit[kHeapFitClasses] = {};
};

struct HeapTableT {
    MemHeap heaps[HEAP_COUNT];
    uint8_t live[HEAP_COUNT];
};
extern HeapTableT HeapTable;

// Empties the named cache (whose entries live in the old heaps), then
// reserves and lays out the five heaps with the given sizes (rounded up to
// 2 MiB). Returns false when a region could not be reserved.
bool Lib_MemInit(const uint64_t sizes[HEAP_COUNT] = kHeapDefaultSizes);
// Releases the five regions whole (shutdown).
void Lib_MemRelease();

// Alignments that are not a power of two count as 1; every block is at least
// 8-byte aligned. Falls back over the live heaps (0, 1, 4); null on failure.
void* Lib_MemAlloc(int heap, uint64_t size, uint64_t align);
// Frees in the heap named, else in whichever live heap holds the block.
void Lib_MemFree(int heap, void* data);
// Gives back the whole pages of a block in use whose contents nobody reads
// again (pixels once their texture holds them): the block keeps its address
// and size, and reads as zeros from then on. Anything but the start of a
// block in use is left alone.
void Lib_MemDiscard(void* data);
void* Lib_MemHeapAlloc(MemHeap* heap, uint64_t size, uint64_t align, bool fromBottom);
bool Lib_MemHeapFree(MemHeap* heap, void* data);
// Lays a heap out afresh over [start, start + size) (8-byte aligned, at least
// 64 bytes); takes no lock. On bad arguments zeroes and forgets the old region.
bool Lib_MemHeapInit(MemHeap* heap, void* start, uint64_t size);
// Zeroes a heap's whole region and lays it out afresh, discarding every block
// (the screen heap's reset; takes no lock). Use this rather than zeroing the
// region by hand: in sanitizer builds the region is poisoned.
void Lib_MemHeapReset(MemHeap* heap);

// Size of the largest free block of a heap, header included (0 without a region).
uint64_t Lib_MemHeapLargestFree(MemHeap* heap);
