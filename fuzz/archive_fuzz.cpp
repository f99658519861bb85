// Opening of a base archive made of arbitrary bytes, and the lookup and read
// of every file its tables name, into a heap and into the named cache.
// Besides the sanitizers, checks that nothing stays allocated afterwards.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "fuzz/fuzz_scratch.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_archive_fuzz");
    std::filesystem::create_directories("data");
    const uint64_t mib = 1024 * 1024;
    const uint64_t sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 16 * mib, 8 * mib};
    Check(Lib_MemInit(sizes));
    return 0;
}

namespace {

void Read(const char* engineName, uint32_t type) {
    char name[256];
    std::snprintf(name, sizeof name, "%s", engineName);
    void* data = nullptr;
    uint32_t size = 0;
    if (Lib_PcArcLoad(type, name, &data, &size, 16, true)) {
        Check(data != nullptr);
        if (size) Check(static_cast<uint8_t*>(data)[size - 1] == static_cast<uint8_t*>(data)[size - 1]);
        if (type != kFileTypeCache) Lib_MemFree(int(type), data);
    } else {
        Check(data == nullptr && size == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen((fuzz_scratch::Folder() + "/data/data_00.pcarc").c_str(), "wb");
    Check(f != nullptr);
    if (size) Check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    Lib_PcArcOpen();
    const PcArcRecord& rec = PcArcTable[0];
    if (rec.opened) {
        for (int32_t t = 0; t < rec.header.tableCount; ++t) {
            const uint8_t* table = rec.tables[t];
            if (!table) continue;  // a damaged table is left out on its own
            int32_t count;
            std::memcpy(&count, table + 64, 4);
            for (int32_t i = 0; i < count && i < 32; ++i) {
                const char* entry = reinterpret_cast<const char*>(table + 80 + 80 * i);
                char name[256];
                std::snprintf(name, sizeof name, "%s/%s", reinterpret_cast<const char*>(table), entry);
                size_t len = std::strlen(name);
                if (table[68] && len > 3 && std::strcmp(name + len - 3, ".gz") == 0) name[len - 3] = 0;
                char probe[256];
                std::memcpy(probe, name, sizeof name);
                Lib_PcArcFileExists(probe);
                Read(name, 0);
                Read(name, kFileTypeCache);
                Read(name, kFileTypeCache);
            }
        }
    }
    Read("visual/system/a.ext", 1);
    char version[4];
    Lib_PcArcGetVersion(-1, version);
    Lib_PcArcClose();
    Lib_CashFreeGroup(0);
    Check(HeapTable.heaps[HEAP_CACHE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_GENERAL].usedCount == 0);
    return 0;
}
