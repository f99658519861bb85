#include "script/msg_scroll.h"

#include <algorithm>

#include "engine/input/input.h"
#include "script/markup.h"
#include "script/message.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "ui/engine_services.h"
#include "ui/pointer.h"
#include "ui/scroll_bar.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

int32_t MessageScrollTask = -1;

namespace {

constexpr int32_t kThreshold = 1;
constexpr int32_t kKeyStep = 4;
constexpr int32_t kKnobMargin = 22;
constexpr int32_t kTextX = 110, kTextY = -558;
enum : uint8_t { SCROLL_WATCH = 1, SCROLL_SHOWN = 2, SCROLL_END = 99 };
enum : uint8_t { SCROLL_ALLOWED = 1, SCROLL_BAR_SHOWN = 2 };

struct ScrollWork {
    WidgetWork head;
    int32_t bar;
    int32_t overflow;   // pixels the message's end lies below the window
    int32_t position;   // 0..overflow
    int32_t threshold;  // an overflow above it shows the bar
    int32_t dragRef;    // drag distance already applied
    int32_t dragging;
    uint32_t rearm;     // bit 0: hide the bar on the next frame
};
static_assert(sizeof(ScrollWork) <= kWidgetWorkSize);

ScrollWork* WorkOf(int32_t slot) { return reinterpret_cast<ScrollWork*>(GSL_WidgetWorkGet(slot, ScrollBarCB)); }

void ScrollDelete(int32_t slot) {
    if (ScrollWork* w = WorkOf(slot)) {
        GSL_SystemBarDel(w->bar);
        w->bar = -1;
    }
    if (MessageScrollTask == slot) MessageScrollTask = -1;
}

// The text handle of the current message, -1 when none.
int32_t Message(const StageRecord* stage) {
    const ScreenWork* sw = GSL_ScreenWork(SCREEN_STORY);
    const int64_t slot = int64_t(stage->textSlotOffset) + 1;
    if (!sw || slot < 0 || slot >= kScreenTexts) return -1;
    const int32_t h = sw->texts[slot].handle;
    return h >= 0 && h < kTextSlots && TextTable[h] ? h : -1;
}

bool Inside(const int32_t* r, int32_t x, int32_t y) { return r[0] <= x && x <= r[2] && r[1] <= y && y <= r[3]; }

// The pointer part of a scrolling frame: false when the frame ends here;
// else the drag's steps (0 when not dragging).
bool Pointer(ScrollWork* w, StageRecord* stage, int32_t* steps) {
    *steps = 0;
    const int32_t phase = MouseInput.clickPhase;
    const bool active = MouseInput.clickButton >= 0;
    const int32_t x = MouseInput.x, y = MouseInput.y;
    if (!w->dragging) {
        int32_t knob[4];
        GSL_SystemBarGetRect(knob, w->bar, BAR_KNOB);
        if (knob[2] == -1) knob[2] = 1279;
        if (knob[3] == -1) knob[3] = 719;
        knob[0] -= kKnobMargin;
        knob[2] += kKnobMargin;
        if (active && phase == 1 && Inside(knob, x, y)) {
            w->dragging = 1;
            stage->scrollIdle = 0;
            return false;
        }
        return true;
    }
    const bool onScreen = x >= 0 && x <= 1279 && y >= 0 && y <= 719;
    if (!active || (phase != 2 && phase != 3) || !onScreen || phase == 3) {
        w->dragging = 0;
        w->dragRef = 0;
        stage->scrollIdle = 1;
        return false;
    }
    const int32_t total = PointerGesture.current.y - PointerGesture.press.y;
    const int32_t d = total - w->dragRef;
    int32_t track[4];
    GSL_SystemBarGetRect(track, w->bar, BAR_TRACK);
    const float cell = w->overflow != 0 ? float(track[3] - track[1]) / float(w->overflow) : 0.0f;
    *steps = GSL_ScrollSteps(float(d), cell);
    *steps = *steps > 1073741823 ? 2147483646 : *steps < -1073741823 ? -2147483646 : 2 * *steps;
    w->dragRef = total;
    return true;
}

void Scroll(ScrollWork* w, StageRecord* stage) {
    int32_t steps = 0;
    if (!Pointer(w, stage, &steps)) return;
    int32_t next = w->position;
    if (InputButtons.held & BUTTON_UP) {
        if (w->position < 1) return;
        next = std::max(0, w->position - kKeyStep);
    } else if (InputButtons.held & BUTTON_DOWN) {
        if (w->position >= w->overflow) return;
        next = std::min(w->overflow, w->position + kKeyStep);
    } else if (w->dragging && steps != 0) {
        next = int32_t(std::clamp<int64_t>(int64_t(w->position) + steps, 0, w->overflow));
    }
    if (next == w->position) return;
    GSL_SystemBarScroll(w->bar, next - w->position);
    w->position = next;
    const TextPos at{kTextX, w->position + kTextY, 0};
    Lib_TextPosSet(Message(stage), &at);
}

// The suspended byte of the story script task; 255 when there is none.
uint8_t ScriptSuspended() {
    const int32_t slot = GSL_ScriptStoryTask();
    if (slot < 0 || slot >= kTaskSlots || !TaskTable.slots[slot]) return 255;
    return TaskTable.slots[slot]->suspended;
}

}  // namespace

