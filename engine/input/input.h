// Engine buttons and the pointer: keyboard, pad and mouse read once a frame
// from the platform's input snapshot and merged into one set of engine
// buttons, a pointer on the 1280×720 virtual screen and its click phase.
// Game thread only.
#pragma once

#include <cstdint>

// Engine button bits (bits 19..31 are never set).
enum : uint32_t {
    BUTTON_DECIDE = 0x1,      // Z, Return, pad 2
    BUTTON_CANCEL = 0x2,      // X, Backspace, pad 1, right mouse button released
    BUTTON_UP = 0x2000,       // also the mouse wheel forward
    BUTTON_DOWN = 0x8000,     // also the mouse wheel backward
    BUTTON_AXIS_KEY = 0x80000000u,  // pseudo-bit of Lib_InputKeyCode: the axis keys F4..F11
};

struct InputButtonSets {
    uint32_t pressed;  // held now, not held at the end of the previous frame
    uint32_t held;
};

// The mouse as read in one frame: movement, wheel steps, button bytes (bit 7 down).
struct MouseDeviceState {
    int32_t x, y, wheel;
    uint8_t buttons[4];  // left, right, middle, fourth
};

struct MouseInputRecord {
    int32_t x, y;          // pointer in virtual-screen coordinates
    int32_t prevX, prevY;  // the frame before
    int32_t clickPhase;    // 0 none, 1 pressed now, 2 held, 3 released now
    int32_t clickButton;   // 0 while the phase is 1..3, -1 otherwise; -1 consumes a click
    MouseDeviceState state;
    MouseDeviceState prevState;
    uint8_t active;        // 1 while the window has the focus and the pointer is on the virtual screen
};

struct InputPoint {
    int32_t x, y;
};
struct InputRect {
    int32_t xMin, yMin, xMax, yMax;  // inclusive
};

extern InputButtonSets InputButtons;
// Counts input polls, so that readers between frames can take a press once.
extern uint32_t InputPollCount;
extern MouseInputRecord MouseInput;
extern uint8_t InputActivity;  // bit 0 keyboard used this frame, bit 1 pad used

// Start-up: clears the button sets, the activity and the pointer, and opens
// the keyboard, pad and mouse to the polls.
void Lib_InputInit();
// Forgets the pointer: positions, button states and the click phase.
void Lib_InputPointerReset();
// Shutdown: the devices are closed to the polls.
void Lib_InputEnd();

// Keyboard and pad into InputButtons and InputActivity; takes the frame's
// input snapshot.
void Lib_InputPoll();
// The mouse into MouseInput, adding its bits to InputButtons; after Lib_InputPoll.
void Lib_InputPollMouse();
// Mode 0: the pointer in virtual coordinates (point ignored). Mode 1: moves
// the pointer to the virtual point, without the letterbox of full screen,
// and returns it.
InputPoint Lib_InputCursor(int32_t mode, InputPoint point);
// 0 outside now and before, 1 entered, 2 stayed inside, 3 left.
int32_t Lib_InputMouseInRect(int32_t unused, const InputRect* rect);
// Kind != 0: the pad button of a bit (0 when it has none). Kind 0: its key
// code, the second key when alternative != 0 (bits 0x1, 0x2, 0x40, 0x80);
// BUTTON_AXIS_KEY with alternative 0..6 gives F4..F10, any other F11.
uint32_t Lib_InputKeyCode(int32_t kind, uint32_t bit, int32_t alternative);
