#include "platform/plat_window.h"

#include "platform/plat_audio.h"
#include "platform/plat_font_window.h"
#include "platform/plat_gl.h"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {
// process-wide (g_window, g_requestEvent, g_quitPosted, g_handler, g_windowHandler): the window
// and the video system, made afresh by Plat_VideoInit and
// Plat_WindowCreate; the handlers are installed at the program's start
SDL_Window* g_window = nullptr;
std::atomic<uint32_t> g_requestEvent{0};
std::atomic<bool> g_quitPosted{false};
UiEventHandler g_handler = nullptr;
WindowEventHandler g_windowHandler = nullptr;
// The title waiting for the UI thread; its request is the pump's own.
constexpr int32_t kTitleRequest = 0x7469;
// process-wide (g_titleLock, g_title): the title posted for the window, with its lock
std::mutex g_titleLock;
char g_title[256] = {};

// Request arguments travel packed in the event's two pointers.
static_assert(sizeof(void*) == 8, "request arguments need 64-bit pointers");
void* packPair(int32_t hi, int32_t lo) {
    return reinterpret_cast<void*>(uintptr_t((uint64_t(uint32_t(hi)) << 32) | uint32_t(lo)));
}
int32_t pairHi(void* p) { return int32_t(uint32_t(uint64_t(reinterpret_cast<uintptr_t>(p)) >> 32)); }
int32_t pairLo(void* p) { return int32_t(uint32_t(reinterpret_cast<uintptr_t>(p))); }

// The application window's own events, translated; false for anything else.
bool translateWindowEvent(const SDL_WindowEvent& w, PlatWindowEvent* out) {
    if (!g_window || w.windowID != SDL_GetWindowID(g_window)) return false;
    *out = PlatWindowEvent{PWE_IDLE, WindowRequest(0), w.data1, w.data2, 0, 0};
    switch (w.event) {
        case SDL_WINDOWEVENT_MOVED: out->kind = PWE_MOVED; return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED: out->kind = PWE_SIZE_CHANGED; return true;
        case SDL_WINDOWEVENT_MINIMIZED: out->kind = PWE_MINIMIZED; return true;
        case SDL_WINDOWEVENT_MAXIMIZED: out->kind = PWE_MAXIMIZED; return true;
        case SDL_WINDOWEVENT_RESTORED: out->kind = PWE_RESTORED; return true;
        case SDL_WINDOWEVENT_CLOSE: out->kind = PWE_CLOSE; return true;
        case SDL_WINDOWEVENT_EXPOSED: out->kind = PWE_EXPOSED; return true;
        default: return false;
    }
}
// Whether SDL's Wayland driver is worth a try: the Wayland library needs a
// server named, or a runtime folder to look for one in, and prints a line of
// its own when it has neither.
bool waylandReachable() {
    return std::getenv("WAYLAND_DISPLAY") || std::getenv("WAYLAND_SOCKET") || std::getenv("XDG_RUNTIME_DIR");
}

// While SDL's video starts, the Wayland library (loaded by SDL's wayland
// driver) would print a line of its own where it finds no server (no runtime
// folder, say): its log goes nowhere for that time, then to stderr again as
// its own printer does. Looked up at run time, so that a system without
// Wayland needs nothing of it; once loaded it stays, with the printer set.
class WaylandLogQuiet {
public:
    WaylandLogQuiet() {
        lib_ = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (lib_) set_ = reinterpret_cast<SetHandler>(dlsym(lib_, "wl_log_set_handler_client"));
        if (set_) set_(Silent);
    }
    ~WaylandLogQuiet() {
        if (set_) set_(Print);
        if (lib_) dlclose(lib_);
    }
    WaylandLogQuiet(const WaylandLogQuiet&) = delete;
    WaylandLogQuiet& operator=(const WaylandLogQuiet&) = delete;

private:
    using Handler = void (*)(const char*, va_list);
    using SetHandler = void (*)(Handler);
    static void Silent(const char*, va_list) {}
    static void Print(const char* format, va_list args) { std::vfprintf(stderr, format, args); }
    void* lib_ = nullptr;
    SetHandler set_ = nullptr;
};

bool videoSubsystemStart() {
    WaylandLogQuiet quiet;
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

// Starts SDL's video on a driver that shows the window to someone. SDL would
// fall back to drawing into memory (its offscreen, dummy and evdev drivers)
// where no display is found; those run only when SDL_VIDEODRIVER names them.
bool videoStart() {
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (asked && *asked) return videoSubsystemStart();
    std::string shown;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const std::string name = SDL_GetVideoDriver(i);
        if (name == "offscreen" || name == "dummy" || name == "evdev") continue;
        if (name == "wayland" && !waylandReachable()) continue;
        shown += (shown.empty() ? "" : ",") + name;
    }
    bool started = false;
    if (!shown.empty()) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, shown.c_str());
        started = videoSubsystemStart();
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    }
    if (started) return true;
    const char* display = std::getenv("DISPLAY");
    if (display && *display)
        SDL_SetError("no display to show the window on (the X server at DISPLAY=%s does not answer)", display);
    else
        SDL_SetError("no display to show the window on (DISPLAY is not set)");
    return false;
}
}  // namespace

