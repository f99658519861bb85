#include "ui/widget_task.h"

#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/render/sprite.h"

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

// --- sprites freed once their load ends -------------------------------------

namespace {
constexpr int32_t kLateFrees = 64;
constexpr uint16_t kLateFreePriority = 32100;  // after the frame's sprite loads (32000)

struct LateFree {
    int32_t sprite;
    uint64_t name;  // the record's file name, so that a slot cleared and re-issued meanwhile is left alone
};
// process-wide (g_late, g_lateCount, g_lateTask): dropped when its task is no longer in the task
// table (lateTaskAlive)
LateFree g_late[kLateFrees];
int32_t g_lateCount = 0;
int32_t g_lateTask = -1;

uint64_t nameDigest(const SpriteRecord& r) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < sizeof r.fileName && r.fileName[i]; ++i) h = (h ^ uint8_t(r.fileName[i])) * 1099511628211ull;
    return h;
}

int32_t lateFreeCB(void*);

bool lateTaskAlive() {
    if (uint32_t(g_lateTask) >= uint32_t(kTaskSlots)) return false;
    const TaskRecord* t = TaskTable.slots[g_lateTask];
    return t && !t->dead && t->callback == lateFreeCB;
}

int32_t lateFreeCB(void*) {
    int32_t kept = 0;
    for (int32_t i = 0; i < g_lateCount; ++i) {
        const LateFree e = g_late[i];
        SpriteRecord* r = Lib_SpriteAt(e.sprite);
        if (!r || !(r->flags & SPRITE_IN_USE) || nameDigest(*r) != e.name) continue;  // gone already
        Lib_SpriteFree(e.sprite);
        if (r->flags & SPRITE_IN_USE) g_late[kept++] = e;  // still loading
    }
    g_lateCount = kept;
    if (kept > 0) return 0;
    g_lateTask = -1;
    return 1;
}
}  // namespace

void GSL_WidgetSpriteFree(int32_t sprite) {
    SpriteRecord* r = Lib_SpriteAt(sprite);
    if (!r || !(r->flags & SPRITE_IN_USE)) return;
    Lib_SpriteFree(sprite);
    if (!(r->flags & SPRITE_IN_USE)) return;
    // Left alone: its load is pending.
    if (!lateTaskAlive()) {
        g_lateCount = 0;  // a list left from tables since reset
        g_lateTask = Lib_TaskSet("GSL_WidgetSpriteFree", lateFreeCB, kLateFreePriority, kWidgetGroupSystem, 0);
    }
    for (int32_t i = 0; i < g_lateCount; ++i)
        if (g_late[i].sprite == sprite) return;
    if (g_lateTask < 0 || g_lateCount >= kLateFrees) {
        Lib_DebugPrintf("Error -> GSL_WidgetSpriteFree(): sprite %d still loading is left behind\n", sprite);
        return;
    }
    g_late[g_lateCount++] = LateFree{sprite, nameDigest(*r)};
}
