#include "platform/plat_gl.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// process-wide (g_window, g_context, g_headless, g_error): the GL window and context, made and
// destroyed with them
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
bool g_headless = false;  // window and video system are ours
std::string g_error;

// --- Presenting a part of the window -----------------------------------------
// The entry points are looked up through SDL, so that neither GLX nor EGL is
// linked: which of them the context runs on is known only at run time.
constexpr int32_t kEglExtensions = 0x3055, kEglDraw = 0x3059, kEglBufferAge = 0x313D;
using GlxCurrent = void* (*)();
using GlxDrawableOf = unsigned long (*)();
using GlxExtensions = const char* (*)(void* display, int screen);
using GlxCopySub = void (*)(void* display, unsigned long drawable, int x, int y, int w, int h);
using XDisplayLock = void (*)(void* display);
using XGeometryOf = int (*)(void* display, unsigned long drawable, unsigned long* root, int* x, int* y,
                            unsigned* width, unsigned* height, unsigned* border, unsigned* depth);
using XErrorCatcher = int (*)(Display*, XErrorEvent*);
using XIOErrorCatcher = int (*)(Display*);
using XSetErrorCatcher = XErrorCatcher (*)(XErrorCatcher);
using XSetIOErrorCatcher = XIOErrorCatcher (*)(XIOErrorCatcher);
using EglCurrent = void* (*)();
using EglSurfaceOf = void* (*)(int32_t which);
using EglString = const char* (*)(void* display, int32_t name);
using EglQuery = unsigned (*)(void* display, void* surface, int32_t attribute, int32_t* value);
using EglSwapDamage = unsigned (*)(void* display, void* surface, const int32_t* rects, int32_t count);

struct Presenter {
    bool chosen = false;
    PlatPresentMode mode = PRESENT_SWAP;
    GlxCopySub copySub = nullptr;
    void* glxDisplay = nullptr;
    unsigned long glxDrawable = 0;
    XDisplayLock lockDisplay = nullptr, unlockDisplay = nullptr;
    XGeometryOf geometry = nullptr;
    // The X window's size as last asked. It is asked again (one round trip)
    // only when it may have changed since (see g_sizeUnsure), and after each
    // of the next presents for a while: a window manager may carry out the
    // change a little after the event that told of it.
    bool sizeHeld = false;
    PlatGLRect heldSize = {};
    static constexpr int kAskAfterChange = 30;
    int askAfter = 0;
    EglQuery eglQuery = nullptr;
    EglSwapDamage eglSwapDamage = nullptr;
    void* eglDisplay = nullptr;
    void* eglSurface = nullptr;
    // The areas of the last presents, newest first: what an older back
    // buffer misses.
    static constexpr int kHistory = 4;
    PlatGLRect history[kHistory] = {};
    int historyCount = 0;
    uint64_t presents = 0, pixels = 0;
    // The window's size at the last present. A present at another size
    // swaps the whole window (the driver takes a new size only on a swap),
    // and the frame after it is drawn and presented whole.
    int32_t presentedW = 0, presentedH = 0;
    bool wholeNext = false;
    // The X errors counted when the last present ended; the requests it made
    // (first, and the one after the last); whether it swapped.
    uint32_t errorsSeen = 0;
    unsigned long requests[2] = {1, 1};
    bool lastWasSwap = false;
    bool toldFallback = false, toldOther = false;
};
// process-wide: the present's way and the window's size, chosen with the context
Presenter g_presenter;
// Set by the UI thread on the window's events that come with a size change
// (SDL's size, expose, show and restore events; SDL sends a size event for a
// full-screen switch itself); the next look at the window's size asks the X
// server.
// process-wide (g_sizeUnsure, g_sizeQuery): the window's size is asked again after each change
std::atomic<bool> g_sizeUnsure{true};
PlatGLSizeQuery g_sizeQuery = nullptr;  // a test's stand-in for the server

// --- X errors -----------------------------------------------------------------
// Xlib's own handlers end the process on any protocol error and on a lost
// connection. A failed present is not worth that: the window's errors are
// counted here and the present falls back to whole swaps. A lost connection
// ends the process at once, without the global destructors that threads
// still running would use.
// process-wide (g_xErrors, g_xLastError, g_xLastSerial, g_setErrorHandler, g_setIOErrorHandler,
// g_earlierErrorHandler, g_earlierIOErrorHandler): the X error handlers, installed and put back
// by Plat_GLCatchXErrors and Plat_GLReleaseXErrors; counts read as differences
std::atomic<uint32_t> g_xErrors{0};
std::atomic<uint32_t> g_xLastError{0};  // error code, request code, minor code
std::atomic<unsigned long> g_xLastSerial{0};  // the request it answered
XSetErrorCatcher g_setErrorHandler = nullptr;
XSetIOErrorCatcher g_setIOErrorHandler = nullptr;
XErrorCatcher g_earlierErrorHandler = nullptr;
XIOErrorCatcher g_earlierIOErrorHandler = nullptr;

