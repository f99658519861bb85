// The number display (one number, or two such as a page "3 / 12", in digit
// pictures of the group-3 sheet) and the sway of a thumbnail around its place.
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

inline constexpr const char* kDigitSheet = "visual/system/sys_system_04.ext";
inline constexpr int32_t kNumberMax = 99999;

struct NumberDisplayWork {
    WidgetWork head;
    int32_t value;
    int32_t second;  // -1 none
    int32_t priority;
    int32_t layerBase;  // -1 own sprites; else the top screen's slots base..base + 10
    uint32_t separator;  // bit 0: a lone separator when there is no second value
    int32_t first[5];
    int32_t secondDigits[5];  // [0] holds the lone separator
    int32_t sheet;
    float x, y, z;
    uint32_t done;
    int32_t group, style;
};

struct SwayWork {
    WidgetWork head;
    int32_t sprite;
    int32_t amplitudeX, amplitudeY;
    int32_t speedMin, speedMax;  // degrees a frame
    int32_t angle1, angle2;
    int32_t sign1, sign2;
};

// Value 0 and no second value; the digits appear once the sheet has loaded.
int32_t GSL_SystemNumSet(const float position[3], int32_t layerBase);
// Sets the value (0..99999 shown) and drops the second one; the digits are
// rebuilt on the next frame.
void GSL_SystemNumSetValue(int32_t slot, int32_t value);
void GSL_SystemNumDel(int32_t slot);
NumberDisplayWork* GSL_SystemNumWork(int32_t slot);
// Lays out one number left of the sheet (direction -1) or right of it (1),
// in own sprites or, with firstSlot >= 0, in the top screen's layer slots
// firstSlot.. copied from layerSlot.
void GSL_SystemNumLayout(int32_t value, int32_t* digits, int32_t sheet, int32_t direction, int32_t firstSlot,
                         int32_t layerSlot, int32_t group, int32_t style);
int32_t GSL_SystemNumSetCB(void* work);

void GSL_SystemFbDel(int32_t slot);
int32_t GSL_SystemFbSetCB(void* work);
