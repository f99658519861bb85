#include "ui/widget.h"

#include <cstdio>
#include <cstring>

#include "engine/core/task.h"
#include "engine/files/file_loader.h"
#include "engine/render/sprite.h"

static_assert(sizeof(DispColorWork) <= kWidgetWorkSize);
static_assert(sizeof(LoadPrevWork) <= kWidgetWorkSize);

int32_t DispColorTaskSlot = -1;

// Stand-in until the screen framework exists: the overlay keeps its colour
// and never moves toward a new target.
int32_t GSL_SystemDispColorCB(void* work) {
    auto* w = static_cast<DispColorWork*>(work);
    if (w && w->state == WIDGET_STARTING) w->state = WIDGET_RUNNING;
    return 0;
}

int32_t GSL_SystemLoadPrevSet(const char* path, uint32_t align, uint32_t keep, int32_t* result) {
    if (!path || std::strlen(path) >= sizeof(LoadPrevWork::path)) return -1;
    int32_t slot = Lib_TaskSet("GSL_SystemLoadPrevCB", GSL_SystemLoadPrevCB, 31100, 401, TASK_FLAG_EVERY_PASS);
    if (slot < 0) return -1;
    auto* w = static_cast<LoadPrevWork*>(Lib_TaskWorkAlloc(uint32_t(slot), kWidgetWorkSize));
    if (!w) {
        Lib_TaskDel(uint32_t(slot));
        return -1;
    }
    std::memset(static_cast<void*>(w), 0, kWidgetWorkSize);
    w->slot = slot;
    std::snprintf(w->path, sizeof w->path, "%s", path);
    w->keep = keep;
    w->align = align;
    w->result = result;
    if (result) *result = 0;
    w->request = Lib_FileLoadReq(3, w->path, &w->data, &w->size, align);
    return slot;
}

int32_t GSL_SystemLoadPrevCB(void* work) {
    auto* w = static_cast<LoadPrevWork*>(work);
    if (!w) return 1;
    int32_t state = -1;
    if (w->request >= 0) {
        state = FileLoadTable.slots[w->request].state.load(std::memory_order_acquire);
        if (state == 0) return 0;
    }
    // The delivered entry stays pinned until the slot is released: tag it first.
    if (state == 1 && w->data) Lib_FileCacheTag(w->path, -1, w->keep);
    if (w->request >= 0) {
        Lib_FileLoadEnd(w->request);
        w->request = -1;
    }
    if (w->result) *w->result = state;
    w->state = WIDGET_FINISHED;
    return 1;
}