int CountXError(Display*, XErrorEvent* e) {
    g_xLastError.store(uint32_t(e->error_code) << 16 | uint32_t(e->request_code) << 8 | e->minor_code,
                       std::memory_order_relaxed);
    g_xLastSerial.store(e->serial, std::memory_order_relaxed);
    g_xErrors.fetch_add(1, std::memory_order_release);
    return 0;
}

int EndOnLostConnection(Display*) {
    static const char line[] = "vn: the connection to the X server was lost\n";
    ssize_t ignored = ::write(2, line, sizeof line - 1);
    (void)ignored;
    ::_exit(1);
}

}  // namespace

void Plat_GLCatchXErrors() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (g_setErrorHandler || !driver || std::strcmp(driver, "x11") != 0) return;
    // Xlib as SDL loaded it.
    void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!x11) return;
    g_setErrorHandler = reinterpret_cast<XSetErrorCatcher>(dlsym(x11, "XSetErrorHandler"));
    g_setIOErrorHandler = reinterpret_cast<XSetIOErrorCatcher>(dlsym(x11, "XSetIOErrorHandler"));
    if (!g_setErrorHandler || !g_setIOErrorHandler) {
        g_setErrorHandler = nullptr;
        g_setIOErrorHandler = nullptr;
        return;
    }
    g_earlierErrorHandler = g_setErrorHandler(CountXError);
    g_earlierIOErrorHandler = g_setIOErrorHandler(EndOnLostConnection);
}

void* Plat_GLXErrorHandler() { return g_setErrorHandler ? reinterpret_cast<void*>(&CountXError) : nullptr; }

void Plat_GLReleaseXErrors() {
    if (!g_setErrorHandler) return;
    g_setErrorHandler(g_earlierErrorHandler);
    g_setIOErrorHandler(g_earlierIOErrorHandler);
    g_setErrorHandler = nullptr;
    g_setIOErrorHandler = nullptr;
}

namespace {

template <class F>
F Proc(const char* name) {
    return reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
}

bool HasWord(const char* list, const char* word) {
    if (!list) return false;
    const size_t n = std::strlen(word);
    for (const char* p = std::strstr(list, word); p; p = std::strstr(p + 1, word))
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
    return false;
}

// One round trip: the X window's size as the server has it.
bool AskServer(const Presenter& p, int32_t* width, int32_t* height) {
    unsigned long root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!p.geometry(p.glxDisplay, p.glxDrawable, &root, &x, &y, &w, &h, &border, &depth)) return false;
    *width = int32_t(w);
    *height = int32_t(h);
    return true;
}

// The window's size as GL draws into it. Under GLX that is the X window's
// own geometry: SDL's size can run ahead of it (a full screen that no window
// manager carried out) or behind it (a resize whose event is still queued),
// and Mesa's software GLX sizes its buffers after the server.
PlatGLRect WholeWindow() {
    int w = 0, h = 0;
    Presenter& p = g_presenter;
    if (g_sizeQuery || (g_window && p.geometry)) {
        const bool unsure = g_sizeUnsure.load(std::memory_order_relaxed) && g_sizeUnsure.exchange(false);
        if (unsure) p.askAfter = Presenter::kAskAfterChange;
        if (p.sizeHeld && !unsure) return p.heldSize;
        int32_t askedW = 0, askedH = 0;
        if (g_sizeQuery ? g_sizeQuery(&askedW, &askedH) : AskServer(p, &askedW, &askedH)) {
            p.sizeHeld = true;
            p.heldSize = PlatGLRect{0, 0, askedW, askedH};
            return p.heldSize;
        }
    }
    if (g_window) SDL_GL_GetDrawableSize(g_window, &w, &h);
    return PlatGLRect{0, 0, w, h};
}

PlatGLRect Union(PlatGLRect a, PlatGLRect b) {
    if (a.w <= 0 || a.h <= 0) return b;
    if (b.w <= 0 || b.h <= 0) return a;
    const int32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int32_t x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return PlatGLRect{x0, y0, x1 - x0, y1 - y0};
}

