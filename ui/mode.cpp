#include "ui/mode.h"

#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/render/camera.h"
#include "engine/sound/sound.h"
#include "ui/engine_services.h"
#include "ui/screen_restore.h"
#include "ui/ui_host.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

ModeFunction ModeStack[kModeStackSize];
ScreenWork* ScreenWorkTable[kScreenWorkSlots];
uint8_t* TaskPauseSave[2];

namespace {
constexpr uint16_t kScreenTaskGroup = 400;
// process-wide: installed by Main_ScreenCallsSet (GSL_ScreensSet)
ModeFunction g_screens[SCREEN_COUNT];

// Ends a task the screen owns: a script task that may end at once is removed,
// any other is asked to finish on its next run.
void endTask(int32_t task) {
    if (GSL_UiHost().scriptTaskEnd(task)) return;
    if (task >= 0 && task < kTaskSlots && TaskTable.slots[task]) TaskTable.slots[task]->finishRequest = 1;
}
}  // namespace

ModeFunction GSL_ScreenOf(ScreenId id) { return id < SCREEN_COUNT ? g_screens[id] : nullptr; }

void GSL_ScreensSet(const ModeFunction* screens) {
    for (uint32_t i = 0; i < SCREEN_COUNT; ++i) g_screens[i] = screens ? screens[i] : nullptr;
}

ScreenWork* GSL_ScreenWork(ScreenId id) {
    const ModeFunction screen = GSL_ScreenOf(id);
    return screen ? GSL_WorkGet(screen) : nullptr;  // null would name the top screen
}

int GSL_ModeCount() {
    int n = 0;
    while (n < kModeStackSize && ModeStack[n]) ++n;
    return n;
}

ModeFunction GSL_ModeTop() {
    int n = GSL_ModeCount();
    return n ? ModeStack[n - 1] : nullptr;
}

ModeFunction GSL_ModePop() {
    int n = GSL_ModeCount();
    if (!n) return nullptr;
    ModeFunction top = ModeStack[n - 1];
    ModeStack[n - 1] = nullptr;
    return top;
}

bool GSL_ModeAppend(ModeFunction screen) {
    const int n = GSL_ModeCount();
    if (!screen) return false;
    if (n >= kModeStackSize) {
        Lib_DebugPrintf("Error -> GSL_ModeAppend(): the mode stack is full\n");
        return false;
    }
    ModeStack[n] = screen;
    return true;
}

void GSL_ModeHandOver(ModeFunction next) {
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
    GSL_ModeAppend(next);
}

int32_t GSL_WorkIndex(ModeFunction screen) {
    if (!screen) screen = GSL_ModeTop();
    if (!screen) return -1;  // never a context made on an empty stack
    for (int32_t i = 0; i < kScreenWorkSlots; ++i)
        if (ScreenWorkTable[i] && ScreenWorkTable[i]->screenId == screen) return i;
    return -1;
}

ScreenWork* GSL_WorkGet(ModeFunction screen) {
    int32_t i = GSL_WorkIndex(screen);
    return i < 0 ? nullptr : ScreenWorkTable[i];
}

void GSL_WorkCreate() {
    ModeFunction screen = GSL_ModeTop();
    for (int32_t i = 0; i < kScreenWorkSlots; ++i) {
        if (ScreenWorkTable[i]) continue;
        void* block = Lib_MemAlloc(HEAP_SCREEN, sizeof(ScreenWork), 4);
        if (!block) {
            Lib_DebugPrintf("Error -> GSL_WorkCreate(): no memory for a context\n");
            return;
        }
        ScreenWorkTable[i] = static_cast<ScreenWork*>(block);
        GSL_WorkInit(i, screen);
        return;
    }
}

void GSL_WorkInit(int32_t index, ModeFunction screen) {
    if (index < 0 || index >= kScreenWorkSlots || !ScreenWorkTable[index]) return;
    ScreenWork* w = ScreenWorkTable[index];
    w->step = w->subState = 0;
    std::memset(w->words, 0, sizeof w->words);
    w->screenId = screen;
    w->suspended = SCREEN_ACTIVE;
    w->snapshotted = 0;
    w->savedFrameRate = int8_t(FrameRateConfig);
    w->heldFrameRate = -1;
    w->released = 0;
    for (ScreenLayerSlot& l : w->layers) {
        l.handle = -1;
        l.reloadPending = 0;
    }
    for (ScreenTextSlot& t : w->texts) t.handle = -1;
    for (ScreenSoundSlot& s : w->sounds) {
        s.handle = -1;
        s.restoreKind = -1;
        s.releaseFade = 0;
    }
    for (int32_t& t : w->tasks) t = -1;
    std::memset(w->pause, 0, sizeof w->pause);
    for (TaskCallback& c : w->pauseOwner) c = nullptr;
}

