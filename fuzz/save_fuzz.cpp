// The save store started from arbitrary save.cdf, registry.cdf and
// registry_next.cdf files, then every slot checked and every part reached by
// name. Each file is taken raw or, to reach the layout checks, as the gzip
// file of the fuzzed bytes (chosen by the first byte).
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "story/save_store.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Setup() {
    char tmpl[] = "/tmp/vn_save_fuzz_XXXXXX";
    Check(::mkdtemp(tmpl) != nullptr);
    std::filesystem::current_path(tmpl);
    std::strcpy(UserId, "1");
    std::filesystem::create_directories("user/1/save");
    const uint64_t mib = 1024 * 1024;
    const uint64_t sizes[HEAP_COUNT] = {8 * mib, 48 * mib, 2 * mib, 8 * mib, 2 * mib};
    Lib_CashReset();
    Check(Lib_MemInit(sizes));
    Lib_CashReset();
    Check(Lib_TaskInit());
    Lib_ThreadTableClear();
    for (int i = 0; i < 32; ++i) SaveBinSizeTable[i] = 135752;
    SaveBinSizeTable[32] = 4379;
    SaveBinSizeTable[33] = 366152;
    return true;
}

void Put(const char* path, const uint8_t* data, size_t size, bool gzip) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (gzip) {
        z_stream z{};
        deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        std::string out(deflateBound(&z, uLong(size)) + 8, '\0');
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = uInt(size);
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        uint32_t trailer[2] = {0, uint32_t(size)};
        out.append(reinterpret_cast<const char*>(trailer), 8);
        bytes = out;
    }
    FILE* f = std::fopen(path, "wb");
    Check(f != nullptr);
    if (!bytes.empty()) Check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = Setup();
    (void)ready;
    if (size < 5) return 0;
    // Byte 0: which files are gzip-wrapped and which exist; bytes 1..4: the
    // lengths of the registry and registry_next parts; the rest is save.cdf.
    uint8_t mode = data[0];
    size_t regSize = std::min<size_t>(data[1] | (data[2] & 3) << 8, size - 5);
    size_t nextSize = std::min<size_t>(data[3] | (data[4] & 3) << 8, size - 5 - regSize);
    const uint8_t* reg = data + 5;
    const uint8_t* next = reg + regSize;
    const uint8_t* save = next + nextSize;
    size_t saveSize = size - 5 - regSize - nextSize;
    std::filesystem::remove_all("user/1/save");
    std::filesystem::create_directories("user/1/save");
    if (!(mode & 8)) Put("user/1/save/save.cdf", save, saveSize, mode & 1);
    if (!(mode & 16)) Put("user/1/save/registry.cdf", reg, regSize, mode & 2);
    if (mode & 32) Put("user/1/save/registry_next.cdf", next, nextSize, mode & 4);

    Check(Lib_SaveInit());
    SaveInfo info;
    static uint8_t block[366152];
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        uint32_t check = Lib_SaveSlotCheck(s, &info);
        Check(check <= 2);
        if (check == 0) Check(std::strlen(info.title) < 128 && std::strlen(info.detail) < 1024);
        for (const char* ext : {".bin.gz", ".prm.gz", ".pic.gz"}) {
            char name[64];
            Lib_SaveFileName(s, name, sizeof name, ext);
            uint32_t partSize = 0;
            void* at = nullptr;
            Lib_SaveDataAccess(0, name, nullptr, &partSize, 0);
            Lib_SaveDataAccess(2, name, block, &partSize, 0);
            Lib_SaveDataAccess(4, name, &at, &partSize, 0);
            Check(at != nullptr && partSize <= sizeof block);
        }
    }
    Lib_SaveEnd();
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 0);
    return 0;
}
