// A "script/script.arc" of one member, "bench.txt", put straight into the
// named cache as a complete entry, for the benchmarks that run the script task.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/core/cache.h"

namespace script_bench {

inline bool CacheOneMemberScriptArc(const std::string& text) {
    std::string arc(8 + 72, '\0');
    const uint32_t count = 1, size = uint32_t(text.size()), offset = 80;
    std::memcpy(&arc[4], &count, 4);
    std::memcpy(&arc[8], "bench.txt", 9);
    std::memcpy(&arc[72], &size, 4);
    std::memcpy(&arc[76], &offset, 4);
    arc += text;
    void* data = Lib_CashAlloc("script/script.arc", arc.size(), 256);
    if (!data) return false;
    std::memcpy(data, arc.data(), arc.size());
    CacheEntry* e = Lib_CashEntryOf(data, 256);
    e->tag = 2;
    Lib_CashSetComplete(e);
    return true;
}

}  // namespace script_bench
