#include "engine/core/cache.h"

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"

namespace {

constexpr uint64_t kHeaderSize = sizeof(CacheEntry);
constexpr uint64_t kLargeBlock = 64ull * 1024 * 1024;

// Open addressing over 9973 buckets. A removed entry leaves a tombstone, so
// entries stored at later probes of the same names stay reachable; buckets
// never return to empty except by Lib_CashReset. An empty bucket therefore
// proves that no entry sits at a later probe of that name.
// process-wide: a marker whose address alone is used
CacheEntry g_tombstoneEntry;
CacheEntry* const kTombstone = &g_tombstoneEntry;
// process-wide: emptied by Lib_CashReset at the cache's start
CacheEntry* CacheHashTable[kCacheBuckets];

// Every live entry with the bucket it occupies (-1 for none). This stands in
// for walking heap 3's block list: it holds exactly the cache's blocks.
struct Live {
    CacheEntry* entry;
    int32_t bucket;
    uint32_t pins;  // request slots holding the entry's data
};
// process-wide (g_live, g_outsideHash): emptied by Lib_CashReset at the cache's start
std::vector<Live> g_live;
size_t g_outsideHash = 0;  // live entries that occupy no bucket
// process-wide: a lock
std::mutex g_mutex;

MemHeap* CacheHeap() { return &HeapTable.heaps[HEAP_CACHE]; }

uint64_t NormalAlign(uint64_t align) {
    if (align == 0 || (align & (align - 1)) != 0) return 8;
    return align < 8 ? 8 : align;
}

bool NameFits(const char* name) { return !name || ::strnlen(name, kCacheNameLimit) < kCacheNameLimit; }

// The ten buckets of a name (or of an id for a null or empty name), from one
// digest. Probe k >= 2 is k * Q + H0 with Q the sum of the name's bytes as
// signed values and H0 probe 0's bucket; a negative remainder means none.
void Buckets(const char* name, int32_t id, int32_t out[kCacheProbes]) {
    if (!name || !name[0]) {
        int32_t b = id < 0 ? -1 : id % kCacheBuckets;
        for (int32_t k = 0; k < kCacheProbes; ++k) out[k] = b;
        return;
    }
    size_t len = std::strlen(name);
    uint8_t d[20];
    Lib_Sha1(name, uint32_t(len > 0xFFFFFFFFu ? 0xFFFFFFFFu : len), d);
    int32_t s = 0;
    for (int i = 0; i < 20; ++i) s += int32_t(d[i]) * (20 - i);
    int32_t h0 = s % kCacheBuckets;
    int32_t q = 0;
    for (size_t i = 0; i < len; ++i) q = int32_t(uint32_t(q) + uint32_t(int32_t(int8_t(name[i]))));
    out[0] = h0;
    out[1] = ((int32_t(d[0]) << 8) | (int32_t(d[10]) << 4) | int32_t(d[19])) % kCacheBuckets;
    for (int32_t k = 2; k < kCacheProbes; ++k) {
        int32_t h = int32_t(uint32_t(k) * uint32_t(q) + uint32_t(h0));
        int32_t b = h % kCacheBuckets;
        out[k] = b < 0 ? -1 : b;
    }
}

bool Matches(const CacheEntry* e, const char* name, int32_t id) {
    if (name && name[0]) return e->name[0] && std::strcmp(e->name, name) == 0;
    return e->id == id;
}

CacheEntry* FindLocked(const char* name, int32_t id) {
    bool named = name && name[0];
    if (!named && id < 0) return nullptr;
    if (named && !NameFits(name)) return nullptr;
    if (named) {
        int32_t b[kCacheProbes];
        Buckets(name, id, b);
        for (int32_t k = 0; k < kCacheProbes; ++k) {
            if (b[k] < 0) continue;
            CacheEntry* e = CacheHashTable[b[k]];
            if (!e) break;
            if (e != kTombstone && Matches(e, name, id)) return e;
        }
        if (g_outsideHash == 0) return nullptr;
    }
    Lib_DebugPrintf("Hash No Match -> Lib_CashGetHitInfo(%s,%d)\n", named ? name : "", id);
    // Newest first, as the walk from the top of heap 3 would meet them.
    for (size_t i = g_live.size(); i-- > 0;) {
        CacheEntry* e = g_live[i].entry;
        if (named ? g_live[i].bucket < 0 && Matches(e, name, id) : e->id == id) return e;
    }
    return nullptr;
}

// Index of a live entry in g_live, or -1.
ptrdiff_t IndexOfLocked(const CacheEntry* entry) {
    for (size_t i = 0; i < g_live.size(); ++i)
        if (g_live[i].entry == entry) return ptrdiff_t(i);
    return -1;
}

// Takes entry i out of the hash and the live list and frees its block.
void RemoveAtLocked(size_t i) {
    Live live = g_live[i];
    if (live.bucket >= 0) {
        CacheHashTable[live.bucket] = kTombstone;
    } else {
        Lib_DebugPrintf("Hash No Match -> Lib_CashFreeGroup(%s,%d)\n", live.entry->name, live.entry->id);
        --g_outsideHash;
    }
    g_live[i] = g_live.back();
    g_live.pop_back();
    live.entry->~CacheEntry();
    Lib_MemHeapFree(CacheHeap(), live.entry);
}

}  // namespace

void Lib_CashReset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (CacheEntry*& b : CacheHashTable) b = nullptr;
    g_live.clear();
    g_outsideHash = 0;
}

int32_t Lib_CashHash(int32_t probe, const char* name, int32_t id) {
    if (probe < 0 || probe >= kCacheProbes) return -1;
    int32_t b[kCacheProbes];
    Buckets(name, id, b);
    return b[probe];
}

