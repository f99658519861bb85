// The screen colour overlay (one full-screen colour layer every screen fades
// through, made by the main initialisation) and the key repeat task of list
// cursors. Colours are engine colour words: alpha on top, red in the lowest
// byte; callers pass their literals unchanged.
#pragma once

#include <cstdint>

#include "ui/widget.h"

// The overlay's task slot (-1 when there is none).
extern int32_t DispColorTask;

// Moves the overlay toward `colour` over `frames` frames (0: at once). A
// target equal to the current target is ignored, so a running change is not
// restarted.
void GSL_SystemDispColorSet(uint32_t colour, int32_t frames);
// True when the overlay shows its target, or when there is no overlay.
bool GSL_SystemDispColorCheck();

struct KeyRepeatWork {
    int32_t slot;
    uint8_t state;
    int32_t result;  // 0, 3 new press, 4 held, 5 repeat
    uint32_t mask;   // InputButtons bits
    int32_t delay;
    int32_t interval;
    int32_t held;
};

// A key repeat task (group 400: it belongs to the screen that makes it);
// intervals below 1 count as 1. The task slot or -1.
int32_t GSL_SystemKeySet(uint32_t mask, int32_t interval);
// This frame's result (0, 3, 4, 5); -1 for a bad slot.
int32_t GSL_SystemKeyGet(int32_t slot);
// Whether the key acts this frame: pressed (3) or repeated (5), not held.
bool GSL_SystemKeyFires(int32_t slot);
int32_t GSL_SystemKeyCB(void* work);
