// Selection input: a cursor over up to 16 picture items, moved by the up and
// down keys (with repeat) or the pointer. It skips disabled items, plays the
// "move" sound and highlights the current item by a source rectangle or by
// a colour pulse. The owning screen fills the item arrays after the setter.
#pragma once

#include <cstdint>

#include "ui/mode.h"

inline constexpr int kSelectItems = 16;

struct SelectRect {
    int32_t x, y, w, h;
};

struct SelectInputWork {
    int32_t slot;
    uint8_t state;   // 0 first frame, 1 running; others idle
    uint8_t noWrap;  // 1: the cursor stops at both ends
    uint8_t sound;   // 1: every move plays the "move" sound
    int32_t cursor;  // -1: none
    int32_t previous;
    int32_t keyResult;
    int32_t unused;
    int32_t count;  // items; read clamped to 0..16
    int32_t sprites[kSelectItems];
    int32_t layers[kSelectItems];
    ModeFunction screen;  // whose layer slots the items name; null: the top screen
    uint8_t disabled[kSelectItems];
    SelectRect normal[kSelectItems];
    SelectRect highlight[kSelectItems];  // x < 0: colour highlight
    uint8_t colourActive;
    int32_t angle;
    uint8_t saved[3];  // blue, green, red
    uint8_t masks[3];  // blue, green, red
    int32_t amplitude;
    uint8_t option;  // bit 0: the current item grows by 0.1
    uint32_t colourMask;
    int32_t downKey, upKey;
};

// Creates the task and its two key-repeat tasks. Task id or -1 (nothing made).
int32_t GSL_InputSet(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t option);
SelectInputWork* GSL_InputWork(int32_t task);  // null for a bad id
void GSL_InputDel(int32_t task);
// Pauses (1) or resumes (0) the task and its key tasks; the old suspended
// byte, -1 for a bad id.
int32_t GSL_InputPause(int32_t task, uint8_t pause);
void GSL_InputCursorAdjust(int32_t task);
void GSL_InputHighlight(SelectInputWork* w);
int32_t GSL_InputCB(void* work);
