// Reading of a gzip file made of arbitrary bytes from the disk, into a heap
// and into the named cache. A file that reads must read the same both ways
// (an empty one is an entry without data in the cache and has no heap
// buffer), and must survive being written back and read again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/app_window.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "fuzz/fuzz_scratch.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_gzip_fuzz");
    std::strcpy(UserId, "1");
    std::filesystem::create_directories("user/1/save");
    const uint64_t mib = 1024 * 1024;
    const uint64_t sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 16 * mib, 8 * mib};
    Check(Lib_MemInit(sizes));
    return 0;
}

namespace {

bool Load(uint32_t type, std::string* out) {
    char name[256] = "save/fuzz.gz";
    void* data = nullptr;
    uint32_t size = 0;
    if (!Lib_FileLoad(type, name, &data, &size, 16, false)) {
        Check(data == nullptr && size == 0);
        return false;
    }
    out->assign(static_cast<char*>(data), size);
    if (type != kFileTypeCache) Lib_MemFree(int(type), data);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen((fuzz_scratch::Folder() + "/user/1/save/fuzz.gz").c_str(), "wb");
    Check(f != nullptr);
    if (size) Check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    std::string a, b, c;
    bool inHeap = Load(0, &a);
    bool inCache = Load(kFileTypeCache, &b);
    if (inCache && b.empty()) Check(!inHeap);
    else Check(inHeap == inCache);
    if (inHeap) {
        Check(a == b);
        Check(Lib_FileSave("save/fuzz.gz", a.data(), uint32_t(a.size())));
        Check(Load(1, &c) && c == a);
    }
    Lib_CashFreeGroup(0);
    Check(HeapTable.heaps[HEAP_CACHE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_GENERAL].usedCount == 0);
    return 0;
}
