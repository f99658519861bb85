#include "platform/plat_gl.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
bool g_headless = false;  // window and video system are ours
std::string g_error;

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
    return true;
}

void Plat_GLReleaseCurrent() {
    if (g_context) SDL_GL_MakeCurrent(g_window, nullptr);
}

void Plat_GLDestroyContext() {
    if (g_context) SDL_GL_DeleteContext(g_context);
    g_context = nullptr;
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

void Plat_GLSwap() {
    if (g_window && g_context) SDL_GL_SwapWindow(g_window);
}

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