int32_t GSL_MessageScrollSet() {
    if (MessageScrollTask >= 0) {
        if (WorkOf(MessageScrollTask)) {
            const int32_t old = MessageScrollTask;
            ScrollDelete(old);
            Lib_TaskDel(uint32_t(old));
        }
        MessageScrollTask = -1;
    }
    GSL_WidgetDeleteRegister(ScrollBarCB, ScrollDelete);
    auto* w = reinterpret_cast<ScrollWork*>(
        GSL_WidgetCreate("ScrollBarCB", ScrollBarCB, kWidgetPriority, kWidgetGroupScreen, 2));
    if (!w) return -1;
    const float position[2] = {600.0f, -259.0f}, size[2] = {1.0f, 2.0f};
    w->bar = GSL_SystemBarSet(position, size, 9699999, 0, 1, 300, 32, 20);
    w->overflow = 300;
    w->position = 0;
    w->threshold = kThreshold;
    w->dragRef = 0;
    w->dragging = 0;
    w->rearm = 0;
    MessageScrollTask = w->head.slot;
    return w->head.slot;
}

int32_t ScrollBarCB(void* work) {
    auto* w = static_cast<ScrollWork*>(work);
    ScriptTaskWork* task = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
    StageRecord* stage = task ? task->context.stage : nullptr;
    const TaskRecord* self = GSL_WidgetRecord(&w->head);
    if (w->head.state < SCROLL_END && ((self && self->finishRequest) || !stage)) w->head.state = SCROLL_END;
    if (w->head.state != SCROLL_END && ScriptSuspended() == 1) return 0;
    if (w->head.state == SCROLL_END) {
        ScrollDelete(w->head.slot);
        return 1;
    }
    ScrollBarWork* bar = GSL_SystemBarWork(w->bar);
    if (w->head.state == 0) {
        if (bar && bar->head.state == WIDGET_STARTING) return 0;
        if (bar) {
            bar->drawMode = 2;
            bar->relayout = 1;
            bar->flags |= BAR_NO_ARROWS;
        }
        w->head.state = SCROLL_WATCH;
    }
    if (w->head.state == SCROLL_WATCH) {
        if (w->rearm & 1) {
            if (bar) {
                bar->shown = 0;
                bar->relayout = 2;
            }
            w->rearm &= ~1u;
        }
        const int32_t message = Message(stage);
        if (!(stage->scrollFlags & SCROLL_ALLOWED) || message < 0 ||
            !(TextTable[message]->state & TEXT_STATE_DRAWN) || GSL_IsSkip())
            return 0;
        float end[3];
        GSL_TextPageMake(end, &task->context);
        const float over = -310.0f - end[1];
        w->overflow = over >= 2147483520.0f ? 2147483520 : over <= -2147483520.0f ? -2147483520 : int32_t(over);
        if (w->overflow <= w->threshold) return 0;
        GSL_SystemBarScroll(w->bar, -100 - w->overflow);
        GSL_SystemBarSetFlag(w->bar, 1);
        GSL_SystemBarSetRange(w->bar, w->threshold, w->overflow);
        stage->scrollFlags |= SCROLL_BAR_SHOWN;
        w->position = 0;
        w->head.state = SCROLL_SHOWN;
    }
    if (!(stage->scrollFlags & SCROLL_ALLOWED)) {
        stage->scrollFlags &= uint8_t(~SCROLL_BAR_SHOWN);
        stage->scrollIdle = 1;
        w->rearm |= 1;
        w->head.state = SCROLL_WATCH;
        return 0;
    }
    Scroll(w, stage);
    return 0;
}
