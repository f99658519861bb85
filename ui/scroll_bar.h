// The scroll bar widget: a three-piece knob whose length shrinks as the range
// grows, a three-piece track and two arrows, cut from the system sheet. The
// owner scrolls it and reads presses and the pointer's step through queries.
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

enum : int32_t { BAR_KNOB = 0, BAR_TRACK = 1, BAR_UP = 2, BAR_DOWN = 3 };
enum : uint32_t { BAR_NO_ARROWS = 1 };

struct ScrollBarWork {
    WidgetWork head;
    int32_t parts[8];  // knob top, middle, bottom; track top, middle, bottom; up, down
    int32_t priority;
    uint32_t shown;
    int32_t minimum, maximum;
    int32_t stepsMoved;
    int32_t layerBase;  // -1 own sprites, else the top screen's layer slots base..base + 7
    uint32_t drawMode;
    int32_t firstPiece;  // layout group 0 item of part 0; negative: item 9, 64-unit pieces
    float x, y, w, h;    // centre; width scale and track length in pieces
    float step;          // units per step
    float factor;        // steps per scroll unit
    float position;      // 0..range, in steps
    float knobBase[3], knobY[3];
    uint32_t relayout;  // 1 full (position back to the top), 2 keeping the position
    uint32_t flags;     // BAR_NO_ARROWS
};

int32_t GSL_SystemBarSet(const float position[2], const float size[2], int32_t priority, uint8_t shown,
                         int32_t minimum, int32_t maximum, int32_t layerBase, int32_t firstPiece);
void GSL_SystemBarDel(int32_t slot);
// False when nothing moved or for a bad slot.
bool GSL_SystemBarScroll(int32_t slot, int32_t steps);
void GSL_SystemBarSetFlag(int32_t slot, uint8_t shown);
void GSL_SystemBarSetRange(int32_t slot, int32_t minimum, int32_t maximum);
// {left, top, right, bottom} on the 1280×720 screen of BAR_KNOB..BAR_DOWN;
// {0, 0, 0, 0} for a bad slot or a missing part.
int32_t* GSL_SystemBarGetRect(int32_t* out, int32_t slot, int32_t which);
// 3 pressed inside this frame, 4 held inside, 5 on the 30th held frame and
// every 5th after; 0 otherwise; -1 for a bad slot.
int32_t GSL_SystemBarHit(int32_t slot, int32_t which);
// Whether the part acts this frame: pressed (3) or repeated (5).
bool GSL_SystemBarFires(int32_t slot, int32_t which);
// The step under the pointer (0..range); 0 for a bad slot.
int32_t GSL_SystemBarGetPos(int32_t slot);
int32_t GSL_SystemBarCB(void* work);
ScrollBarWork* GSL_SystemBarWork(int32_t slot);
