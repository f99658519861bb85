#include "engine/core/task.h"

#include <cstddef>
#include <new>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"

// process-wide: made afresh by Lib_TaskInit
TaskTableT TaskTable;

namespace {

// Work areas hold arbitrary structures (pointers, 64-bit counters, vectors),
// so they get the alignment the C++ allocator would give them.
constexpr uint64_t kWorkAlign = alignof(std::max_align_t);
constexpr uint16_t kSentinelGroup = 65535;
constexpr uint16_t kTailPriority = 65535;

// True while a pass walks the list: deletions then only mark the record dead
// and leave the unlinking to the removal step, so the walk never reads freed
// memory.
// process-wide: made afresh by Lib_TaskInit
bool g_inPass = false;
// No slot below this one is free: the search for a free slot starts here.
// process-wide: made afresh by Lib_TaskInit
int32_t g_freeFrom = 0;

void SlotFreed(int32_t slot) {
    if (slot < g_freeFrom) g_freeFrom = slot;
}

int32_t SentinelCallback(void*) { return 0; }

bool HeapZeroCanHoldRecord() {
    return Lib_MemHeapLargestFree(&HeapTable.heaps[HEAP_GENERAL]) >=
           sizeof(TaskRecord) + sizeof(MemBlockHeader);
}

// Records live in heap 0 only.
TaskRecord* NewRecord(int32_t slot, TaskCallback callback, uint16_t priority, uint16_t group,
                      uint8_t flags) {
    void* mem = Lib_MemHeapAlloc(&HeapTable.heaps[HEAP_GENERAL], sizeof(TaskRecord), alignof(TaskRecord), true);
    if (!mem) return nullptr;
    return new (mem) TaskRecord{slot, callback, nullptr, nullptr, nullptr, priority, group,
                                flags, 0, 0, 0, 0};
}

void FreeWork(TaskRecord* record) {
    if (record->work) Lib_MemFree(HEAP_GENERAL, record->work);
    record->work = nullptr;
}

void Unlink(TaskRecord* record) {
    record->prev->next = record->next;
    record->next->prev = record->prev;
}

TaskRecord* UsedSlot(uint32_t slot) {
    return slot < uint32_t(kTaskSlots) ? TaskTable.slots[slot] : nullptr;
}

}  // namespace

bool Lib_TaskInit() {
    for (TaskRecord*& slot : TaskTable.slots) slot = nullptr;
    TaskTable.liveCount = 0;
    g_inPass = false;
    g_freeFrom = 0;
    if (!HeapZeroCanHoldRecord()) return false;

    TaskRecord* head = NewRecord(kTaskHead, SentinelCallback, 0, kSentinelGroup, 0);
    TaskRecord* tail = NewRecord(kTaskTail, SentinelCallback, kTailPriority, kSentinelGroup, 0);
    if (!head || !tail) {
        if (head) Lib_MemFree(HEAP_GENERAL, head);
        if (tail) Lib_MemFree(HEAP_GENERAL, tail);
        return false;
    }
    head->next = tail;
    tail->prev = head;
    TaskTable.slots[kTaskHead] = head;
    TaskTable.slots[kTaskTail] = tail;
    TaskTable.liveCount += 2;
    return true;
}

int32_t Lib_TaskSet(const char* name, TaskCallback callback, uint16_t priority, uint16_t group,
                    uint8_t flags) {
    TaskRecord* head = TaskTable.slots[kTaskHead];
    TaskRecord* tail = TaskTable.slots[kTaskTail];
    if (!head || !tail) return -1;

    int32_t slot = -1;
    for (int32_t i = g_freeFrom; i < kTaskSlots && TaskTable.liveCount < kTaskSlots; ++i) {
        if (!TaskTable.slots[i]) {
            slot = i;
            break;
        }
    }
    // A full table or a heap 0 without room for the record: refused.
    TaskRecord* record = slot >= 0 ? NewRecord(slot, callback, priority, group, flags) : nullptr;
    if (!record) {
        Lib_DebugPrintf("Error -> Lib_TaskSet(%s,%d)\n", name ? name : "",
                        int(TaskTable.liveCount));
        return -1;
    }
    TaskTable.slots[slot] = record;
    g_freeFrom = slot + 1;

    // Equal priorities keep their order of registration: the new record goes
    // behind the last one of its priority or below, looked for from the tail
    // (new tasks mostly come behind most of the list).
    TaskRecord* at = tail->prev;
    while (at != head && at->priority > priority) at = at->prev;
    record->prev = at;
    record->next = at->next;
    at->next->prev = record;
    at->next = record;
    ++TaskTable.liveCount;
    return slot;
}

void Lib_TaskDel(uint32_t slot) {
    if (slot == uint32_t(kTaskHead) || slot == uint32_t(kTaskTail)) return;
    TaskRecord* record = UsedSlot(slot);
    if (!record) return;

    TaskTable.slots[slot] = nullptr;
    SlotFreed(int32_t(slot));
    --TaskTable.liveCount;
    FreeWork(record);
    if (g_inPass) {
        // The walk may be standing on this record or about to step onto it.
        record->callback = nullptr;
        record->finished = 1;
        record->dead = 1;
        return;
    }
    Unlink(record);
    Lib_MemFree(HEAP_GENERAL, record);
}

void* Lib_TaskWorkAlloc(uint32_t slot, uint32_t size) {
    TaskRecord* record = UsedSlot(slot);
    if (!record) return nullptr;
    FreeWork(record);
    record->work = Lib_MemAlloc(HEAP_GENERAL, size, kWorkAlign);
    return record->work;
}

void Lib_TaskBreakAll() {
    TaskRecord* head = TaskTable.slots[kTaskHead];
    if (!head) return;
    for (TaskRecord* r = head->next; r; r = r->next) {
        if (!r->dead && r->group == 400 && (r->flags & TASK_FLAG_BREAKABLE)) r->finishRequest = 1;
    }
}

int Lib_TaskPass(bool betweenFrames) {
    TaskRecord* head = TaskTable.slots[kTaskHead];
    TaskRecord* tail = TaskTable.slots[kTaskTail];
    if (!head || !tail) return 0;

    // Call step, the tail included. The next link is read only after the
    // callback has returned; a record deleted meanwhile stays linked (dead).
    int called = 0;
    g_inPass = true;
    for (TaskRecord* r = head->next; r; r = r->next) {
        if (r->dead || r->finished) continue;
        if (betweenFrames && !(r->flags & TASK_FLAG_EVERY_PASS)) continue;
        if (r->suspended && !(r->finishRequest && (r->flags & TASK_FLAG_BREAKABLE))) continue;
        ++called;
        if (r->callback(r->work) == 1) r->finished = 1;
    }
    g_inPass = false;

    // Removal step. Dead records gave up their slot, count and work area when
    // they were deleted; their slot may already hold a newer task.
    for (TaskRecord* r = head->next; r != tail;) {
        TaskRecord* next = r->next;
        if (r->finished) {
            Unlink(r);
            if (!r->dead) {
                TaskTable.slots[r->slot] = nullptr;
                SlotFreed(r->slot);
                --TaskTable.liveCount;
                FreeWork(r);
            }
            Lib_MemFree(HEAP_GENERAL, r);
        }
        r = next;
    }
    return called;
}
