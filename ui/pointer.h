// Pointer gestures, hit tests and the button check. The gesture follows the
// left button from press to release and decides whether the release still
// counts as a click; the hit tests turn a sprite (or a rectangle) into a
// rectangle of the 1280×720 screen, {left, top, right, bottom}, bounds
// included, y down.
#pragma once

#include <cstdint>

#include "ui/mode.h"

struct PointerPoint {
    int32_t x, y;
};

struct PointerGestureState {
    uint8_t clickAllowed;  // 1 while the gesture still counts as a click
    PointerPoint press, current, previous;
};
extern PointerGestureState PointerGesture;

// Bit 0: a choice menu holds the screen (set by the script's choice
// command); a press anywhere then does not count as one.
extern uint32_t MenuActiveFlag;

// The screen rectangle of `sprite` (negative: of rect itself, a right or
// bottom of -1 standing for the screen's edge); with `margins` the rect's
// values widen the sprite's rectangle. Written to out and back into rect.
int32_t* GSL_SystemSpriteRect(int32_t* out, int32_t sprite, int32_t* rect, uint8_t margins);
// 1 the button went down inside this frame, -1 elsewhere on the screen (for
// a sprite of 0 or more), else 0.
int32_t GSL_SystemHitPress(int32_t unused, int32_t sprite, int32_t* rect, uint8_t margins);
// The same for a release that still counts as a click; 0 after a drag.
int32_t GSL_SystemHitClick(int32_t unused, int32_t sprite, int32_t* rect, uint8_t margins);
// 1 entered this frame, 2 stays inside, 3 left, 0 outside both times; -1 for
// a sprite of 0 or more that is not live.
int32_t GSL_SystemHitOver(int32_t unused, int32_t sprite, int32_t* rect, uint8_t margins);

// Story-screen gesture and box ids of the button check.
enum : int32_t {
    BUTTON_WHOLE_SCREEN = 10,  // a click anywhere but in the two corner boxes
    // The caller's rectangle alone: a click anywhere, the corner boxes too,
    // with the empty rectangle.
    BUTTON_RECT = 50,
    BUTTON_RECT_ALT = 51,
    BUTTON_DRAG_DOWN = 100,
    BUTTON_DRAG_UP = 101,
    BUTTON_BOX_RIGHT = 102,
    BUTTON_BOX_LEFT = 103,
    BUTTON_SCREEN_PRESS = 104,
    BUTTON_PRESS_BOX = 105,
    BUTTON_MIDDLE = 106,
    BUTTON_DRAG_LEFT = 107,
    BUTTON_DRAG_RIGHT = 108,
    BUTTON_TOP_SWIPE = 109,
};

// Whether the player activated a button this frame: screen null with a sprite
// id (-1 none), or the story screen with a button number or a gesture id.
// rect {left, top, right, bottom}, left < 0: none (the sprite's own; the
// record becomes the whole screen). flag < 0 fires on a click, else on the
// press. Both colours non-zero recolour the sprite under the pointer.
// 0 nothing, 1 fired, 2 the pointer entered this frame.
uint8_t GSL_ButtonCheck(ModeFunction screen, int32_t id, int32_t* rect, int32_t unused, uint32_t normal,
                        uint32_t hover, int8_t flag);
