// The save store's reader and slot checks in memory: save.cdf and
// registry.cdf of arbitrary bytes (fuzz/save_input.h) read as start-up reads
// them, with no disk and no writer, then every slot checked and every part
// reached by name. Nothing but the store's own buffers may stay allocated.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "fuzz/save_input.h"
#include "story/save_store.h"

using fuzz_save::Check;

namespace {

// An exact-size copy, so that any read past the file is caught; null for a
// missing file.
std::unique_ptr<uint8_t[]> Copy(bool exists, const std::string& s) {
    if (!exists) return nullptr;
    std::unique_ptr<uint8_t[]> out(new uint8_t[s.size() ? s.size() : 1]);
    std::memcpy(out.get(), s.data(), s.size());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const uint64_t mib = 1024 * 1024;
    const uint64_t sizes[HEAP_COUNT] = {2 * mib, 24 * mib, 2 * mib, 2 * mib, 2 * mib};
    Check(Lib_MemInit(sizes));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_save::Files files;
    if (!fuzz_save::Split(data, size, &files)) return 0;
    const auto save = Copy(files.hasSave, files.save), registry = Copy(files.hasRegistry, files.registry);
    Check(Lib_SaveReadFrom(save.get(), files.save.size(), registry.get(), files.registry.size()));
    fuzz_save::CheckSlots(data[size - 1]);
    // The image and the table stay for the next input; nothing else may.
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 2);
    return 0;
}
