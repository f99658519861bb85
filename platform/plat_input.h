// Keyboard, mouse and game-pad state on SDL2. The UI thread folds SDL's events
// into one live record behind a mutex; the game thread takes a copy of it once
// a frame. Keys are addressed by the engine's DIK key codes.
#pragma once

#include <cstdint>

inline constexpr int kPlatPadButtons = 13;
inline constexpr int kPlatPadAxes = 4;
inline constexpr uint32_t kPlatHatCentred = 0xFFFFFFFFu;
inline constexpr uint8_t kPlatDown = 0x80;  // a key or button byte while it is down
// The pointer's position once it has left the window (far outside any client area).
inline constexpr int32_t kPlatPointerAway = -32768;
// Keys the engine reads: its buttons and the eight axis keys F4..F11.
inline constexpr int kPlatKeyCount = 31;

struct PlatInputState {
    uint8_t keys[256];                    // by DIK key code: kPlatDown while down
    uint8_t padPresent;                   // a game pad is open
    uint8_t padButtons[kPlatPadButtons];  // by place on a standard pad (raw index when SDL knows no layout)
    uint32_t padHat;                      // first hat, hundredths of a degree clockwise from up
    int32_t padAxes[kPlatPadAxes];        // the first four axes (X, Y, Z, Rz), -128..127
    int32_t mouseX, mouseY;               // pointer in client pixels
    uint8_t mouseButtons[2];              // left, right
    int32_t wheel;                        // wheel steps since the previous snapshot, forward positive
    uint8_t focus;                        // the game window has the input focus
    uint8_t minimized;
};

// UI thread, once the window exists: opens the game-controller subsystem and
// the first pad that can be opened, and reads the window's focus. A pad in
// SDL's mapping database (SDL_GAMECONTROLLERCONFIG adds to it) is read by
// place: 0..3 the face buttons west, south, east, north; 4, 5 the shoulder
// buttons; 6, 7 the triggers; 8 select; 9 start; 10, 11 the stick clicks;
// 12 home; the hat from the pad's cross; the axes left stick x, y, right
// stick x, y. Any other device is read by its own numbers.
void Plat_InputStart();
// UI thread: closes the pad and the joystick subsystem.
void Plat_InputStop();
// The UI pump's handler (a UiEventHandler): folds one SDL event in.
void Plat_InputEvent(const void* sdlEvent);

// Game thread: a copy of the live state; the wheel count starts again at 0.
void Plat_InputSnapshot(PlatInputState* out);
// Moves the pointer to a client point (any thread). The live state takes the
// point at once; the window's cursor follows on the UI thread.
void Plat_InputWarp(int32_t x, int32_t y);
// Replaces the live state: tests drive input with it.
void Plat_InputInject(const PlatInputState& state);
// A state with nothing down, the hat centred and no focus.
PlatInputState Plat_InputIdle();

// The key table: the DIK code read for an SDL scancode (0 for keys not read).
uint8_t Plat_InputDikOf(int scancode);
