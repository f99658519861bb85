// The widget task family: every widget and effect task has a work area of
// kWidgetWorkSize bytes that begins with this head, is made by a setter
// through GSL_WidgetCreate and is found again through GSL_WidgetWorkGet.
#pragma once

#include <cstdint>

#include "engine/core/task.h"
#include "ui/widget.h"

// Further state of the family: finished and its resources released (wipes).
enum : uint8_t { WIDGET_RELEASED = 100 };

// Priority widgets run at; the group of the current screen's tasks and the
// group of system tasks that keep running over a paused screen.
inline constexpr uint16_t kWidgetPriority = 34000;
inline constexpr uint16_t kWidgetGroupScreen = 400;
inline constexpr uint16_t kWidgetGroupSystem = 401;

struct WidgetWork {
    int32_t slot;   // the task's own slot
    uint8_t state;  // WIDGET_STARTING, WIDGET_RUNNING, WIDGET_FINISHED, ...
};

// Registers a task and gives it a cleared work area with the head written
// (own slot, state 0). Null, with no task left behind, when the table is
// full or heap 0 cannot hold the work area.
WidgetWork* GSL_WidgetCreate(const char* name, TaskCallback callback, uint16_t priority, uint16_t group,
                             uint8_t flags);

// The work area of the task in `slot` when that task is one of `callback`'s,
// else null: a slot out of range, empty, without a work area or re-issued
// to another kind of task is a bad slot.
WidgetWork* GSL_WidgetWorkGet(int32_t slot, TaskCallback callback);

// The task record of a work area's own slot (null when the slot no longer
// holds that work area).
TaskRecord* GSL_WidgetRecord(const WidgetWork* work);

// Frees a sprite a widget owns. A sprite whose picture is still loading
// cannot go yet (the engine leaves a pending load alone): it is freed as soon
// as its load ends, loaded or failed, by a system task that ends once none
// is left waiting. The caller forgets the handle either way.
void GSL_WidgetSpriteFree(int32_t sprite);
