#include "platform/plat_window.h"

#include <SDL.h>

#include <atomic>

namespace {
SDL_Window* g_window = nullptr;
std::atomic<uint32_t> g_requestEvent{0};
UiEventHandler g_handler = nullptr;

void applyRequest(const SDL_UserEvent& ev) {
    const int32_t* args = static_cast<const int32_t*>(ev.data1);
    int32_t a = args ? args[0] : 0, b = args ? args[1] : 0, c = args ? args[2] : 0, d = args ? args[3] : 0;
    delete[] args;
    switch (ev.code) {
        case WINDOW_REQ_CLOSE: {
            SDL_Event close{};
            close.type = SDL_WINDOWEVENT;
            close.window.event = SDL_WINDOWEVENT_CLOSE;
            close.window.windowID = g_window ? SDL_GetWindowID(g_window) : 0;
            SDL_PushEvent(&close);
            break;
        }
        case WINDOW_REQ_DESTROY:
            Plat_WindowDestroy();
            Plat_PostQuit();
            break;
        case WINDOW_REQ_MAXIMIZE:
            if (g_window) SDL_MaximizeWindow(g_window);
            break;
        case WINDOW_REQ_MOVE:
            if (g_window) {
                SDL_SetWindowPosition(g_window, a, b);
                if (c > 0 && d > 0) SDL_SetWindowSize(g_window, c, d);
            }
            break;
        case WINDOW_REQ_SHOW:
            if (!g_window) break;
            if (a == 1)
                SDL_MaximizeWindow(g_window);
            else if (a == 2)
                SDL_MinimizeWindow(g_window);
            else
                SDL_RestoreWindow(g_window);
            break;
        default:
            break;
    }
}
}  // namespace

bool Plat_VideoInit() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
    if (g_requestEvent.load() == 0) {
        uint32_t type = SDL_RegisterEvents(1);
        if (type == uint32_t(-1)) return false;
        g_requestEvent.store(type);
    }
    return true;
}

const char* Plat_LastError() { return SDL_GetError(); }

void Plat_VideoQuit() {
    Plat_WindowDestroy();
    // Requests still queued own their argument blocks.
    if (uint32_t type = g_requestEvent.load()) {
        SDL_PumpEvents();
        SDL_Event ev;
        while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, type, type) == 1) delete[] static_cast<int32_t*>(ev.user.data1);
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

bool Plat_WindowCreate(const char* title, int32_t x, int32_t y, uint32_t width, uint32_t height) {
    if (g_window) return true;
    g_window = SDL_CreateWindow(title, x, y, int(width), int(height), SDL_WINDOW_RESIZABLE);
    return g_window != nullptr;
}

void Plat_WindowDestroy() {
    if (g_window) SDL_DestroyWindow(g_window);
    g_window = nullptr;
}

bool Plat_WindowExists() { return g_window != nullptr; }

void Plat_SetUiEventHandler(UiEventHandler handler) { g_handler = handler; }

PumpResult Plat_PumpOne(uint32_t waitMs) {
    SDL_Event ev;
    if (!SDL_PollEvent(&ev)) {
        if (!SDL_WaitEventTimeout(&ev, int(waitMs))) return PUMP_NONE;
    }
    if (ev.type == SDL_QUIT) return PUMP_QUIT;
    uint32_t requestType = g_requestEvent.load();
    if (requestType != 0 && ev.type == requestType)
        applyRequest(ev.user);
    else if (g_handler)
        g_handler(&ev);
    return PUMP_HANDLED;
}

void Plat_PostWindowRequest(WindowRequest req, int32_t a, int32_t b, int32_t c, int32_t d) {
    uint32_t type = g_requestEvent.load();
    if (type == 0) return;
    SDL_Event ev{};
    ev.type = type;
    ev.user.code = req;
    ev.user.data1 = new int32_t[4]{a, b, c, d};
    if (SDL_PushEvent(&ev) != 1) delete[] static_cast<int32_t*>(ev.user.data1);
}

void Plat_PostQuit() {
    SDL_Event ev{};
    ev.type = SDL_QUIT;
    SDL_PushEvent(&ev);
}
