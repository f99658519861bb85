// The move and alpha widgets: number transitions on a sprite's or a text
// object's position, scale or rotation (up to three axes), or on the alpha
// byte of its colour, copied into the target every frame.
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

enum : int32_t { MOVE_POSITION = 0, MOVE_SCALE = 1, MOVE_ROTATION = 2 };

struct MoveWork {
    WidgetWork head;
    int32_t target;  // sprite, or text object in text mode
    int32_t frames;
    int32_t mode;
    int32_t trans[3];  // -1 none
    uint32_t endFlag;  // finish once done
    uint32_t done;
    uint32_t transPriority, transGroup, transFlags;
    int32_t kind;      // MOVE_POSITION, MOVE_SCALE, MOVE_ROTATION
    int32_t integer;   // always 0: float transitions
    float current[3];
    float goal[3];
    uint32_t textMode;
    uint32_t mask;  // bit 0 x, bit 1 y, bit 2 the third axis
};

struct AlphaWork {
    WidgetWork head;
    int32_t target;
    int32_t frames;
    int32_t trans;
    int32_t mode;
    uint32_t endFlag;
    uint32_t done;
    int32_t goal;     // 0..255
    int32_t current;  // driven by the transition
    uint32_t textMode;
};

// A negative sprite selects text object `text`; -1 when both are negative.
int32_t GSL_SystemMoveSet(int32_t sprite, int32_t text, const float goals[3], int32_t frames, int8_t mode,
                          uint8_t endFlag, int32_t kind, uint8_t mask);
void GSL_SystemMoveDel(int32_t slot);
// The done flag (0 or 1), -1 for a bad slot.
int32_t GSL_SystemMoveCheck(int32_t slot);
int32_t GSL_SystemMoveCB(void* work);

int32_t GSL_SystemAlphaSet(int32_t sprite, int32_t text, int32_t alpha, int32_t frames, int8_t mode,
                           uint8_t endFlag);
void GSL_SystemAlphaDel(int32_t slot);
int32_t GSL_SystemAlphaCheck(int32_t slot);
int32_t GSL_SystemAlphaCB(void* work);
