#include "ui/select_input.h"

#include <algorithm>

#include "engine/render/sprite.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/pointer.h"
#include "ui/system_sound.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/color_pulse.h"
#include "ui/widget_task.h"

static_assert(sizeof(SelectInputWork) <= kWidgetWorkSize);

namespace {

int32_t count(const SelectInputWork* w) { return std::clamp(w->count, 0, kSelectItems); }
bool validItem(const SelectInputWork* w, int32_t i) { return i >= 0 && i < count(w); }

int32_t itemSprite(const SelectInputWork* w, int32_t i) {
    if (w->sprites[i] >= 0) return w->sprites[i];
    if (w->layers[i] < 0 || w->layers[i] >= 720) return -1;
    ModeFunction screen = w->screen ? w->screen : GSL_ModeTop();
    return screen ? GSL_WorkLayerGet(screen, uint32_t(w->layers[i])) : -1;
}

bool allDisabled(const SelectInputWork* w) {
    for (int32_t i = 0; i < count(w); ++i)
        if (!w->disabled[i]) return false;
    return true;
}

// From the cursor, steps over disabled items by `step`; a walk that comes
// back to `start` stays there with previous set to it.
void skipDisabled(SelectInputWork* w, int32_t step, int32_t start, bool markPrevious) {
    const int32_t n = count(w);
    if (n == 0) return;
    if (allDisabled(w)) {
        w->cursor = -1;
        return;
    }
    while (validItem(w, w->cursor) && w->disabled[w->cursor]) {
        w->cursor = (w->cursor + step + n) % n;
        if (w->cursor == start) {
            if (markPrevious) w->previous = start;
            break;
        }
    }
}

void playMove(const SelectInputWork* w) {
    if (w->sound) GSL_SystemSePlay(SE_MOVE);
}

void moveBy(SelectInputWork* w, int32_t step) {
    const int32_t n = count(w);
    playMove(w);
    w->previous = w->cursor;
    int32_t start = (w->cursor + step + n) % n;
    w->cursor = start;
    skipDisabled(w, step, start, true);
    GSL_InputHighlight(w);
}

void scale(int32_t sprite, float d) {
    if (!Lib_SpriteIsLive(sprite)) return;
    SpriteRecord* r = Lib_SpriteAt(sprite);
    r->scaleX += d;
    r->scaleY += d;
}

void deleteInput(int32_t slot) {
    SelectInputWork* w = GSL_InputWork(slot);
    if (!w) return;
    for (int32_t key : {w->downKey, w->upKey})
        if (key > kTaskTail && key < kTaskSlots && TaskTable.slots[key] &&
            TaskTable.slots[key]->callback == GSL_SystemKeyCB)
            Lib_TaskDel(uint32_t(key));
    w->downKey = w->upKey = -1;
}

}  // namespace

SelectInputWork* GSL_InputWork(int32_t task) {
    return reinterpret_cast<SelectInputWork*>(GSL_WidgetWorkGet(task, GSL_InputCB));
}

int32_t GSL_InputSet(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t option) {
    static const bool registered = GSL_WidgetDeleteRegister(GSL_InputCB, deleteInput);
    (void)registered;
    WidgetWork* head = GSL_WidgetCreate("GSL_InputCB", GSL_InputCB, kWidgetPriority, kWidgetGroupScreen, 0);
    if (!head) return -1;
    auto* w = reinterpret_cast<SelectInputWork*>(head);
    w->sound = 1;
    w->previous = -1;
    w->unused = -1;
    for (int i = 0; i < kSelectItems; ++i) {
        w->sprites[i] = w->layers[i] = -1;
        w->normal[i] = w->highlight[i] = {-1, 0, 0, 0};
    }
    w->colourActive = 1;
    w->masks[0] = w->masks[1] = w->masks[2] = 0xFF;
    w->amplitude = -32;
    w->option = option;
    w->colourMask = 0xFFFFFFFF;
    w->downKey = GSL_SystemKeySet(0x8000, 5);
    w->upKey = GSL_SystemKeySet(0x2000, 5);
    return w->slot;
}

void GSL_InputDel(int32_t task) {
    if (!GSL_InputWork(task)) return;
    deleteInput(task);
    Lib_TaskDel(uint32_t(task));
}