// Decided once a context is current: the cheapest way this context has.
void ChoosePresenter() {
    Presenter& p = g_presenter;
    p = Presenter{};
    p.chosen = true;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "offscreen") == 0) {
        p.mode = PRESENT_KEPT_SURFACE;  // a pbuffer: a swap neither shows nor loses it
    } else if (driver && std::strcmp(driver, "x11") == 0) {
        // Xlib as SDL already loaded it (its errors are caught since the
        // video's start); the reference is kept.
        void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        // GLX unless SDL was told to use EGL on X11: then the EGL checks below.
        auto context = Proc<GlxCurrent>("glXGetCurrentContext");
        auto display = Proc<GlxCurrent>("glXGetCurrentDisplay");
        auto drawable = Proc<GlxDrawableOf>("glXGetCurrentDrawable");
        auto extensions = Proc<GlxExtensions>("glXQueryExtensionsString");
        if (context && display && drawable && extensions && context()) {
            p.glxDisplay = display();
            p.glxDrawable = drawable();
            p.copySub = Proc<GlxCopySub>("glXCopySubBufferMESA");
            if (p.glxDisplay && p.copySub && HasWord(extensions(p.glxDisplay, 0), "GLX_MESA_copy_sub_buffer"))
                p.mode = PRESENT_COPY_SUB;
            if (x11 && p.glxDisplay) {
                p.lockDisplay = reinterpret_cast<XDisplayLock>(dlsym(x11, "XLockDisplay"));
                p.unlockDisplay = reinterpret_cast<XDisplayLock>(dlsym(x11, "XUnlockDisplay"));
                if (!p.lockDisplay || !p.unlockDisplay) p.lockDisplay = p.unlockDisplay = nullptr;
                if (p.glxDrawable) p.geometry = reinterpret_cast<XGeometryOf>(dlsym(x11, "XGetGeometry"));
            }
            return;
        }
    }
    if (p.mode != PRESENT_SWAP) return;
    auto display = Proc<EglCurrent>("eglGetCurrentDisplay");
    auto surface = Proc<EglSurfaceOf>("eglGetCurrentSurface");
    auto extensions = Proc<EglString>("eglQueryString");
    p.eglQuery = Proc<EglQuery>("eglQuerySurface");
    if (!display || !surface || !extensions || !p.eglQuery) return;
    p.eglDisplay = display();
    p.eglSurface = p.eglDisplay ? surface(kEglDraw) : nullptr;
    if (!p.eglSurface) return;
    const char* list = extensions(p.eglDisplay, kEglExtensions);
    if (!HasWord(list, "EGL_EXT_buffer_age")) return;
    if (HasWord(list, "EGL_KHR_swap_buffers_with_damage"))
        p.eglSwapDamage = Proc<EglSwapDamage>("eglSwapBuffersWithDamageKHR");
    else if (HasWord(list, "EGL_EXT_swap_buffers_with_damage"))
        p.eglSwapDamage = Proc<EglSwapDamage>("eglSwapBuffersWithDamageEXT");
    if (p.eglSwapDamage) p.mode = PRESENT_SWAP_DAMAGE;
}

void Remember(PlatGLRect area) {
    Presenter& p = g_presenter;
    for (int i = Presenter::kHistory - 1; i > 0; --i) p.history[i] = p.history[i - 1];
    p.history[0] = area;
    p.historyCount = std::min(p.historyCount + 1, Presenter::kHistory);
    ++p.presents;
    p.pixels += uint64_t(std::max(area.w, 0)) * uint64_t(std::max(area.h, 0));
}

void setError(const char* what) {
    g_error = what;
    g_error += ": ";
    g_error += SDL_GetError();
}
}  // namespace

void Plat_GLSetAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_FRAMEBUFFER_SRGB_CAPABLE, 0);
}

bool Plat_GLCreateContext(void* window) {
    if (g_context) return true;
    g_window = static_cast<SDL_Window*>(window);
    if (!g_window) {
        g_error = "no window for the OpenGL context";
        return false;
    }
    g_context = SDL_GL_CreateContext(g_window);
    if (!g_context) {
        setError("OpenGL 3.3 core context");
        g_window = nullptr;
        return false;
    }
    return true;
}

bool Plat_GLMakeCurrent() {
    if (!g_context) {
        g_error = "no OpenGL context was created";
        return false;
    }
    if (SDL_GL_MakeCurrent(g_window, g_context) != 0) {
        setError("making the OpenGL context current");
        return false;
    }
    // Vsync; a driver without it still runs.
    if (SDL_GL_SetSwapInterval(1) != 0) SDL_ClearError();
    if (!g_presenter.chosen) ChoosePresenter();
    return true;
}

void Plat_GLReleaseCurrent() {
    if (g_context) SDL_GL_MakeCurrent(g_window, nullptr);
}

