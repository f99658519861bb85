// The font-settings window: the player picks the face of the main text style
// from the game's own face and the alternative face, with a preview. The
// option screen drives it once a frame with Lib_FontAppRun until it returns
// 1. The window lives on the UI thread (platform/plat_font_window.h) and only
// shows what it is told; the controls' state and behaviour (list, buttons,
// focus, keys, mouse and pad) are kept here, on the game thread, and the
// window's messages arrive through the game thread's queue
// (Lib_FontAppWndProc).
#pragma once

#include <cstdint>

#include "engine/text/font.h"
#include "platform/plat_font_window.h"
#include "platform/plat_msg.h"

inline constexpr int32_t kFontAppMaxFaces = kPlatFontMaxItems;

// Control identifiers, also the focus indices.
enum : int32_t { FONTAPP_LIST = 1, FONTAPP_OK = 2, FONTAPP_CANCEL = 3, FONTAPP_RESET = 4 };

// Run states of Lib_FontAppRun.
enum : uint8_t { FONTAPP_CLOSED = 0, FONTAPP_OPEN = 10, FONTAPP_APPLYING = 99, FONTAPP_SETTLING = 100 };

// The chosen face itself is FontUserFace (font.h).
struct FontAppStateT {
    char list[kFontAppMaxFaces][kFaceNameSize];  // the faces in entry order
    int32_t count;
    uint8_t runState;
    uint8_t closed;           // 1 once the window was asked to close
    uint32_t window;          // serial of the open window, 0 none
    int32_t counter;          // pad repeat while open, the settling calls afterwards
    PlatFontWindowView view;  // the window and its controls as shown
};
extern FontAppStateT FontAppState;

// The per-frame driver; returns 1 once, when the window has closed and
// settled, else 0. configured: the face name the option screen holds.
uint8_t Lib_FontAppRun(const char* configured);
// Entry 0 the game's face, entry 1 the family name of the alternative face
// (kept from before when that font has no name; left out without the font).
void Lib_FontAppListMake();
// Lays out and opens the window with the list sorted and the configured face
// selected; the list has the focus.
void Lib_FontAppCreate(const char* configured);
// Shows the sample text in a face.
void Lib_FontAppPreview(const char* face);
// A message of the game thread's queue; false when it is not the window's.
bool Lib_FontAppWndProc(const PlatMsg& msg);
// A control's command: 1 list changed (repaint), 2 OK, 3 Cancel, 4 Reset.
void Lib_FontAppCommand(int32_t id);
// The control that gets the focus after the focused one, forward or backward.
int32_t Lib_FontAppFocusIndex(bool backward);
// Maps the engine's buttons onto the controls; once a frame while open.
void Lib_FontAppPadInput();
// The window's client size and control rectangles for a number of faces.
void Lib_FontAppLayout(int32_t faces, PlatFontWindowView* view);
// Start-up and shutdown: closes a window that is open, run state 0.
void Lib_FontAppStateClear();

// The window service; the platform's by default, tests install their own
// (null restores the platform's).
struct FontWindowOps {
    void (*open)(const PlatFontWindowView& view, const PlatFontFace* faces, int32_t count);
    void (*show)(const PlatFontWindowView& view);
    void (*close)(uint32_t serial);
};
void Lib_FontAppOpsSet(const FontWindowOps* ops);