int32_t GSL_InputPause(int32_t task, uint8_t pause) {
    SelectInputWork* w = GSL_InputWork(task);
    if (!w) return -1;
    for (int32_t key : {w->downKey, w->upKey}) {
        auto* k = reinterpret_cast<KeyRepeatWork*>(GSL_WidgetWorkGet(key, GSL_SystemKeyCB));
        if (!k) continue;
        k->held = 0;
        k->result = 0;
        TaskTable.slots[key]->suspended = pause;
    }
    uint8_t old = TaskTable.slots[task]->suspended;
    TaskTable.slots[task]->suspended = pause;
    return old;
}

void GSL_InputCursorAdjust(int32_t task) {
    SelectInputWork* w = GSL_InputWork(task);
    if (!w) return;
    if (w->cursor >= 0) skipDisabled(w, 1, w->previous, false);
    GSL_InputHighlight(w);
    w->state = 1;
}

void GSL_InputHighlight(SelectInputWork* w) {
    if (validItem(w, w->previous)) {
        int32_t s = itemSprite(w, w->previous);
        if (w->highlight[w->previous].x < 0) {
            if (Lib_SpriteIsLive(s)) {
                uint32_t c = Lib_SpriteGetColor(s);
                Lib_SpriteSetColor(s, (c & 0xFF000000u) | uint32_t(w->saved[2]) << 16 |
                                          uint32_t(w->saved[1]) << 8 | w->saved[0]);
            }
        } else {
            Lib_SpriteSetRect(s, &w->normal[w->previous].x);
        }
        if (w->option & 1) scale(s, -0.1f);
    }
    if (!validItem(w, w->cursor)) {
        w->angle = 0;
        return;
    }
    int32_t s = itemSprite(w, w->cursor);
    if (w->highlight[w->cursor].x < 0) {
        if (Lib_SpriteIsLive(s)) {
            uint32_t c = Lib_SpriteGetColor(s);
            w->saved[0] = uint8_t(c);
            w->saved[1] = uint8_t(c >> 8);
            w->saved[2] = uint8_t(c >> 16);
            Lib_SpriteSetColor(s, c & w->colourMask);
        }
        w->colourActive = 1;
    } else {
        const SpriteRecord* r = Lib_SpriteIsLive(s) ? Lib_SpriteAt(s) : nullptr;
        w->normal[w->cursor] = r ? SelectRect{r->srcRect[0], r->srcRect[1], r->srcRect[2], r->srcRect[3]}
                                 : SelectRect{-9999, 0, 0, 0};
        Lib_SpriteSetRect(s, &w->highlight[w->cursor].x);
        w->colourActive = 0;
    }
    if (w->option & 1) scale(s, 0.1f);
    w->angle = 0;
}

int32_t GSL_InputCB(void* work) {
    auto* w = static_cast<SelectInputWork*>(work);
    if (w->state == 0) {
        if (w->cursor >= 0) skipDisabled(w, 1, w->previous, false);
        GSL_InputHighlight(w);
        w->state = 1;
    }
    if (w->state != 1) return 0;
    const int32_t n = count(w);
    bool pointerMoved = false;
    for (int32_t i = 0; i < n; ++i) {
        int32_t sprite = itemSprite(w, i);
        if (sprite < 0) continue;  // no picture to point at
        int32_t rect[4] = {-1, 0, 0, 0};
        uint8_t hit = GSL_ButtonCheck(nullptr, sprite, rect, 0, 0, 0, -1);
        if (hit != 1 && hit != 2) continue;
        if (i == w->cursor) break;
        if (w->disabled[i]) continue;
        playMove(w);
        w->previous = w->cursor;
        w->cursor = i;
        GSL_InputHighlight(w);
        pointerMoved = true;
        break;
    }
    int32_t down = GSL_SystemKeyGet(w->downKey);
    int32_t up = GSL_SystemKeyGet(w->upKey);
    if (!pointerMoved && n > 0 && !allDisabled(w)) {  // no walk over nothing
        if (down > 0 && (down & 1)) {
            if (w->noWrap && w->cursor == n - 1) {
                w->previous = n - 1;
                return 0;
            }
            moveBy(w, 1);
        } else if (up > 0 && (up & 1)) {
            if (w->noWrap && w->cursor == 0) {
                w->previous = 0;
                return 0;
            }
            moveBy(w, -1);
        }
    }
    if (w->colourActive && validItem(w, w->cursor)) {
        int32_t s = itemSprite(w, w->cursor);
        GSL_SystemColorCycle(s, -1, w->saved[2] & w->masks[2], w->saved[1] & w->masks[1], w->saved[0] & w->masks[0],
                              w->amplitude, &w->angle);
    }
    w->keyResult = std::max(down, up);
    return 0;
}