bool Plat_VideoInit() {
    // Closing the window asks first; it must not end the program by itself.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (!videoStart()) return false;
    // Before the first window: a server lost while the game thread has not
    // made its context yet ends the program as one lost later does.
    Plat_GLCatchXErrors();
    g_quitPosted.store(false);
    if (g_requestEvent.load() == 0) {
        uint32_t type = SDL_RegisterEvents(1);
        if (type == uint32_t(-1)) return false;
        g_requestEvent.store(type);
    }
    Plat_FontWindowSetup();
    return true;
}

bool Plat_VideoShowsWindow() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) return false;
    const std::string name = driver;
    return name != "offscreen" && name != "dummy" && name != "evdev";
}

const char* Plat_LastError() { return SDL_GetError(); }

void Plat_VideoQuit() {
    Plat_FontWindowDestroy();
    Plat_WindowDestroy();
    g_windowHandler = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    Plat_GLReleaseXErrors();
}

bool Plat_WindowCreate(const char* title, int32_t x, int32_t y, uint32_t width, uint32_t height) {
    if (g_window) return true;
    g_window = SDL_CreateWindow(title, x, y, int(width), int(height), SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    return g_window != nullptr;
}

void Plat_WindowDestroy() {
    if (g_window) SDL_DestroyWindow(g_window);
    g_window = nullptr;
}

void* Plat_WindowHandle() { return g_window; }

bool Plat_WindowExists() { return g_window != nullptr; }

void Plat_SetUiEventHandler(UiEventHandler handler) { g_handler = handler; }

void Plat_SetWindowEventHandler(WindowEventHandler handler) { g_windowHandler = handler; }

PumpResult Plat_PumpOne(uint32_t waitMs) {
    if (g_quitPosted.exchange(false)) return PUMP_QUIT;
    SDL_Event ev;
    if (!SDL_PollEvent(&ev)) {
        if (g_windowHandler) g_windowHandler(PlatWindowEvent{PWE_IDLE, WindowRequest(0), 0, 0, 0, 0});
        if (!SDL_WaitEventTimeout(&ev, int(waitMs))) return g_quitPosted.exchange(false) ? PUMP_QUIT : PUMP_NONE;
    }
    if (ev.type == SDL_QUIT) {
        // SDL's own quit: its handler of SIGINT and SIGTERM, or the system.
        if (!g_windowHandler) return PUMP_QUIT;
        g_windowHandler(PlatWindowEvent{PWE_QUIT, WindowRequest(0), 0, 0, 0, 0});
        return PUMP_HANDLED;
    }
    uint32_t requestType = g_requestEvent.load();
    if (requestType != 0 && ev.type == requestType) {
        if (ev.user.code == kTitleRequest) {
            char title[sizeof g_title];
            {
                std::lock_guard<std::mutex> hold(g_titleLock);
                std::memcpy(title, g_title, sizeof title);
            }
            if (g_window) SDL_SetWindowTitle(g_window, title);
            return PUMP_HANDLED;
        }
        PlatWindowEvent req{PWE_REQUEST, WindowRequest(ev.user.code), pairHi(ev.user.data1),
                            pairLo(ev.user.data1), pairHi(ev.user.data2), pairLo(ev.user.data2)};
        if (g_windowHandler) g_windowHandler(req);
        return PUMP_HANDLED;
    }
    if (ev.type == SDL_WINDOWEVENT &&
        (ev.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || ev.window.event == SDL_WINDOWEVENT_FOCUS_LOST)) {
        // Sound is heard only while one of the program's windows (the game
        // window or the font window) has the input focus.
        Plat_AudioSetFocus(SDL_GetKeyboardFocus() != nullptr);
    }
    if (ev.type == SDL_WINDOWEVENT && g_window && ev.window.windowID == SDL_GetWindowID(g_window)) {
        switch (ev.window.event) {
            case SDL_WINDOWEVENT_SHOWN:
            case SDL_WINDOWEVENT_EXPOSED:
            case SDL_WINDOWEVENT_RESIZED:
            case SDL_WINDOWEVENT_SIZE_CHANGED:
            case SDL_WINDOWEVENT_MAXIMIZED:
            case SDL_WINDOWEVENT_RESTORED: Plat_GLWindowChanged(); break;
            default: break;
        }
    }
    // The font window's requests and events, and the game window's mouse while it is open.
    if (Plat_FontWindowEvent(&ev)) return PUMP_HANDLED;
    PlatWindowEvent win;
    if (ev.type == SDL_WINDOWEVENT && g_windowHandler && translateWindowEvent(ev.window, &win)) g_windowHandler(win);
    if (g_handler) g_handler(&ev);
    return PUMP_HANDLED;
}

bool Plat_PostWindowRequest(WindowRequest req, int32_t a, int32_t b, int32_t c, int32_t d) {
    uint32_t type = g_requestEvent.load();
    if (type == 0) return false;
    SDL_Event ev{};
    ev.type = type;
    ev.user.code = req;
    ev.user.data1 = packPair(a, b);
    ev.user.data2 = packPair(c, d);
    return SDL_PushEvent(&ev) == 1;
}

bool Plat_PostWindowTitle(const char* utf8) {
    if (!utf8) utf8 = "";
    {
        std::lock_guard<std::mutex> hold(g_titleLock);
        size_t n = strnlen(utf8, sizeof g_title - 1);
        // Never end inside a character: drop continuation bytes and their lead.
        if (n == sizeof g_title - 1 && utf8[n] != 0) {
            size_t k = n;
            while (k > 0 && (uint8_t(utf8[k]) & 0xC0) == 0x80) --k;
            n = k;
        }
        std::memcpy(g_title, utf8, n);
        g_title[n] = 0;
    }
    return Plat_PostWindowRequest(WindowRequest(kTitleRequest));
}

void Plat_WindowTitleGet(char* out, uint32_t size) {
    if (!out || !size) return;
    out[0] = 0;
    if (!g_window) return;
    const char* t = SDL_GetWindowTitle(g_window);
    if (!t) return;
    const size_t n = strnlen(t, size - 1);
    std::memcpy(out, t, n);
    out[n] = 0;
}

void Plat_PostQuit() {
    g_quitPosted.store(true);
    // Only a wake-up: the pump looks at the flag at least once per wait.
    uint32_t type = g_requestEvent.load();
    if (type == 0) return;
    SDL_Event ev{};
    ev.type = type;
    SDL_PushEvent(&ev);
}

// --- Window calls (UI thread) ------------------------------------------------

PlatWindowState Plat_WindowState() {
    uint32_t flags = g_window ? SDL_GetWindowFlags(g_window) : 0;
    if (flags & SDL_WINDOW_MINIMIZED) return PLAT_WINDOW_MINIMIZED;
    if (flags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN)) return PLAT_WINDOW_MAXIMIZED;
    return PLAT_WINDOW_NORMAL;
}

