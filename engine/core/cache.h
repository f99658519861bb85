// The named file cache: whole files kept in heap 3 under their names, so that
// a file several users need is read once and shared.
//
// Each cached file is one heap-3 block: a 288-byte CacheEntry header followed
// by the data, which starts at the first multiple of the entry's alignment
// that is at least 288 bytes from the header (Lib_CashDataOffset). Names are
// compared byte for byte; callers pass names already normalised by
// Lib_FileNameNormalise (lower case, Shift-JIS), so one file has one entry.
//
// Every operation takes the cache mutex (lock order: loader, archive, cache,
// heap), so the loader, the game thread and the sound worker may share it.
//
// An entry handed to a file-load request is pinned until the request slot is
// released: Lib_CashFreeGroup leaves pinned entries alone, so a user can take
// (and tag) the data it was given before a trim may free it. Users tag
// entries only through Lib_CashSetTag (Lib_FileCacheTag for a file name),
// never through a header pointer of their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct CacheEntry {
    uint64_t dataSize;
    uint64_t align;
    // 0 while the data is being filled, 1 once it is complete: stored with
    // release after the data, read with acquire before the data is used.
    std::atomic<uint32_t> state;
    // Group tag: 0 at creation; users raise it while they hold the data.
    std::atomic<uint32_t> tag;
    int32_t id;      // always -9999
    char name[260];  // NUL-terminated, under 256 bytes
};
static_assert(sizeof(CacheEntry) == 288);
static_assert(offsetof(CacheEntry, state) == 16 && offsetof(CacheEntry, tag) == 20 &&
              offsetof(CacheEntry, id) == 24 && offsetof(CacheEntry, name) == 28);

inline constexpr int32_t kCacheBuckets = 9973;
inline constexpr int32_t kCacheProbes = 10;
inline constexpr int32_t kCacheEntryId = -9999;
// Names of this many bytes or more are refused.
inline constexpr size_t kCacheNameLimit = 256;

// Empties the hash table and forgets every entry (Lib_MemInit does it before
// it lays out heap 3 afresh).
void Lib_CashReset();

// Bucket of probe 0..9 for a name (or, for a null or empty name, an id);
// negative when the probe has no bucket.
int32_t Lib_CashHash(int32_t probe, const char* name, int32_t id);
// The entry of that name (an empty or null name: of that id), or null. The
// state is not looked at: check that it is 1 before using the data.
CacheEntry* Lib_CashGetHitInfo(const char* name, int32_t id);
// Creates an entry (state 0, tag 0) in heap 3 from the top and returns its
// data pointer, or null when heap 3 has no room or the name is 256 bytes or
// longer. An alignment that is not a power of two counts as 8. Does not look
// for an existing entry of the name.
void* Lib_CashAlloc(const char* name, uint64_t size, uint64_t align);
// Frees every complete, unpinned entry whose tag equals `tag`; entries still
// being filled (state 0) are left alone.
void Lib_CashFreeGroup(uint32_t tag);
// Sets the tag of the entry of a normalised name (an empty or null name: of
// that id) under the cache lock, when its tag is at most `onlyUpTo`. False
// when there is no such entry or its tag was left as it was.
bool Lib_CashSetTag(const char* name, int32_t id, uint32_t tag, uint32_t onlyUpTo = UINT32_MAX);
// Releases one pin (see Lib_CashLookup, Lib_CashSetComplete); an entry that is
// no longer cached is ignored.
void Lib_CashUnpin(CacheEntry* entry);

// Removes one entry from the cache and frees it (a failed read's entry).
void Lib_CashRemove(CacheEntry* entry);
// Marks an entry complete (release); with `pin` it is pinned in the same step.
void Lib_CashSetComplete(CacheEntry* entry, bool pin = false);
// A consistent look at the entry of a name: -1 when there is none, else its
// state (0 being filled, 1 complete); data and size are delivered only when
// the state is 1, and then, when `pinned` is given, the entry is pinned and
// stored there.
int32_t Lib_CashLookup(const char* name, void** data, uint64_t* size, CacheEntry** pinned = nullptr);

// Data offset for an alignment: 288 rounded up to it (288, 320 for 64, 384
// for 128, 512 for 256, 16384 for 16384).
uint64_t Lib_CashDataOffset(uint64_t align);
uint8_t* Lib_CashData(CacheEntry* entry);
// The entry whose data pointer Lib_CashAlloc returned for this alignment.
CacheEntry* Lib_CashEntryOf(void* data, uint64_t align);

// True when heap 3 has at least 64 MiB free in one block.
bool Lib_CashHasLargeBlock();
