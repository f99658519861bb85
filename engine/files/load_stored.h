// Reading one stored file into its target, shared by the disk reader and the
// archive reader: the buffer from the request's heap or a new cache entry,
// the read, and the inflation of gzip files.
#pragma once

#include <cstdint>

struct CacheEntry;

enum LoadStep : int {
    LOAD_DONE = 0,
    LOAD_NO_BUFFER,    // no buffer for the stored bytes
    LOAD_READ_FAILED,  // the read failed or came short
    LOAD_NO_OUTPUT,    // no buffer for the inflated bytes
    LOAD_BAD_GZIP,     // too short, or inflation did not end at the stated size
    LOAD_EMPTY,        // an empty file (or gzip member) asked for in a heap
};

// Reads exactly `bytes` bytes into buffer.
using LoadReadFn = bool (*)(void* context, uint8_t* buffer, uint64_t bytes);

struct LoadJob {
    uint32_t type;          // heap 0..4, 3 = the named cache
    const char* cacheName;  // normalised name of a type-3 entry
    uint32_t align;
    bool gz;                // stored as a gzip file
    uint64_t stored;        // stored bytes (below 4 GiB)
    LoadReadFn read;
    void* context;
};

// Delivers the data and its size. An empty file, stored empty or as a gzip
// member that holds nothing, is the same file both ways: into the cache an
// entry without data, into a heap a refusal (no heap hands out 0 bytes).
// For type 3 *entry receives the new cache
// entry, still in state 0: the caller marks it complete. On failure nothing
// stays allocated (a new cache entry is removed again).
LoadStep Lib_LoadStored(const LoadJob& job, void** data, uint32_t* size, CacheEntry** entry);

// Delivers a complete cache entry of the name, waiting while another thread
// fills it. False when the cache holds no entry of the name. With `pinned`
// the entry is pinned and stored there.
bool Lib_LoadFromCache(const char* name, void** data, uint32_t* size, CacheEntry** pinned = nullptr);