void Plat_GLDestroyContext() {
    if (g_context) SDL_GL_DeleteContext(g_context);
    g_context = nullptr;
    g_presenter = Presenter{};
    g_window = nullptr;
}

bool Plat_GLHasContext() { return g_context != nullptr; }

void* Plat_GLContext() { return g_context; }

void* Plat_GLWindow() { return g_window; }

bool Plat_GLDrawableSize(uint32_t* width, uint32_t* height) {
    const PlatGLRect whole = WholeWindow();
    const int w = whole.w, h = whole.h;
    *width = w > 0 ? uint32_t(w) : 0;
    *height = h > 0 ? uint32_t(h) : 0;
    return w > 0 && h > 0;
}

void Plat_GLWindowChanged() { g_sizeUnsure.store(true); }

void Plat_GLSizeQuerySet(PlatGLSizeQuery query) {
    g_sizeQuery = query;
    g_presenter.sizeHeld = false;
    g_presenter.askAfter = 0;
}

void Plat_GLSwap() { Plat_GLPresentArea(WholeWindow()); }

PlatPresentMode Plat_GLPresentMode() { return g_presenter.mode; }

const char* Plat_GLPresentModeName() {
    switch (g_presenter.mode) {
        case PRESENT_COPY_SUB: return "the changed part, copied by GLX_MESA_copy_sub_buffer";
        case PRESENT_SWAP_DAMAGE: return "the changed part, by an EGL swap with damage";
        case PRESENT_KEPT_SURFACE: return "the changed part, into a surface nobody sees";
        case PRESENT_SWAP: break;
    }
    return "the whole window, by a swap";
}

namespace {
// Whether presents here follow the window's size: a window that shows them
// (a surface nobody sees keeps the size it was made with).
bool FollowsWindow(const Presenter& p) { return p.mode != PRESENT_KEPT_SURFACE; }

bool SizeChanged(const Presenter& p, const PlatGLRect& whole) {
    return whole.w != p.presentedW || whole.h != p.presentedH;
}

// An empty area presents nothing, wherever it lies.
bool Inside(const PlatGLRect& a, const PlatGLRect& whole) {
    if (a.w <= 0 || a.h <= 0) return true;
    return a.x >= 0 && a.y >= 0 && a.x + a.w <= whole.w && a.y + a.h <= whole.h;
}
}  // namespace

PlatGLRect Plat_GLRedrawArea(PlatGLRect want) {
    const Presenter& p = g_presenter;
    if (FollowsWindow(p) && (p.wholeNext || SizeChanged(p, WholeWindow()))) return WholeWindow();
    switch (p.mode) {
        case PRESENT_COPY_SUB:
        case PRESENT_KEPT_SURFACE: return want;
        case PRESENT_SWAP_DAMAGE: {
            int32_t age = 0;
            if (!p.eglQuery(p.eglDisplay, p.eglSurface, kEglBufferAge, &age)) age = 0;
            if (age <= 0 || age > p.historyCount + 1) return WholeWindow();
            // The buffer shows the picture of `age` presents ago: it misses
            // what the presents since then changed.
            for (int i = 0; i < age - 1; ++i) want = Union(want, p.history[i]);
            return want;
        }
        case PRESENT_SWAP: break;
    }
    return WholeWindow();
}

bool Plat_GLWholeFrameDue() { return FollowsWindow(g_presenter) && g_presenter.wholeNext; }

namespace {
// The UI thread reads the window's events from the same X connection as GLX
// uses. A present that waits for the server's reply (Mesa's software GLX
// syncs after putting the picture up) leaves the connection readable until
// this thread takes the reply, and SDL's event wait would poll it again and
// again meanwhile: holding the display for the present makes the UI thread
// sleep on its lock instead.
struct DisplayHold {
    const Presenter& p;
    explicit DisplayHold(const Presenter& presenter) : p(presenter) {
        if (p.lockDisplay) p.lockDisplay(p.glxDisplay);
    }
    ~DisplayHold() {
        if (p.unlockDisplay) p.unlockDisplay(p.glxDisplay);
    }
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;
};
}  // namespace

