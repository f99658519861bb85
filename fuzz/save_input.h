// The input of the save targets: byte 0 picks which files exist and which
// are gzip-wrapped, bytes 1..4 the lengths of the registry and
// registry_next parts (10 bits each), and the rest is save.cdf. A file is
// taken raw or, to reach the layout checks past the inflater, as the gzip
// file (with the store's 8-byte trailer) of the fuzzed bytes.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "story/save_store.h"

namespace fuzz_save {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

struct Files {
    bool hasSave = false, hasRegistry = false, hasNext = false;
    std::string save, registry, next;
};

inline std::string Wrap(const uint8_t* data, size_t size, bool gzip) {
    if (!gzip) return std::string(reinterpret_cast<const char*>(data), size);
    z_stream z{};
    Check(deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::string out(deflateBound(&z, uLong(size)) + 8, '\0');
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    const uint32_t trailer[2] = {0, uint32_t(size)};
    out.append(reinterpret_cast<const char*>(trailer), 8);
    return out;
}

// False for an input too short to hold the header.
inline bool Split(const uint8_t* data, size_t size, Files* f) {
    if (size < 5) return false;
    const uint8_t mode = data[0];
    const size_t regSize = std::min<size_t>(data[1] | (data[2] & 3) << 8, size - 5);
    const size_t nextSize = std::min<size_t>(data[3] | (data[4] & 3) << 8, size - 5 - regSize);
    const uint8_t* reg = data + 5;
    const uint8_t* next = reg + regSize;
    const uint8_t* save = next + nextSize;
    f->hasSave = !(mode & 8);
    f->hasRegistry = !(mode & 16);
    f->hasNext = mode & 32;
    f->save = Wrap(save, size - 5 - regSize - nextSize, mode & 1);
    f->registry = Wrap(reg, regSize, mode & 2);
    f->next = Wrap(next, nextSize, mode & 4);
    return true;
}

// Every slot checked and every part of it reached by name, as a query and a
// pointer; the parts of slot `read` (mod the slot count) are read out too.
inline void CheckSlots(uint32_t read) {
    SaveInfo info;
    static uint8_t block[SaveDataSize(kSaveQuickSlot)];
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        const uint32_t check = Lib_SaveSlotCheck(s, &info);
        Check(check <= 2);
        if (check == 0) Check(std::strlen(info.title) < 128 && std::strlen(info.detail) < 1024);
        for (const char* ext : {".bin.gz", ".prm.gz", ".pic.gz"}) {
            char name[64];
            Lib_SaveFileName(s, name, sizeof name, ext);
            uint32_t partSize = 0;
            void* at = nullptr;
            Lib_SaveDataAccess(0, name, nullptr, &partSize, 0);
            if (uint32_t(s) == read % kSaveSlots) Lib_SaveDataAccess(2, name, block, &partSize, 0);
            Lib_SaveDataAccess(4, name, &at, &partSize, 0);
            Check(at != nullptr && partSize <= sizeof block);
        }
    }
}

}  // namespace fuzz_save
