#include "ui/loading.h"

#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

static_assert(sizeof(LoadingWork) <= kWidgetWorkSize);

namespace {
LoadingWork* loadingWork(int32_t slot) {
    return reinterpret_cast<LoadingWork*>(GSL_WidgetWorkGet(slot, GSL_SystemLoadingCB));
}

void freeSprites(LoadingWork* w) {
    GSL_WidgetSpriteFree(w->icon);
    GSL_WidgetSpriteFree(w->second);
    w->icon = w->second = -1;
}

void loadingDelete(int32_t slot) {
    if (LoadingWork* w = loadingWork(slot)) freeSprites(w);
}
}  // namespace

int32_t GSL_SystemLoadingSet(int32_t priority, uint8_t shown) {
    GSL_WidgetDeleteRegister(GSL_SystemLoadingCB, loadingDelete);
    auto* w = reinterpret_cast<LoadingWork*>(
        GSL_WidgetCreate("GSL_SystemLoadingCB", GSL_SystemLoadingCB, kWidgetPriority, kWidgetGroupSystem, 0));
    if (!w) return -1;
    w->icon = Lib_SpriteLoad(-1, "visual/system/sys_system_03.ext", -1, 1);
    w->second = -1;
    w->priority = priority;
    w->shown = shown;
    w->step = -1.0f;
    return w->slot;
}

void GSL_SystemLoadingDel(int32_t slot) {
    LoadingWork* w = loadingWork(slot);
    if (!w) return;
    freeSprites(w);
    Lib_TaskDel(uint32_t(slot));
}

bool GSL_SystemLoadingCheck(int32_t slot) {
    const LoadingWork* w = loadingWork(slot);
    return !w || w->ready;
}

int32_t GSL_SystemLoadingCB(void* work) {
    auto* w = static_cast<LoadingWork*>(work);
    if (!w) return 0;
    SpriteRecord* icon = Lib_SpriteAt(w->icon);
    if (w->state == WIDGET_STARTING) {
        if (icon && GSL_SpriteLoading(*icon)) return 0;
        if (Lib_SpriteIsLive(w->icon)) {
            icon->posX = 534.0f;  // 533.3334 and -266.6667 rounded up
            icon->posY = -266.0f;
            icon->posZ = 0.0f;
            Lib_SpriteSetFlag(w->icon, uint8_t(w->shown));
            Lib_SpriteSetPrio(w->icon, w->priority, -1);
            LayoutRect r;
            GSL_LayoutGetRect(&r, 1, 0);
            const int32_t rect[4] = {r.x, r.y, r.width, r.height};
            Lib_SpriteSetRect(w->icon, rect);
            Lib_SpriteSetValue(w->icon, 2);
        }
        w->ready = 1;
        w->state = WIDGET_RUNNING;
    }
    if (w->state != WIDGET_RUNNING || !Lib_SpriteIsLive(w->icon)) return 0;
    float z = icon->rotZ - 2.0f;
    if (z < 0.0f || z > 360.0f) z += 360.0f;
    icon->rotZ = z;
    const float s = icon->scaleX + w->step * 0.01f;
    if (s <= 0.8f || s >= 1.0f) w->step = -w->step;
    icon->scaleX = icon->scaleY = s;
    return 0;
}
