#pragma once
// Puts a file into the named cache as the loader leaves one it has read
// whole: complete, in place of any entry of that name. False when the cache
// has no room for it.

#include <cstring>
#include <string>

#include "engine/core/cache.h"

inline bool CachedFilePut(const char* name, const std::string& bytes) {
    if (CacheEntry* old = Lib_CashGetHitInfo(name, kCacheEntryId)) Lib_CashRemove(old);
    void* data = Lib_CashAlloc(name, bytes.size(), 256);
    if (!data) return false;
    std::memcpy(data, bytes.data(), bytes.size());
    CacheEntry* e = Lib_CashEntryOf(data, 256);
    e->tag = 2;
    Lib_CashSetComplete(e);
    return true;
}