CacheEntry* Lib_CashGetHitInfo(const char* name, int32_t id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return FindLocked(name, id);
}

uint64_t Lib_CashDataOffset(uint64_t align) {
    uint64_t a = NormalAlign(align);
    return (kHeaderSize + a - 1) / a * a;
}

uint8_t* Lib_CashData(CacheEntry* entry) {
    return entry ? reinterpret_cast<uint8_t*>(entry) + Lib_CashDataOffset(entry->align) : nullptr;
}

CacheEntry* Lib_CashEntryOf(void* data, uint64_t align) {
    if (!data) return nullptr;
    return reinterpret_cast<CacheEntry*>(static_cast<uint8_t*>(data) - Lib_CashDataOffset(align));
}

void* Lib_CashAlloc(const char* name, uint64_t size, uint64_t align) {
    if (!NameFits(name)) {
        Lib_DebugPrintf("Error -> Lib_CashAlloc(%s:%d:%d)\n", name, -1, int32_t(size));
        return nullptr;
    }
    uint64_t a = NormalAlign(align);
    uint64_t offset = Lib_CashDataOffset(a);
    std::lock_guard<std::mutex> lock(g_mutex);
    void* block = nullptr;
    if (size <= CacheHeap()->size) block = Lib_MemHeapAlloc(CacheHeap(), (size + a - 1) / a * a + offset, a, false);
    if (!block) {
        Lib_DebugPrintf("Error -> Lib_CashAlloc(%s:%d:%d)\n", name ? name : "", -1, int32_t(size));
        return nullptr;
    }
    try {
        g_live.reserve(g_live.size() + 1);
    } catch (const std::bad_alloc&) {
        Lib_MemHeapFree(CacheHeap(), block);
        return nullptr;
    }

    CacheEntry* e = new (block) CacheEntry;
    e->dataSize = size;
    e->align = a;
    e->state.store(0, std::memory_order_relaxed);
    e->tag.store(0, std::memory_order_relaxed);
    e->id = kCacheEntryId;
    std::memset(e->name, 0, sizeof e->name);
    if (name) std::memcpy(e->name, name, std::strlen(name));

    int32_t b[kCacheProbes];
    Buckets(e->name, -1, b);
    int32_t bucket = -1;
    for (int32_t k = 0; k < kCacheProbes && bucket < 0; ++k) {
        if (b[k] < 0) continue;
        CacheEntry* held = CacheHashTable[b[k]];
        if (!held || held == kTombstone) bucket = b[k];
    }
    if (bucket >= 0) {
        CacheHashTable[bucket] = e;
    } else {
        int32_t last = b[kCacheProbes - 1];
        Lib_DebugPrintf("Hash No Match -> Lib_CashAlloc(%s,%d,%d)\n", e->name, -1, last);
        if (last >= 0 && CacheHashTable[last] && CacheHashTable[last] != kTombstone)
            Lib_DebugPrintf("              -> %s, %d\n", CacheHashTable[last]->name, CacheHashTable[last]->id);
        ++g_outsideHash;
    }
    g_live.push_back(Live{e, bucket, 0});
    return reinterpret_cast<uint8_t*>(e) + offset;
}

void Lib_CashFreeGroup(uint32_t tag) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = g_live.size(); i-- > 0;) {
        CacheEntry* e = g_live[i].entry;
        // An entry still being filled belongs to its reader until complete;
        // a pinned one to the request that was handed it.
        if (e->tag.load(std::memory_order_relaxed) != tag || g_live[i].pins) continue;
        if (e->state.load(std::memory_order_acquire) != 1) continue;
        RemoveAtLocked(i);
    }
}

bool Lib_CashSetTag(const char* name, int32_t id, uint32_t tag, uint32_t onlyUpTo) {
    std::lock_guard<std::mutex> lock(g_mutex);
    CacheEntry* e = FindLocked(name, id);
    if (!e || e->tag.load(std::memory_order_relaxed) > onlyUpTo) return false;
    e->tag.store(tag, std::memory_order_relaxed);
    return true;
}

void Lib_CashUnpin(CacheEntry* entry) {
    if (!entry) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    ptrdiff_t i = IndexOfLocked(entry);
    if (i >= 0 && g_live[size_t(i)].pins) --g_live[size_t(i)].pins;
}

void Lib_CashRemove(CacheEntry* entry) {
    if (!entry) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    ptrdiff_t i = IndexOfLocked(entry);
    if (i >= 0) RemoveAtLocked(size_t(i));
}

void Lib_CashSetComplete(CacheEntry* entry, bool pin) {
    if (!entry) return;
    if (!pin) {
        entry->state.store(1, std::memory_order_release);
        return;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    ptrdiff_t i = IndexOfLocked(entry);
    if (i >= 0) ++g_live[size_t(i)].pins;
    entry->state.store(1, std::memory_order_release);
}

int32_t Lib_CashLookup(const char* name, void** data, uint64_t* size, CacheEntry** pinned) {
    std::lock_guard<std::mutex> lock(g_mutex);
    CacheEntry* e = FindLocked(name, -1);
    if (!e) return -1;
    if (e->state.load(std::memory_order_acquire) != 1) return 0;
    if (data) *data = Lib_CashData(e);
    if (size) *size = e->dataSize;
    if (pinned) {
        ptrdiff_t i = IndexOfLocked(e);
        if (i >= 0) ++g_live[size_t(i)].pins;
        *pinned = e;
    }
    return 1;
}

bool Lib_CashHasLargeBlock() { return Lib_MemHeapLargestFree(CacheHeap()) >= kLargeBlock; }
