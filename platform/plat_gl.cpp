#include "platform/plat_gl.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
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
};
Presenter g_presenter;

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

PlatGLRect WholeWindow() {
    int w = 0, h = 0;
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
            // Xlib as SDL and GLX already loaded it; the reference is kept.
            if (void* x11 = p.glxDisplay ? dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD) : nullptr) {
                p.lockDisplay = reinterpret_cast<XDisplayLock>(dlsym(x11, "XLockDisplay"));
                p.unlockDisplay = reinterpret_cast<XDisplayLock>(dlsym(x11, "XUnlockDisplay"));
                if (!p.lockDisplay || !p.unlockDisplay) p.lockDisplay = p.unlockDisplay = nullptr;
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
    int w = 0, h = 0;
    if (g_window) SDL_GL_GetDrawableSize(g_window, &w, &h);
    *width = w > 0 ? uint32_t(w) : 0;
    *height = h > 0 ? uint32_t(h) : 0;
    return w > 0 && h > 0;
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

PlatGLRect Plat_GLRedrawArea(PlatGLRect want) {
    const Presenter& p = g_presenter;
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

void Plat_GLPresentArea(PlatGLRect area) {
    if (!g_window || !g_context) return;
    const Presenter& p = g_presenter;
    const PlatGLRect whole = WholeWindow();
    DisplayHold hold(p);
    if (p.mode == PRESENT_COPY_SUB) {
        // The back buffer is copied, not swapped: it keeps the picture.
        p.copySub(p.glxDisplay, p.glxDrawable, area.x, area.y, area.w, area.h);
    } else if (p.mode == PRESENT_SWAP_DAMAGE) {
        const int32_t rect[4] = {area.x, area.y, area.w, area.h};
        if (!p.eglSwapDamage(p.eglDisplay, p.eglSurface, rect, 1)) SDL_GL_SwapWindow(g_window);
    } else {
        SDL_GL_SwapWindow(g_window);
        if (p.mode == PRESENT_SWAP) area = whole;
    }
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
