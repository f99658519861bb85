#include "ui/window_frame.h"

#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "ui/layout_table.h"
#include "ui/scroll_bar.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

static_assert(sizeof(WindowWork) <= kWidgetWorkSize);

namespace {
void freeParts(int32_t slot) {
    WindowWork* w = GSL_SystemWinWork(slot);
    if (!w) return;
    for (int32_t& p : w->parts) {
        GSL_WidgetSpriteFree(p);
        p = -1;
    }
}
}  // namespace

void GSL_SystemSheetRect(int32_t sprite, int32_t item) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 0, item);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(sprite, rect);
}

bool GSL_SystemSheetPending(int32_t sprite) { return sprite >= 0 && Lib_SpriteGetState(sprite) == 0; }

WindowWork* GSL_SystemWinWork(int32_t slot) {
    return reinterpret_cast<WindowWork*>(GSL_WidgetWorkGet(slot, GSL_SystemWinCB));
}

int32_t GSL_SystemWinSet(const float centre[2], const float scale[2], int32_t priority, uint8_t shown) {
    if (!centre || !scale) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemWinCB, freeParts);
    auto* w = reinterpret_cast<WindowWork*>(
        GSL_WidgetCreate("GSL_SystemWinCB", GSL_SystemWinCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    for (int32_t& p : w->parts) p = -1;
    w->centreX = centre[0], w->centreY = centre[1];
    w->scaleW = scale[0], w->scaleH = scale[1];
    w->priority = priority;
    w->shown = shown;
    w->parts[0] = Lib_SpriteLoad(-1, kSystemSheet, -1, 1);
    w->drawMode = 1;
    w->relayout = 1;
    w->colour = 0xFFFFFFFFu;
    return w->head.slot;
}

void GSL_SystemWinDel(int32_t slot) {
    if (!GSL_SystemWinWork(slot)) return;
    freeParts(slot);
    Lib_TaskDel(uint32_t(slot));
}

int32_t GSL_SystemWinCheck(int32_t slot) {
    const WidgetWork* w = GSL_WidgetWorkGet(slot, GSL_SystemWinCB);
    if (!w) w = GSL_WidgetWorkGet(slot, GSL_SystemBarCB);
    if (!w) return -1;
    return w->state != WIDGET_STARTING ? 1 : 0;
}

void GSL_SystemWinShow(int32_t slot) {
    WindowWork* w = GSL_SystemWinWork(slot);
    if (!w) return;
    w->shown = 1;
    w->relayout = 1;
}

void GSL_SystemWinSetColor(int32_t slot, uint32_t colour) {
    WindowWork* w = GSL_SystemWinWork(slot);
    if (!w) return;
    w->colour = colour;
    for (int32_t p : w->parts) Lib_SpriteSetColor(p, colour);
}

void GSL_SystemWinFixCam(int32_t slot) {
    WindowWork* w = GSL_SystemWinWork(slot);
    if (!w) return;
    w->drawMode = 2;
    for (int32_t p : w->parts) Lib_SpriteSetValue(p, 2);
}

void GSL_SystemWinLayout(WindowWork* w) {
    if (!w || !w->relayout) return;
    const float ex = (w->scaleW - 1.0f) * 32.0f, ey = (w->scaleH - 1.0f) * 32.0f;
    const float xs[3] = {w->centreX - 64.0f - ex, w->centreX, w->centreX + 64.0f + ex};
    const float ys[3] = {w->centreY + 64.0f + ey, w->centreY, w->centreY - 64.0f - ey};
    for (int32_t i = 0; i < 9; ++i) {
        const int32_t row = i / 3, col = i % 3;
        if (w->parts[i] < 0) w->parts[i] = Lib_SpriteCopy(-1, w->parts[0]);
        const int32_t p = w->parts[i];
        if (!Lib_SpriteIsLive(p)) continue;
        Lib_SpriteSetFlag(p, uint8_t(w->shown));
        Lib_SpriteSetPrio(p, w->priority, -1);
        GSL_SystemSheetRect(p, i);
        SpriteRecord* s = Lib_SpriteAt(p);
        s->posX = xs[col], s->posY = ys[row], s->posZ = 0.0f;
        s->scaleX = col == 1 ? w->scaleW : 1.0f;
        s->scaleY = row == 1 ? w->scaleH : 1.0f;
        s->scaleZ = 0.0f;
        Lib_SpriteSetColor(p, w->colour);
        Lib_SpriteSetValue(p, w->drawMode);
    }
    w->relayout = 0;
}

int32_t GSL_SystemWinCB(void* work) {
    auto* w = static_cast<WindowWork*>(work);
    if (!w) return 0;
    if (w->head.state == WIDGET_STARTING) {
        if (GSL_SystemSheetPending(w->parts[0])) return 0;
        GSL_SystemSheetRect(w->parts[0], 0);
        w->head.state = WIDGET_RUNNING;
    }
    GSL_SystemWinLayout(w);
    return 0;
}
