// The delete calls of the widget families, by task callback: removing every
// screen task at once (GSL_WorkDeleteAll) first lets each widget free the
// sprites and texts it owns outside the screen's slots.
#pragma once

#include <cstdint>

#include "engine/core/task.h"

using WidgetDeleteFn = void (*)(int32_t taskSlot);

inline constexpr int kWidgetDeleteEntries = 64;

// Registers (or replaces) the delete call of tasks with this callback.
bool GSL_WidgetDeleteRegister(TaskCallback callback, WidgetDeleteFn del);  // false when the table is full
WidgetDeleteFn GSL_WidgetDeleteFind(TaskCallback callback);  // null when none
