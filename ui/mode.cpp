#include "ui/mode.h"

ModeFunction ModeStack[kModeStackSize];
ScreenWork* ScreenWorkTable[kScreenWorkSlots];
uint8_t* TaskPauseSave[2];

// Stand-in until the screen framework exists: no context holds released
// resources, so restoring is marking every context live again.
void GSL_WorkRestoreCB() {
    for (ScreenWork* work : ScreenWorkTable)
        if (work) work->suspended = 0;
    for (int i = kModeStackSize - 1; i >= 0; --i) {
        if (ModeStack[i] == GSL_WorkRestoreCB) {
            ModeStack[i] = nullptr;
            break;
        }
        if (ModeStack[i]) break;
    }
}

// Stand-in until the screen framework exists: no gesture is followed.
void GSL_SystemMouseUpdate() {}
