#include "ui/utility_dialog.h"

#include <cstring>

#include "engine/core/debug_log.h"

namespace {

int32_t StandInDialogCB(void* work) {
    auto* w = static_cast<UtilityDialogWork*>(work);
    if (w->state < 10) {
        w->state = 10;
        return 0;
    }
    if (w->state == 10) {  // the first waiting frame
        w->result = 1;
        w->answered = 1;
        w->state = 99;
    }
    return 0;
}

}  // namespace

void* Lib_UtilityWorkGet(int32_t task) {
    if (task <= kTaskTail || task >= kTaskSlots) return nullptr;
    TaskRecord* r = TaskTable.slots[task];
    return r && !r->dead ? r->work : nullptr;
}

int32_t Lib_UtilitySet(uint32_t kind, TaskCallback callback) {
    int32_t task = Lib_TaskSet("Lib_UtilityCB", callback, 45001, 300, 0);
    if (task < 0) return -1;
    void* work = Lib_TaskWorkAlloc(uint32_t(task), kUtilityWorkSize);
    if (!work) {
        Lib_TaskDel(uint32_t(task));
        return -1;
    }
    std::memset(work, 0, kUtilityWorkSize);
    static_cast<UtilityDialogWork*>(work)->kind = kind;
    return task;
}

int32_t Lib_DialogOpen(uint32_t kind, const char* text, uint32_t timeout, uint32_t priority, uint8_t) {
    int32_t task = Lib_UtilitySet(kind, StandInDialogCB);
    if (task < 0) return -1;
    auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task));
    w->cursor = 1;
    for (int i = 0; i < 3; ++i) w->sprites[i] = w->texts[i] = -1;
    w->timeout = int32_t(timeout);
    w->priority = int32_t(priority);
    w->dimSprite = -1;
    Lib_DebugPrintf("dialog %u: %s\n", kind, text ? text : "");
    return task;
}

void Lib_DialogClose(int32_t task) {
    if (!Lib_UtilityWorkGet(task)) return;
    Lib_TaskDel(uint32_t(task));
}
