#include "engine/core/thread.h"

#include <new>
#include <system_error>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"

// process-wide: emptied by Lib_ThreadTableClear; each thread leaves its slot
ThreadRecord* ThreadTable[kThreadSlots];

namespace {

ThreadRecord* UsedSlot(int32_t slot) {
    return slot >= 0 && slot < kThreadSlots ? ThreadTable[slot] : nullptr;
}

void FreeRecord(ThreadRecord* record) {
    record->~ThreadRecord();
    Lib_MemFree(HEAP_GENERAL, record);
}

// The body every worker runs: it waits to be started, then calls its function
// step after step until the function returns 1 or a stop is asked for. The
// stop bit is looked at before the started bit, so a thread deleted before it
// was ever started still ends.
void Lib_ThreadProc(ThreadRecord* record, const char* name, int32_t priority) {
    Plat_ThreadSetName(name);
    Plat_ThreadSetPriority(priority);
    record->threadId.store(Plat_ThreadId(), std::memory_order_release);
    record->threadId.notify_all();

    for (;;) {
        uint8_t control = record->control.load(std::memory_order_acquire);
        if (control & THREAD_STOP) return;
        if (!(control & THREAD_STARTED)) {
            Plat_SleepMs(1);
            continue;
        }
        if (control & THREAD_YIELD) {
            record->control.fetch_and(uint8_t(~THREAD_YIELD), std::memory_order_acq_rel);
            Plat_SleepMs(1);
            continue;
        }
        if (record->function(record->argument) == 1) return;
    }
}

}  // namespace

void Lib_ThreadTableClear() {
    for (ThreadRecord*& slot : ThreadTable) slot = nullptr;
}

int32_t Lib_ThreadSet(const char* name, ThreadFunction function, int32_t priority) {
    int32_t slot = -1;
    for (int32_t i = 0; i < kThreadSlots; ++i) {
        if (!ThreadTable[i]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        Lib_DebugPrintf("Error -> Lib_ThreadSet(%s)\n", name ? name : "");
        return -1;
    }

    void* mem = Lib_MemAlloc(HEAP_GENERAL, sizeof(ThreadRecord), alignof(ThreadRecord));
    if (!mem) return -1;
    ThreadRecord* record = new (mem) ThreadRecord();
    record->threadId.store(0, std::memory_order_relaxed);
    record->slot = slot;
    record->function = function;
    record->argument = nullptr;
    record->control.store(0, std::memory_order_relaxed);
    ThreadTable[slot] = record;

    try {
        record->handle = std::thread(Lib_ThreadProc, record, name, priority);
    } catch (const std::system_error&) {
        ThreadTable[slot] = nullptr;
        FreeRecord(record);
        return -1;
    }
    // The id is known once the thread has begun; callers may read it at once.
    record->threadId.wait(0, std::memory_order_acquire);
    return slot;
}

void Lib_ThreadStart(int32_t slot) {
    if (ThreadRecord* record = UsedSlot(slot))
        record->control.fetch_or(THREAD_STARTED, std::memory_order_release);
}

void Lib_ThreadYield(int32_t slot) {
    if (ThreadRecord* record = UsedSlot(slot))
        record->control.fetch_or(THREAD_YIELD, std::memory_order_release);
}

void Lib_ThreadDel(int32_t slot) {
    ThreadRecord* record = UsedSlot(slot);
    if (!record) return;
    record->control.fetch_or(THREAD_STOP, std::memory_order_release);
    if (record->handle.joinable()) record->handle.join();
    if (record->argument) Lib_MemFree(HEAP_GENERAL, record->argument);
    ThreadTable[slot] = nullptr;
    FreeRecord(record);
}
