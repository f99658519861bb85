#include "ui/number_display.h"

#include <cmath>

#include "engine/core/util.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "ui/layout_table.h"
#include "ui/screen_slots.h"
#include "ui/widget_delete.h"
#include "ui/window_frame.h"
#include "ui/widget_task.h"

static_assert(sizeof(NumberDisplayWork) <= kWidgetWorkSize);
static_assert(sizeof(SwayWork) <= kWidgetWorkSize);

namespace {
constexpr float kAdvance = 43.0f;  // 42.666668 rounded up

void release(int32_t* digits, int32_t count, int32_t firstSlot) {
    for (int32_t j = 0; j < count; ++j) {
        if (firstSlot >= 0) GSL_WorkLayerFree(nullptr, firstSlot + j);
        else GSL_WidgetSpriteFree(digits[j]);
        digits[j] = -1;
    }
}

void numDelete(int32_t slot) {
    NumberDisplayWork* w = GSL_SystemNumWork(slot);
    if (!w) return;
    const int32_t base = w->layerBase;
    release(w->first, 5, base >= 0 ? base : -1);
    release(w->secondDigits, 5, base >= 0 ? base + 5 : -1);
    release(&w->sheet, 1, base >= 0 ? base + 10 : -1);
}

SwayWork* swayWork(int32_t slot) { return reinterpret_cast<SwayWork*>(GSL_WidgetWorkGet(slot, GSL_SystemFbSetCB)); }

void swayDelete(int32_t slot) {
    const SwayWork* w = swayWork(slot);
    if (w && Lib_SpriteIsLive(w->sprite))
        Lib_SpriteSetCenter(w->sprite, Lib_SpriteGetCenter(w->sprite), SpritePoint{0.0f, 0.0f});
}

int32_t randomBetween(int32_t lo, int32_t hi) { return int32_t(Lib_Random(uint32_t(lo), uint32_t(hi))); }

void swing(int32_t* angle, int32_t* sign, int32_t lo, int32_t hi) {
    *angle += randomBetween(lo, hi);
    if (*angle >= 360) {
        *angle = 0;
        *sign = Lib_Random(0, 1) == 1 ? -1 : 1;
    }
}
}  // namespace

NumberDisplayWork* GSL_SystemNumWork(int32_t slot) {
    return reinterpret_cast<NumberDisplayWork*>(GSL_WidgetWorkGet(slot, GSL_SystemNumSetCB));
}

