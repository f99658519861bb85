// The message window's scroll bar: one task watches the current message and,
// when its end runs below the window, shows a bar beside it through which
// the reader scrolls the text with Up and Down or by dragging the knob.
// Game thread only.
#pragma once

#include <cstdint>

// The live scroll-bar task, -1 when none.
extern int32_t MessageScrollTask;

// Ends a live scroll-bar task together with its bar, then makes a new task
// and its hidden bar in layer slots 32..39 of the top screen. The task slot,
// or -1.
int32_t GSL_MessageScrollSet();
int32_t ScrollBarCB(void* work);
