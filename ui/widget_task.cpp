#include "ui/widget_task.h"

#include <cstring>

WidgetWork* GSL_WidgetCreate(const char* name, TaskCallback callback, uint16_t priority, uint16_t group,
                             uint8_t flags) {
    int32_t slot = Lib_TaskSet(name, callback, priority, group, flags);
    if (slot < 0 || slot >= kTaskSlots || !TaskTable.slots[slot]) return nullptr;
    void* area = Lib_TaskWorkAlloc(uint32_t(slot), kWidgetWorkSize);
    if (!area) {
        Lib_TaskDel(uint32_t(slot));
        return nullptr;
    }
    std::memset(area, 0, kWidgetWorkSize);
    auto* work = static_cast<WidgetWork*>(area);
    work->slot = slot;
    work->state = WIDGET_STARTING;
    return work;
}

WidgetWork* GSL_WidgetWorkGet(int32_t slot, TaskCallback callback) {
    if (uint32_t(slot) >= uint32_t(kTaskSlots)) return nullptr;
    TaskRecord* record = TaskTable.slots[slot];
    if (!record || record->dead || !record->work || record->callback != callback) return nullptr;
    return static_cast<WidgetWork*>(record->work);
}

TaskRecord* GSL_WidgetRecord(const WidgetWork* work) {
    if (!work || uint32_t(work->slot) >= uint32_t(kTaskSlots)) return nullptr;
    TaskRecord* record = TaskTable.slots[work->slot];
    return record && record->work == work ? record : nullptr;
}
