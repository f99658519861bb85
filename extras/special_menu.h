// The special-scenario menu: the fifteen special scenarios as a grid of
// picture buttons with the unlocked share; an unlocked one runs on the story
// screen, and the menu comes back as it was when the scenario ends.
#pragma once

#include <cstdint>

#include "extras/extras_skeleton.h"
#include "ui/mode.h"

inline constexpr const char* kSpecialThumbArc = "visual/thumb/thumb2.arc";

// 32 bytes from the screen heap's bottom.
struct SpecialKeyBlock {
    int32_t keys[kExtrasKeys];
    ExtrasDrag drag;
};
static_assert(sizeof(SpecialKeyBlock) == 32);

// The menu's fields of its ScreenWork header.
struct SpecialHead {
    int32_t loading, bar, selected, highlighted, topRow, scrollTask, counter, page, arrowAngle, number;
    SpecialKeyBlock* keys;
};
SpecialHead* GSL_SpecialHead(ScreenWork* w);

// Rows of the page's buttons, four to a row.
int32_t GSL_SpecialRowCount();
void GSL_SpecialDrawPage(float scale, uint8_t cursorShown);
void GSL_SpecialSelectUpdate();
