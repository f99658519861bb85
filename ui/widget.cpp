#include "ui/widget.h"

#include <cstdio>
#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/file_loader.h"
#include "ui/widget_task.h"

static_assert(sizeof(DispColorWork) <= kWidgetWorkSize);
static_assert(sizeof(LoadPrevWork) <= kWidgetWorkSize);

int32_t PreloadPending = 0;
int32_t PreloadReleaseQuota = 0;

namespace {
constexpr uint64_t kCacheKeepBlock = 0x28000000u;

void finish(LoadPrevWork* w, int32_t state) {
    if (w->result) *w->result = state;
    if (w->keep == 0) {
        if (PreloadPending > 0) --PreloadPending;
        if (!w->released && PreloadReleaseQuota > 0) --PreloadReleaseQuota;
    }
    w->state = WIDGET_FINISHED;
}
}  // namespace

int32_t GSL_SystemLoadPrevSet(const char* path, uint32_t align, uint32_t keep, int32_t* result) {
    if (!path || std::strlen(path) >= sizeof(LoadPrevWork::path)) return -1;
    auto* w = reinterpret_cast<LoadPrevWork*>(GSL_WidgetCreate("GSL_SystemLoadPrevCB", GSL_SystemLoadPrevCB, 31100,
                                                               kWidgetGroupSystem, TASK_FLAG_EVERY_PASS));
    if (!w) return -1;
    std::snprintf(w->path, sizeof w->path, "%s", path);
    w->keep = keep;
    w->align = align;
    w->result = result;
    w->cacheId = -1;
    if (result) *result = 0;
    if (keep == 0) ++PreloadPending;
    w->request = Lib_FileLoadReq(3, w->path, &w->data, &w->size, align);
    return w->slot;
}

int32_t GSL_SystemLoadPrevCB(void* work) {
    auto* w = static_cast<LoadPrevWork*>(work);
    if (!w) return 1;
    if (w->state == WIDGET_FINISHED) return 1;
    if (w->request < 0) {
        // No request slot was free: nothing will ever arrive.
        finish(w, -1);
        return 1;
    }
    const int32_t state = FileLoadTable.slots[w->request].state.load(std::memory_order_acquire);
    if (state == 0) {
        if (PreloadReleaseQuota > 0 && !w->released && w->keep == 0) {
            // Withdrawn: the slot goes back to the loader for other owners,
            // so this task must never look at it again.
            Lib_FileLoadEnd(w->request);
            w->request = -1;
            --PreloadReleaseQuota;
            w->released = 1;
            finish(w, -1);
            return 1;
        }
        return 0;
    }
    // The delivered entry stays pinned until the slot is released: tag it
    // first. A failed file has no entry; a tag is never lowered (a sprite or
    // a keeping preload may hold the entry already).
    if (state == 1 && w->keep != 0) Lib_FileCacheTag(w->path, w->cacheId, w->keep, w->keep);
    Lib_FileLoadEnd(w->request);
    w->request = -1;
    finish(w, state == 1 ? 1 : -1);
    return 1;
}

bool GSL_SystemCacheKeeps(uint64_t largestFree) { return largestFree >= kCacheKeepBlock; }

bool GSL_SystemLoadPrevCheck() {
    if (PreloadPending > 0) return false;
    if (!GSL_SystemCacheKeeps(Lib_MemHeapLargestFree(&HeapTable.heaps[HEAP_CACHE]))) {
        Lib_CashFreeGroup(0);
        PreloadPending = 0;
        PreloadReleaseQuota = 0;
    }
    return true;
}

void GSL_SystemLoadPrevEnd() {
    for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        if (!t || t->dead || t->callback != GSL_SystemLoadPrevCB) continue;
        if (auto* w = static_cast<LoadPrevWork*>(t->work); w && w->state != WIDGET_FINISHED) {
            if (w->request >= 0) Lib_FileLoadEnd(w->request);
            w->request = -1;
            finish(w, -1);
        }
        Lib_TaskDel(uint32_t(slot));
    }
}
