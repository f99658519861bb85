// The task scheduler: every piece of per-frame behaviour is a task, a callback
// with an owned work area, kept in one list ordered by priority.
#pragma once

#include <cstdint>

using TaskCallback = int32_t (*)(void* work);  // returns 1 when finished

enum : uint8_t {
    TASK_FLAG_EVERY_PASS = 0x01,  // called between frames too
    TASK_FLAG_BREAKABLE = 0x02,   // broken by Lib_TaskBreakAll; called while suspended once asked to finish
};

struct TaskRecord {
    int32_t slot;
    TaskCallback callback;
    void* work;
    TaskRecord* prev;
    TaskRecord* next;
    uint16_t priority;
    uint16_t group;
    uint8_t flags;
    uint8_t finished;
    uint8_t finishRequest;
    uint8_t suspended;
    uint8_t dead;  // deleted during a pass; unlinked and freed by the removal step
};

inline constexpr int kTaskSlots = 800;
inline constexpr int kTaskHead = 0;
inline constexpr int kTaskTail = 1;

struct TaskTableT {
    TaskRecord* slots[kTaskSlots];
    int32_t liveCount;  // includes the two sentinels
};
extern TaskTableT TaskTable;

// Sets the table up with its two sentinels. False when heap 0 cannot hold them.
bool Lib_TaskInit();
int32_t Lib_TaskSet(const char* name, TaskCallback callback, uint16_t priority, uint16_t group,
                    uint8_t flags);
void Lib_TaskDel(uint32_t slot);
// Replaces the task's work area with `size` uncleared bytes from heap 0.
void* Lib_TaskWorkAlloc(uint32_t slot, uint32_t size);
void Lib_TaskBreakAll();
// One scheduler pass: the call step, then the removal of finished tasks.
// Returns the number of callbacks called (the tail sentinel's included).
int Lib_TaskPass(bool betweenFrames);
