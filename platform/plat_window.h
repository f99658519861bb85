// The application window and the UI thread's event pump, on SDL2.
#pragma once

#include <cstdint>

// Requests the game thread posts to the UI thread; never waited for.
enum WindowRequest : int32_t {
    WINDOW_REQ_CLOSE = 1,     // ask to close, as the window's close button does
    WINDOW_REQ_DESTROY = 2,   // destroy the window: ends the UI thread's pump
    WINDOW_REQ_MAXIMIZE = 3,  // maximise (leads to full screen)
    WINDOW_REQ_MOVE = 4,      // a = x, b = y, c = width, d = height (client)
    WINDOW_REQ_SHOW = 5,      // a = 0 normal, 1 maximised, 2 minimised
};

// What one look at the UI queue found.
enum PumpResult { PUMP_NONE, PUMP_HANDLED, PUMP_QUIT };

// Handler of UI-thread events, given each SDL event in turn.
using UiEventHandler = void (*)(const void* sdlEvent);

bool Plat_VideoInit();
// The platform's last error text, for start-up messages.
const char* Plat_LastError();
void Plat_VideoQuit();
bool Plat_WindowCreate(const char* title, int32_t x, int32_t y, uint32_t width, uint32_t height);
void Plat_WindowDestroy();
bool Plat_WindowExists();
void Plat_SetUiEventHandler(UiEventHandler handler);

// Takes one event from the UI queue and dispatches it; with none queued waits
// up to waitMs for one.
PumpResult Plat_PumpOne(uint32_t waitMs);

// Posts a window request to the UI thread (any thread).
void Plat_PostWindowRequest(WindowRequest req, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0);
// Posts the quit message that ends the UI thread's pump (any thread).
void Plat_PostQuit();