namespace {
// The next request the GLX connection makes (0 without one).
unsigned long NextRequestOf(const Presenter& p) {
    return p.glxDisplay ? NextRequest(static_cast<Display*>(p.glxDisplay)) : 0;
}

// Whether an X error came since `p` last looked that answers a request of
// the present that made `requests` (any error, where requests are not
// known). Another request's error is told once and otherwise left alone.
bool XErrorsSince(Presenter& p, const unsigned long requests[2]) {
    const uint32_t n = g_xErrors.load(std::memory_order_acquire);
    if (n == p.errorsSeen) return false;
    p.errorsSeen = n;
    const unsigned long serial = g_xLastSerial.load(std::memory_order_relaxed);
    if (requests[1] == 0 || (serial >= requests[0] && serial < requests[1])) return true;
    if (!p.toldOther) {
        p.toldOther = true;
        const uint32_t e = g_xLastError.load(std::memory_order_relaxed);
        std::fprintf(stderr, "vn: the X server refused a request (error %u, request %u.%u); going on\n", e >> 16,
                     e >> 8 & 0xFF, e & 0xFF);
    }
    return false;
}

// A failed present: whole swaps for the next frame; when a whole swap failed
// too, whole swaps from then on. One line says so.
void PresentFailed(Presenter& p) {
    const uint32_t e = g_xLastError.load(std::memory_order_relaxed);
    const bool forGood = p.lastWasSwap;
    if (forGood) p.mode = PRESENT_SWAP;
    if (p.toldFallback && !forGood) return;
    p.toldFallback = true;
    std::fprintf(stderr, "vn: a present failed (X error %u, request %u.%u); presenting the whole window%s\n",
                 e >> 16, e >> 8 & 0xFF, e & 0xFF, forGood ? " from now on" : "");
}
}  // namespace

void Plat_GLPresentArea(PlatGLRect area) {
    if (!g_window || !g_context) return;
    Presenter& p = g_presenter;
    const PlatGLRect whole = WholeWindow();
    DisplayHold hold(p);
    // An error that came after the last present ended (it was not waited for).
    bool failed = XErrorsSince(p, p.requests);
    if (failed) PresentFailed(p);
    const unsigned long first = NextRequestOf(p);
    const bool resized = FollowsWindow(p) && SizeChanged(p, whole);
    bool swap = p.mode == PRESENT_SWAP || (FollowsWindow(p) && (failed || resized || !Inside(area, whole)));
    if (!swap && p.mode == PRESENT_COPY_SUB) {
        // The back buffer is copied, not swapped: it keeps the picture.
        p.copySub(p.glxDisplay, p.glxDrawable, area.x, area.y, area.w, area.h);
        // Mesa's software GLX waits for the server after the copy: an error
        // it caused is counted by now.
        const unsigned long made[2] = {first, NextRequestOf(p)};
        if (XErrorsSince(p, made)) {
            p.lastWasSwap = false;
            PresentFailed(p);
            failed = swap = true;
        }
    } else if (!swap && p.mode == PRESENT_SWAP_DAMAGE) {
        const int32_t rect[4] = {area.x, area.y, area.w, area.h};
        swap = !p.eglSwapDamage(p.eglDisplay, p.eglSurface, rect, 1);
    }
    if (swap || p.mode == PRESENT_KEPT_SURFACE) SDL_GL_SwapWindow(g_window);
    if (swap) area = whole;
    // After a swap at a new size the driver's back buffer is new, and after
    // a failure nothing is sure of it: the next frame is drawn whole.
    p.wholeNext = resized || failed;
    p.lastWasSwap = swap;
    p.requests[0] = first;
    p.requests[1] = NextRequestOf(p);
    p.presentedW = whole.w;
    p.presentedH = whole.h;
    // After a failure the window may have gone or changed: asked again.
    if (failed || p.askAfter > 0) p.sizeHeld = false;
    if (p.askAfter > 0) --p.askAfter;
    Remember(area);
}

uint64_t Plat_GLPresents() { return g_presenter.presents; }
uint64_t Plat_GLPresentedPixels() { return g_presenter.pixels; }

const char* Plat_GLError() { return g_error.c_str(); }

void Plat_GLFatal(const char* text) {
    std::fprintf(stderr, "vn: %s\n", text);
    // Without a display there is nobody to show the box to.
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "vn", text, nullptr);
}

bool Plat_GLHeadlessStart(uint32_t width, uint32_t height) {
    if (g_context) return true;
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        setError("SDL video");
        return false;
    }
    Plat_GLSetAttributes();
    SDL_Window* window = SDL_CreateWindow("vn-headless", 0, 0, int(width), int(height),
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) {
        setError("headless window");
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    if (!Plat_GLCreateContext(window) || !Plat_GLMakeCurrent()) {
        Plat_GLDestroyContext();
        SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    g_headless = true;
    return true;
}

void Plat_GLHeadlessStop() {
    if (!g_headless) return;
    SDL_Window* window = g_window;
    Plat_GLReleaseCurrent();
    Plat_GLDestroyContext();
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_headless = false;
}
