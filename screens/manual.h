// The manual viewer: two pages of pictures in the interface language, in a
// frame with a close button and an arrow on each side; arrows, keys and
// horizontal drags turn the pages. Pushed over the title or the story.
// GSL_ManualModeCB itself is declared in screens/boot.h.
#pragma once

#include <cstdint>

#include "screens/boot.h"

// The screen's fields in its context's words.
enum : uint32_t {
    MANUAL_WIPE = 1,
    MANUAL_PAGE = 2,
    MANUAL_SHOWN = 3,
    MANUAL_KEYS = 4,  // 4..7: Left, Right, A/LShift, D/RShift
    MANUAL_ANGLE = 8,
    MANUAL_MOVE = 9,
    MANUAL_FADE_OUT = 10,
    MANUAL_FADE_IN = 11,
};

// The screen's steps; the pages turn in MAIN.
enum : int32_t { MANUAL_STEP_INIT, MANUAL_STEP_LOAD, MANUAL_STEP_MAIN, MANUAL_STEP_END };

// The drag latches (next, previous): one press turns at most once each way.
extern uint8_t ManualNextLatch;
extern uint8_t ManualPreviousLatch;

// The arrows' bob, once a frame.
void GSL_ManualArrowBob();
