// The application window and the per-user folder: the window on the UI thread
// (Main_AppStart, Main_WndProc), its upkeep on the game thread once a pass
// (Main_WindowService), and "system.ini" in user/<UserId>/, a folder made
// only once the start has succeeded (Main_UserFolderMake).
//
// Everything the window does happens on the UI thread; the game thread asks
// for it with posted requests and never waits. The settings block has one
// owner behind a mutex; the flags are atomic.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/core/engine_state.h"
#include "platform/plat_window.h"

inline constexpr uint32_t kSystemIniSize = 64;
inline constexpr int32_t kWindowMinWidth = 192;
inline constexpr int32_t kWindowMinHeight = 108;

extern std::atomic<uint8_t> ResizePending;  // the renderer adapts at the next service
extern std::atomic<uint8_t> CloseConfirm;   // 1: closing asks first; 0: closes at once

// Engine buttons the window service reacts to.
enum : uint32_t { BUTTON_SIZE_RESET = 0x10, BUTTON_FULLSCREEN = 0x20 };

// Start-up on the UI thread: store client, user id, system.ini read, the
// window. Writes nothing. False when no window could be made.
bool Main_AppStart();
// Once the window is up and the game data found: the user's folder, and
// system.ini written when there is none yet. Nothing is written before.
void Main_UserFolderMake();
// Puts the window service's run-wide state back as a fresh process has it:
// no resize or switch pending, no question open, closing asks first, the
// window taken as seen.
void Main_AppWindowReset();
// Tear-down on the UI thread after the game thread has ended.
void Main_AppEnd();
// The UI thread's handler of window events and posted requests.
void Main_WndProc(const PlatWindowEvent& ev);
// Called by the game thread after every task pass.
void Main_WindowService();
// Borderless full screen on (1) or off (0), by a posted request. Returns 1
// when full screen was on before and the window was not minimised. A request
// that could not be posted changes nothing; the next pass asks again.
uint32_t Main_FullScreenSet(uint8_t on);
// Posts a maximise request (the service then turns the window full screen).
void Main_WindowMaximise();
// At start-up: a game closed in full screen (system.ini) asks for it again.
void Main_FullScreenRestore();
// The window is minimised, as the UI thread last reported.
bool Main_WindowMinimised();
// The one way the program ends once it runs: writes system.ini and takes the
// window down. A confirmed close, a close without question and a quit from a
// signal or the system all come here (any thread).
void Main_CloseNow();
// The size-reset and full-screen buttons (F1, F2) newly pressed this frame.
uint32_t Main_WindowKeysNewlyPressed();

// Reads system.ini into the block, its values checked against the displays
// (Main_AppStart); false, the block unchanged, when there is no such regular
// file. A short file replaces only the bytes it has.
bool Main_SystemIniRead();
// Writes the block to system.ini (the user folder's making, when the file is
// not there, and every close). On a driver that shows no window (SDL's
// off-screen one; its dummy and evdev drivers have no OpenGL, so the start
// ends before anything is written) the window's place and size are written
// as the file had them when the program started (the defaults when there was
// none), so that a run without a display keeps what the player set.
void Main_SystemIniWrite();

// The 16:9 sizing rule for a proposed window rectangle whose edge `edge` is
// dragged: 1 left, 2 right, 3 top, 4 top-left, 5 top-right, 6 bottom,
// 7 bottom-left, 8 bottom-right; any other value changes nothing. `frame`
// is the window size minus the client size.
struct WinRect {
    int32_t left, top, right, bottom;
};
struct WinSize {
    int32_t w, h;
};
WinRect SizingAdjust(int32_t edge, WinRect rect, WinSize frame);

// What the window code needs of the world; tests replace it.
struct WindowOps {
    PlatWindowState (*state)();  // as the UI thread last saw it
    uint32_t (*keysNewlyPressed)();
    bool (*post)(WindowRequest req, int32_t a, int32_t b, int32_t c, int32_t d);  // false: lost
    void (*resizeTarget)(uint32_t width, uint32_t height);  // 0, 0: the window's size
    bool (*takeMessage)();  // handles one game-thread message; false when none
    int (*ask)(const char* text, const char* caption);  // 1 yes, 0 no, -1 not shown
    int (*displays)(PlatRect* out, int max);
};
// Null restores the real ones. Also forgets a switch or question under way.
void Main_WindowOpsSet(const WindowOps* ops);
