// The OpenGL 3.3 core context of the application window, on SDL2.
// The UI thread creates the context right after the window and releases it;
// the game thread makes it current and owns every GL call from then on.
#pragma once

#include <cstdint>

// Asks for a 3.3 core, double-buffered context whose window framebuffer has
// no depth or stencil. Call after the video system started and before the
// window (created with SDL_WINDOW_OPENGL) exists.
void Plat_GLSetAttributes();
// Creates the context on `window` (an SDL_Window*); it is current on the
// calling thread afterwards. False, with Plat_GLError() set, on failure.
bool Plat_GLCreateContext(void* window);
// Makes the context current on the calling thread and turns vsync on.
bool Plat_GLMakeCurrent();
// Detaches the context from the calling thread.
void Plat_GLReleaseCurrent();
// Deletes the context (after every thread has released it).
void Plat_GLDestroyContext();

bool Plat_GLHasContext();
// The context (an SDL_GLContext), or null.
void* Plat_GLContext();
// The window the context draws into (an SDL_Window*), or null.
void* Plat_GLWindow();
// Size in pixels of the window's drawable (may differ from the window size on
// HiDPI displays); false and 0×0 without a window.
bool Plat_GLDrawableSize(uint32_t* width, uint32_t* height);
// Presents the window's framebuffer (waits for vsync when it is on).
void Plat_GLSwap();
const char* Plat_GLError();

// Reports a fatal graphics failure: stderr and a message box; a missing
// display (headless runs) is not an error here.
void Plat_GLFatal(const char* text);

// For tests and tools: starts SDL video with the offscreen driver (EGL, no
// display needed) unless SDL_VIDEODRIVER names another, creates a hidden
// width×height window and its context, current on the calling thread.
bool Plat_GLHeadlessStart(uint32_t width, uint32_t height);
void Plat_GLHeadlessStop();
