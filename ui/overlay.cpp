#include "ui/overlay.h"

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "ui/trans_num.h"
#include "ui/widget_task.h"

static_assert(sizeof(KeyRepeatWork) <= kWidgetWorkSize);

int32_t DispColorTask = -1;

namespace {
constexpr int32_t kOverlayPriority = 10;

DispColorWork* overlay() {
    return reinterpret_cast<DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
}

int32_t* channel(DispColorWork* w, int i) {
    int32_t* channels[4] = {&w->alpha, &w->red, &w->green, &w->blue};
    return channels[i];
}

// The byte of channel i (alpha, red, green, blue) in an engine colour word.
int32_t byteOf(uint32_t colour, int i) {
    constexpr int kShift[4] = {24, 0, 8, 16};
    return int32_t((colour >> kShift[i]) & 0xFFu);
}

// A stored transition slot that no longer holds a transition of this
// channel (removed with the screens, or its slot re-issued) has arrived.
void dropVanished(DispColorWork* w, int i) {
    int32_t& task = w->componentTasks[i];
    if (task < 0) return;
    auto* t = reinterpret_cast<TransNumWork*>(GSL_WidgetWorkGet(task, GSL_SystemTransNumCB));
    if (t && t->num.target == channel(w, i)) return;
    *channel(w, i) = byteOf(w->target, i);
    task = -1;
}

void deleteTransitions(DispColorWork* w) {
    for (int i = 0; i < 4; ++i) {
        if (w->componentTasks[i] >= 0) GSL_SystemTransNumDel(w->componentTasks[i], channel(w, i));
        w->componentTasks[i] = -1;
    }
}
}  // namespace

void GSL_SystemDispColorSet(uint32_t colour, int32_t frames) {
    DispColorWork* w = overlay();
    if (!w || colour == w->target) return;
    w->target = colour;
    w->frames = frames;
    w->newTarget = 1;
}

bool GSL_SystemDispColorCheck() {
    const DispColorWork* w = overlay();
    return !w || w->current == w->target;
}

int32_t GSL_SystemDispColorCB(void* work) {
    auto* w = static_cast<DispColorWork*>(work);
    if (!w || w->state != WIDGET_STARTING) return 0;
    for (int i = 0; i < 4; ++i) dropVanished(w, i);
    if (!w->newTarget) {
        bool running = false;
        for (int i = 0; i < 4; ++i)
            if (w->componentTasks[i] >= 0 && !GSL_SystemTransNumCheck(w->componentTasks[i], channel(w, i)))
                running = true;
        if (!running) deleteTransitions(w);
    } else {
        deleteTransitions(w);
        w->newTarget = 0;
        for (int i = 0; i < 4; ++i) *channel(w, i) = byteOf(w->target, i);
        if (w->current != w->target && w->frames != 0) {
            for (int i = 0; i < 4; ++i) {
                *channel(w, i) = byteOf(w->current, i);
                if (*channel(w, i) == byteOf(w->target, i)) continue;
                // The overlay belongs to no screen: its transitions run in the
                // system group, so a paused or removed screen cannot stop them.
                w->componentTasks[i] = GSL_SystemTransNumSet(channel(w, i), byteOf(w->target, i), w->frames,
                                                             TRANS_LINEAR, kWidgetPriority, kWidgetGroupSystem, 0);
                if (w->componentTasks[i] < 0) *channel(w, i) = byteOf(w->target, i);
            }
        }
    }
    auto byte = [](int32_t v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    w->current = byte(w->alpha) << 24 | byte(w->blue) << 16 | byte(w->green) << 8 | byte(w->red);
    Lib_SpriteSetFlag(w->sprite, 0);
    if (w->current < 0x01000000u) return 0;
    Lib_SpriteSetFlag(w->sprite, 1);
    Lib_SpriteSetPrio(w->sprite, kOverlayPriority, -1);
    Lib_SpriteSetColor(w->sprite, w->current);
    return 0;
}

int32_t GSL_SystemKeySet(uint32_t mask, int32_t interval) {
    auto* w = reinterpret_cast<KeyRepeatWork*>(
        GSL_WidgetCreate("GSL_SystemKeyCB", GSL_SystemKeyCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    w->mask = mask;
    w->delay = 30;
    w->interval = interval < 1 ? 1 : interval;
    return w->slot;
}

int32_t GSL_SystemKeyGet(int32_t slot) {
    const auto* w = reinterpret_cast<const KeyRepeatWork*>(GSL_WidgetWorkGet(slot, GSL_SystemKeyCB));
    return w ? w->result : -1;
}

bool GSL_SystemKeyFires(int32_t slot) {
    const int32_t r = GSL_SystemKeyGet(slot);
    return r == 3 || r == 5;
}

int32_t GSL_SystemKeyCB(void* work) {
    auto* w = static_cast<KeyRepeatWork*>(work);
    if (!w || w->state != WIDGET_STARTING) return 0;
    w->result = 0;
    if (InputButtons.pressed & w->mask) {
        w->held = 0;
        w->result = 3;
    } else if (InputButtons.held & w->mask) {
        if (w->held < INT32_MAX) ++w->held;
        w->result = 4;
        const int32_t interval = w->interval < 1 ? 1 : w->interval;
        if (w->held >= w->delay && (w->held - w->delay) % interval == 0) w->result = 5;
    }
    return 0;
}