void Plat_WindowGetRect(PlatRect* client) {
    *client = PlatRect{0, 0, 0, 0};
    if (!g_window) return;
    SDL_GetWindowPosition(g_window, &client->x, &client->y);
    SDL_GetWindowSize(g_window, &client->w, &client->h);
}

void Plat_WindowSetRect(const PlatRect& client) {
    if (!g_window) return;
    if (client.w > 0 && client.h > 0) SDL_SetWindowSize(g_window, client.w, client.h);
    SDL_SetWindowPosition(g_window, client.x, client.y);
}

void Plat_WindowSetSize(int32_t w, int32_t h) {
    if (g_window && w > 0 && h > 0) SDL_SetWindowSize(g_window, w, h);
}

void Plat_WindowSetMinSize(int32_t w, int32_t h) {
    if (g_window) SDL_SetWindowMinimumSize(g_window, w, h);
}

void Plat_WindowFrameSize(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) {
    int t = 0, l = 0, b = 0, r = 0;
    // Not every window manager reports its frame: then there is none.
    if (!g_window || SDL_GetWindowBordersSize(g_window, &t, &l, &b, &r) != 0) t = l = b = r = 0;
    *left = l;
    *top = t;
    *right = r;
    *bottom = b;
}

void Plat_WindowMaximize() {
    if (g_window) SDL_MaximizeWindow(g_window);
}

void Plat_WindowMinimize() {
    if (g_window) SDL_MinimizeWindow(g_window);
}

void Plat_WindowRestore() {
    if (g_window) SDL_RestoreWindow(g_window);
}

void Plat_WindowHide() {
    if (g_window) SDL_HideWindow(g_window);
}

void Plat_WindowFullScreen(bool on) {
    if (!g_window) return;
    // SDL tells of the switch with a size event, which marks the window's
    // size unsure for the present (see the pump).
    SDL_SetWindowFullscreen(g_window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

void Plat_TextInputOff() { SDL_StopTextInput(); }

int Plat_DisplayBounds(PlatRect* out, int max) {
    int n = SDL_GetNumVideoDisplays();
    int count = 0;
    for (int i = 0; i < n && count < max; ++i) {
        SDL_Rect r;
        if (SDL_GetDisplayBounds(i, &r) != 0) continue;
        if (r.w <= 0 || r.h <= 0) continue;
        out[count++] = PlatRect{r.x, r.y, r.w, r.h};
    }
    return count;
}

int Plat_AskYesNo(const char* text, const char* caption) {
    const SDL_MessageBoxButtonData buttons[2] = {
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
    };
    SDL_MessageBoxData box{};
    box.flags = SDL_MESSAGEBOX_INFORMATION;
    box.window = nullptr;
    box.title = caption;
    box.message = text;
    box.numbuttons = 2;
    box.buttons = buttons;
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) return -1;
    return pressed == 1 ? 1 : 0;
}