int32_t GSL_SystemNumSet(const float position[3], int32_t layerBase) {
    if (!position) return -1;
    if (layerBase >= 0 && layerBase + 11 > kScreenLayers) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemNumSetCB, numDelete);
    auto* w = reinterpret_cast<NumberDisplayWork*>(
        GSL_WidgetCreate("GSL_SystemNumSetCB", GSL_SystemNumSetCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    w->second = -1;
    w->priority = 608;
    w->layerBase = layerBase;
    w->separator = 1;
    for (int32_t j = 0; j < 5; ++j) w->first[j] = w->secondDigits[j] = -1;
    w->x = position[0], w->y = position[1], w->z = position[2];
    w->group = 3;
    w->style = 1;
    // Without a layer base the sheet is the display's own sprite: there is
    // no screen slot of its own to load it into.
    w->sheet = layerBase >= 0
                   ? GSL_WorkLayerFile(nullptr, uint32_t(layerBase + 10), kDigitSheet, LAYER_CACHED)
                   : Lib_SpriteLoad(-1, kDigitSheet, -1, 1);
    if (w->sheet < 0) w->sheet = -1;
    return w->head.slot;
}

void GSL_SystemNumSetValue(int32_t slot, int32_t value) {
    NumberDisplayWork* w = GSL_SystemNumWork(slot);
    if (!w) return;
    w->value = value;
    w->second = -1;
    w->done = 0;
    w->head.state = WIDGET_STARTING;
}

void GSL_SystemNumDel(int32_t slot) {
    if (!GSL_SystemNumWork(slot)) return;
    numDelete(slot);
    Lib_TaskDel(uint32_t(slot));
}

void GSL_SystemNumLayout(int32_t value, int32_t* digits, int32_t sheet, int32_t direction, int32_t firstSlot,
                         int32_t layerSlot, int32_t group, int32_t style) {
    if (!digits) return;
    release(digits, 5, firstSlot);
    if (!Lib_SpriteIsLive(sheet)) return;
    // Five digits of 0..9 are all the sheet has pictures for.
    const int32_t v = value < 0 ? 0 : value > kNumberMax ? kNumberMax : value;
    const int32_t n = v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : v < 10000 ? 4 : 5;
    const SpriteRecord s = *Lib_SpriteAt(sheet);
    int32_t rest = v;
    for (int32_t j = 0; j < n; ++j, rest /= 10) {
        const int32_t d = firstSlot >= 0
                              ? GSL_WorkLayerCopy(nullptr, uint32_t(firstSlot + j), uint32_t(layerSlot), -1)
                              : Lib_SpriteCopy(-1, sheet);
        digits[j] = d < 0 ? -1 : d;
        if (!Lib_SpriteIsLive(d)) continue;
        Lib_SpriteSetFlag(d, 1);
        Lib_SpriteSetPrio(d, s.priority, s.subPriority);
        GSL_LayoutSpriteRect(d, group, style + rest % 10);
        SpriteRecord* r = Lib_SpriteAt(d);
        r->posX = direction < 0 ? s.posX - kAdvance * float(j) - kAdvance
                                : s.posX - kAdvance * float(j) + kAdvance * float(n);
        r->posY = s.posY;
        r->posZ = s.posZ;
    }
}

int32_t GSL_SystemNumSetCB(void* work) {
    auto* w = static_cast<NumberDisplayWork*>(work);
    if (!w || w->head.state != WIDGET_STARTING) return 0;
    const int32_t base = w->layerBase;
    if (base >= 0) w->sheet = GSL_WorkLayerGet(nullptr, uint32_t(base + 10));
    if (GSL_SystemSheetPending(w->sheet)) return 0;
    if (Lib_SpriteIsLive(w->sheet)) {
        Lib_SpriteSetFlag(w->sheet, 0);
        Lib_SpriteSetPrio(w->sheet, w->priority, -1);
        GSL_LayoutSpriteRect(w->sheet, w->group, w->style - 1);
        SpriteRecord* s = Lib_SpriteAt(w->sheet);
        s->posX = w->x, s->posY = w->y, s->posZ = w->z;
        GSL_SystemNumLayout(w->value, w->first, w->sheet, -1, base >= 0 ? base : -1, base + 10, w->group, w->style);
        if (w->second >= 0) {
            GSL_SystemNumLayout(w->second, w->secondDigits, w->sheet, 1, base >= 0 ? base + 5 : -1, base + 10,
                                w->group, w->style);
            Lib_SpriteSetFlag(w->sheet, 1);
        } else {
            release(w->secondDigits, 5, base >= 0 ? base + 5 : -1);
            if (w->separator & 1) {
                const int32_t c = base >= 0 ? GSL_WorkLayerCopy(nullptr, uint32_t(base + 5), uint32_t(base + 10), -1)
                                            : Lib_SpriteCopy(-1, w->sheet);
                w->secondDigits[0] = c < 0 ? -1 : c;
                if (Lib_SpriteIsLive(c)) {
                    Lib_SpriteSetFlag(c, 1);
                    Lib_SpriteSetPrio(c, w->priority, -1);
                    GSL_LayoutSpriteRect(c, w->group, w->style + 10);
                    SpriteRecord* r = Lib_SpriteAt(c);
                    r->posX = w->x, r->posY = w->y, r->posZ = w->z;
                }
            }
        }
    }
    w->done = 1;
    w->head.state = WIDGET_FINISHED;
    return 0;
}

void GSL_SystemFbDel(int32_t slot) {
    if (!swayWork(slot)) return;
    swayDelete(slot);
    Lib_TaskDel(uint32_t(slot));
}

int32_t GSL_SystemFbSetCB(void* work) {
    auto* w = static_cast<SwayWork*>(work);
    if (!w) return 0;
    GSL_WidgetDeleteRegister(GSL_SystemFbSetCB, swayDelete);
    if (w->head.state != WIDGET_STARTING) return 0;
    swing(&w->angle1, &w->sign1, w->speedMin, w->speedMax);
    swing(&w->angle2, &w->sign2, w->speedMin, w->speedMax);
    const float ox = sinf(float(w->angle1) * 0.017453f) * float(w->amplitudeX) * float(w->sign1);
    const float oy = sinf(float(w->angle2) * 0.017453f) * float(w->amplitudeY) * float(w->sign2);
    if (!Lib_SpriteIsLive(w->sprite)) return 0;
    const SpritePoint centre = Lib_SpriteGetCenter(w->sprite);
    if (centre.x == kSpriteUnset) return 0;
    Lib_SpriteSetCenter(w->sprite, centre, SpritePoint{ox, oy});
    return 0;
}
