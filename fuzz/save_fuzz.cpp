// The whole save store started from arbitrary save.cdf, registry.cdf and
// registry_next.cdf files on disk (fuzz/save_input.h), then every slot
// checked and every part reached by name, and the store ended. A damaged or
// missing file makes start-up write the store afresh (the whole image,
// deflated, synced, the damaged file set aside), so this target is slow on
// purpose: the reader and the checks alone run in memory in
// save_image_fuzz.cpp.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "fuzz/fuzz_scratch.h"
#include "fuzz/save_input.h"
#include "story/save_store.h"

using fuzz_save::Check;

namespace {

void Put(const char* name, bool exists, const std::string& bytes) {
    const std::string path = fuzz_scratch::Folder() + "/user/1/save/" + name;
    if (!exists) return;
    FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    if (!bytes.empty()) Check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_save_fuzz");
    std::strcpy(UserId, "1");
    std::filesystem::create_directories("user/1/save");
    const uint64_t mib = 1024 * 1024;
    const uint64_t sizes[HEAP_COUNT] = {8 * mib, 48 * mib, 2 * mib, 8 * mib, 2 * mib};
    Check(Lib_MemInit(sizes));
    Check(Lib_TaskInit());
    Lib_ThreadTableClear();
    Lib_SaveSizesSet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_save::Files files;
    if (!fuzz_save::Split(data, size, &files)) return 0;
    const std::string folder = fuzz_scratch::Folder() + "/user/1/save";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    Put("save.cdf", files.hasSave, files.save);
    Put("registry.cdf", files.hasRegistry, files.registry);
    Put("registry_next.cdf", files.hasNext, files.next);

    Check(Lib_SaveInit());
    fuzz_save::CheckSlots(data[size - 1]);
    Lib_SaveEnd();
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 0);
    return 0;
}