void GSL_WorkClear(int32_t index, uint8_t release) {
    if (index < 0 || index >= kScreenWorkSlots || !ScreenWorkTable[index]) return;
    ScreenWork* w = ScreenWorkTable[index];
    if (w->released) {
        // Only the kept sprites are still this context's; everything else
        // went at the release, and its handles may name others' objects now.
        if (release) return;
        for (ScreenLayerSlot& l : w->layers)
            if (l.handle >= 0 && GSL_SpriteKept(l.snapshot)) Lib_SpriteFree(l.handle);
        for (int32_t task : w->tasks) endTask(task);
        return;
    }
    for (ScreenLayerSlot& l : w->layers) {
        if (release && l.handle >= 0 && l.handle < kSpriteSlots &&
            (SpriteTable[l.handle].flags & SPRITE_IN_USE) && GSL_SpriteKept(SpriteTable[l.handle])) {
            if (Lib_SpriteIsLive(l.handle)) SpriteTable[l.handle].visible = 0;
            continue;
        }
        GSL_WidgetSpriteFree(l.handle);  // one still loading goes when it arrives
    }
    for (ScreenTextSlot& t : w->texts) Lib_TextDel(t.handle);
    for (ScreenSoundSlot& s : w->sounds) {
        if (s.handle < 0 || s.handle >= kSoundChannels) continue;
        Lib_SoundStop(s.handle, int32_t(s.releaseFade));  // nothing for a channel not in use
    }
    if (release) {
        w->released = 1;
        return;
    }
    for (int32_t task : w->tasks) endTask(task);
}

uint8_t GSL_FrameRateClamp(int32_t rate) { return uint8_t(rate > 60 ? 60 : rate < 1 ? 1 : rate); }

void GSL_WorkFrameRateHold(ScreenWork* w) {
    if (!w) return;
    w->heldFrameRate = int16_t(FrameRateConfig);
    Lib_FrameRateSet(60);
}

void GSL_WorkDelete(ModeFunction screen) {
    int32_t i = GSL_WorkIndex(screen);
    if (i < 0) return;
    const int16_t held = ScreenWorkTable[i]->heldFrameRate;
    if (held >= 0) Lib_FrameRateSet(GSL_FrameRateClamp(held));
    GSL_WorkClear(i, 0);
    Lib_MemFree(HEAP_SCREEN, ScreenWorkTable[i]);
    ScreenWorkTable[i] = nullptr;
}

void GSL_WorkDeleteAll() {
    for (int32_t i = 0; i < kScreenWorkSlots; ++i) {
        ScreenWork* w = ScreenWorkTable[i];
        if (!w) continue;
        // By index, not by identity: duplicates and a null identity go too.
        GSL_WorkClear(i, 0);
        Lib_MemFree(HEAP_SCREEN, w);
        ScreenWorkTable[i] = nullptr;
    }
    for (ModeFunction& m : ModeStack) m = nullptr;
    for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        if (!t || t->group != kScreenTaskGroup) continue;
        if (WidgetDeleteFn del = GSL_WidgetDeleteFind(t->callback)) del(slot);
        Lib_TaskDel(uint32_t(slot));  // deferred when inside a pass
    }
    if (!HeapTable.live[HEAP_SCREEN]) Lib_MemHeapReset(&HeapTable.heaps[HEAP_SCREEN]);
}

void GSL_ModePush(ModeFunction screen, uint8_t keep) {
    int32_t current = GSL_WorkIndex(nullptr);
    if (current < 0) return;
    if (GSL_ModeCount() >= kModeStackSize) {
        // Refused whole: a half push would suspend the top for nothing.
        Lib_DebugPrintf("Error -> GSL_ModePush(): the mode stack is full\n");
        return;
    }
    ScreenWork* top = ScreenWorkTable[current];
    top->suspended = keep ? SCREEN_KEPT : SCREEN_RELEASED;
    for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        top->pauseOwner[slot] = nullptr;
        if (!t || t->group != kScreenTaskGroup) continue;
        top->pause[slot] = t->suspended ? 1 : 0;
        top->pauseOwner[slot] = t->callback;
        t->suspended = 1;
    }
    Lib_CameraReset(&ActiveCamera);
    for (int32_t i = 0; i < kScreenWorkSlots; ++i) {
        ScreenWork* w = ScreenWorkTable[i];
        if (!w || (i != current && w->suspended == SCREEN_RELEASED)) continue;
        GSL_WorkSnapshot(i, 0);
        if (!keep) GSL_WorkClear(i, 1);
    }
    ModeStack[GSL_ModeCount()] = screen;
}
