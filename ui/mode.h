// The mode stack of active screens and the screen work contexts, as far as
// the engine library reads them. The screen framework fills in the rest.
#pragma once

#include <cstdint>

using ModeFunction = void (*)();

inline constexpr int kModeStackSize = 16;
inline constexpr int kScreenWorkSlots = 16;

// One screen's work context; the engine reads only the owner and the
// suspended byte.
struct ScreenWork {
    ModeFunction screenId;
    uint8_t suspended;
};

extern ModeFunction ModeStack[kModeStackSize];
extern ScreenWork* ScreenWorkTable[kScreenWorkSlots];
// The two task-pause save slots (800 saved suspended bytes each).
extern uint8_t* TaskPauseSave[2];

// The mode function that restores suspended screen contexts; it removes
// itself from the top of the stack when all are restored.
void GSL_WorkRestoreCB();
// Follows the pointer gesture from press to release (after the input poll).
void GSL_SystemMouseUpdate();
