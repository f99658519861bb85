// The window frame widget: nine pieces of the system sheet (four corners,
// four edges stretched along one axis, a middle stretched along both) around
// a centre, in sprite coordinates (origin at the screen centre, y up).
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

inline constexpr const char* kSystemSheet = "visual/system/sys_system_00.ext";

struct WindowWork {
    WidgetWork head;
    int32_t parts[9];  // reading order; part 0 the loaded sheet, -1 not made
    int32_t priority;
    uint32_t shown;
    uint32_t drawMode;  // 1 normal, 2 the default camera
    float centreX, centreY;
    float scaleW, scaleH;  // the middle, in 64-unit pieces
    uint32_t relayout;
    uint32_t colour;  // ARGB
};

// Task slot, or -1.
int32_t GSL_SystemWinSet(const float centre[2], const float scale[2], int32_t priority, uint8_t shown);
void GSL_SystemWinDel(int32_t slot);
// -1 bad slot, 1 laid out (a scroll bar: past its first state), else 0.
int32_t GSL_SystemWinCheck(int32_t slot);
void GSL_SystemWinShow(int32_t slot);
void GSL_SystemWinSetColor(int32_t slot, uint32_t colour);
void GSL_SystemWinFixCam(int32_t slot);
int32_t GSL_SystemWinCB(void* work);
void GSL_SystemWinLayout(WindowWork* w);
WindowWork* GSL_SystemWinWork(int32_t slot);

// Layout group 0 item `item` as the sprite's source rectangle.
void GSL_SystemSheetRect(int32_t sprite, int32_t item);
// True while the sprite is live and its picture still loading.
bool GSL_SystemSheetPending(int32_t sprite);
