#include "platform/plat_store.h"

#include <unistd.h>

#include <atomic>

namespace {
// process-wide: set by Store_Init and Store_Shutdown
std::atomic<bool> g_started{false};
// Ids are 17 decimal digits, like the ids a store client hands out.
constexpr uint64_t kUserIdBase = 10000000000000000ull;
}  // namespace

bool Store_Init() {
    g_started.store(true, std::memory_order_release);
    return true;
}

uint64_t Store_UserId() {
    if (!g_started.load(std::memory_order_acquire)) return 0;
    return kUserIdBase + uint64_t(getuid());
}

void Store_Shutdown() { g_started.store(false, std::memory_order_release); }
