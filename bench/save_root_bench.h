// The set-up the save benchmarks share: a scratch folder as the current one,
// small heaps, the task table and the save store's slot sizes for user "7".
// The destructor ends the store, frees the heaps and removes the folder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "story/save_store.h"

struct SaveBenchRoot {
    std::filesystem::path dir, old;
    // `heap2And4Mib`: the size of the two small heaps.
    explicit SaveBenchRoot(const char* tag, uint64_t heap2And4Mib = 2) {
        std::string tmpl = std::string("/tmp/vn_") + tag + "_bench_XXXXXX";
        dir = ::mkdtemp(tmpl.data());
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        const uint64_t mib = 1024 * 1024;
        const uint64_t sizes[HEAP_COUNT] = {16 * mib, 64 * mib, heap2And4Mib * mib, 8 * mib, heap2And4Mib * mib};
        Lib_MemInit(sizes);
        Lib_TaskInit();
        Lib_ThreadTableClear();
        std::strcpy(UserId, "7");
        Lib_SaveSizesSet();
    }
    ~SaveBenchRoot() {
        Lib_SaveEnd();
        Lib_CashReset();
        Lib_MemRelease();
        std::filesystem::current_path(old);
        std::filesystem::remove_all(dir);
    }
    SaveBenchRoot(const SaveBenchRoot&) = delete;
    SaveBenchRoot& operator=(const SaveBenchRoot&) = delete;
};
