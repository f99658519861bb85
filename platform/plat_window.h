// The application window and the UI thread's event pump, on SDL2.
#pragma once

#include <cstdint>

// Requests the game thread posts to the UI thread; never waited for.
enum WindowRequest : int32_t {
    WINDOW_REQ_CLOSE = 1,     // ask to close, as the window's close button does
    WINDOW_REQ_DESTROY = 2,   // destroy the window: ends the UI thread's pump
    WINDOW_REQ_MAXIMIZE = 3,  // maximise (leads to full screen)
    WINDOW_REQ_MOVE = 4,        // a, b = window rectangle's top-left; c, d = client size
    WINDOW_REQ_SHOW = 5,        // a = 0 normal, 1 maximised, 2 minimised
    WINDOW_REQ_FULLSCREEN = 6,  // a = 1 borderless full screen on, 0 off
};

// A window event as the engine's window handler sees it (UI thread).
enum PlatWindowEventKind : int32_t {
    PWE_MOVED,         // a, b = client position
    PWE_SIZE_CHANGED,  // a, b = client size
    PWE_MINIMIZED,
    PWE_MAXIMIZED,
    PWE_RESTORED,
    PWE_CLOSE,         // the close button, or WINDOW_REQ_CLOSE
    PWE_REQUEST,       // a posted request: req and a..d as posted
    PWE_IDLE,          // the UI queue was found empty
    PWE_QUIT,          // a quit from outside: a signal (Ctrl-C, SIGTERM) or the system
    PWE_EXPOSED,       // the window's contents were lost and must be drawn again
};
struct PlatWindowEvent {
    PlatWindowEventKind kind;
    WindowRequest req;
    int32_t a, b, c, d;
};
using WindowEventHandler = void (*)(const PlatWindowEvent& ev);

enum PlatWindowState : int32_t { PLAT_WINDOW_NORMAL, PLAT_WINDOW_MINIMIZED, PLAT_WINDOW_MAXIMIZED };

// A rectangle on the desktop: position and size.
struct PlatRect {
    int32_t x, y, w, h;
};

// What one look at the UI queue found.
enum PumpResult { PUMP_NONE, PUMP_HANDLED, PUMP_QUIT };

// Handler of UI-thread events, given each SDL event in turn.
using UiEventHandler = void (*)(const void* sdlEvent);

// Starts the video system on a display the window is seen on; SDL's
// off-screen drivers only when SDL_VIDEODRIVER asks for one (tests, tools).
// False, with Plat_LastError saying why, when there is none.
bool Plat_VideoInit();
// Whether the video runs on a driver that shows the window to someone: false
// on SDL's off-screen, dummy and evdev (the dummy one with the console's
// input) drivers, whose window no one sees.
bool Plat_VideoShowsWindow();
// The platform's last error text, for start-up messages.
const char* Plat_LastError();
void Plat_VideoQuit();
bool Plat_WindowCreate(const char* title, int32_t x, int32_t y, uint32_t width, uint32_t height);
void Plat_WindowDestroy();
bool Plat_WindowExists();
// The window as an SDL_Window*, or null.
void* Plat_WindowHandle();
// Raw SDL events other than posted requests (input and the like).
void Plat_SetUiEventHandler(UiEventHandler handler);
// The application window's events, posted requests and idle moments.
// Without a handler, requests are dropped.
void Plat_SetWindowEventHandler(WindowEventHandler handler);

// Window calls, UI thread only; all do nothing without a window. Positions
// and sizes are the client area's; the frame is what the window manager adds.
PlatWindowState Plat_WindowState();  // full screen counts as maximised
void Plat_WindowGetRect(PlatRect* client);
void Plat_WindowSetRect(const PlatRect& client);  // w or h <= 0 keeps the size
void Plat_WindowSetSize(int32_t w, int32_t h);
void Plat_WindowSetMinSize(int32_t w, int32_t h);
void Plat_WindowFrameSize(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);
void Plat_WindowMaximize();
void Plat_WindowMinimize();
void Plat_WindowRestore();
void Plat_WindowHide();
void Plat_WindowFullScreen(bool on);  // borderless, the desktop's size
// Switches text input (the input method) off for the program.
void Plat_TextInputOff();
// Bounds of up to max displays, the primary first; returns the count.
int Plat_DisplayBounds(PlatRect* out, int max);
// A yes/no question box (any thread, no parent window): 1 yes, 0 no, -1 when
// no box could be shown.
int Plat_AskYesNo(const char* text, const char* caption);

// Takes one event from the UI queue and dispatches it; with none queued waits
// up to waitMs for one (every request, Plat_PostQuit included, is an event
// that ends the wait at once).
PumpResult Plat_PumpOne(uint32_t waitMs);

// Posts a window request to the UI thread (any thread). False when it could
// not be queued (the queue is full): the request is lost.
bool Plat_PostWindowRequest(WindowRequest req, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0);
// Posts a new window title (UTF-8, cut to 255 bytes on a character
// boundary) from any thread; the pump sets it on the UI thread. False when
// the request could not be queued (a later title still replaces it).
bool Plat_PostWindowTitle(const char* utf8);
// The window's title as it stands (UTF-8, at most size - 1 bytes); empty
// without a window.
void Plat_WindowTitleGet(char* out, uint32_t size);
// Ends the UI thread's pump at its next look (any thread); never lost. A quit
// that comes from outside (SDL_QUIT: signals, the system) reaches the window
// handler as PWE_QUIT instead, so that it closes the way a close does.
void Plat_PostQuit();
