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
// On SDL's x11 driver, from the video's start to its end: X protocol errors
// are counted (a present that caused one falls back to a whole swap) instead
// of ending the process, and a lost connection ends it at once with one line.
void Plat_GLCatchXErrors();
void Plat_GLReleaseXErrors();
// For tests: the handler Plat_GLCatchXErrors installs (an XErrorHandler), to
// report an X error as Xlib would; null when none is installed.
void* Plat_GLXErrorHandler();

bool Plat_GLHasContext();
// The context (an SDL_GLContext), or null.
void* Plat_GLContext();
// The window the context draws into (an SDL_Window*), or null.
void* Plat_GLWindow();
// Size in pixels of the window's drawable (may differ from the window size on
// HiDPI displays); false and 0×0 without a window.
bool Plat_GLDrawableSize(uint32_t* width, uint32_t* height);
// The window's size may have changed (its size, expose, show and restore
// events, which SDL also sends for a full-screen switch; any thread): the next
// look at it asks the X server, and so does the look after each of the next
// 30 presents. It is not asked otherwise.
void Plat_GLWindowChanged();
// For tests: stands in for the X server's answer to the window's size (on any
// video driver, with or without a window); null asks the server. Setting it
// forgets the size held, so the next look asks. Set on the presenting thread.
using PlatGLSizeQuery = bool (*)(int32_t* width, int32_t* height);
void Plat_GLSizeQuerySet(PlatGLSizeQuery query);
// Presents the window's framebuffer (waits for vsync when it is on).
void Plat_GLSwap();

// A rectangle of the window's drawable in GL's terms: rows from the bottom.
struct PlatGLRect {
    int32_t x, y, w, h;
};
// How a part of the picture reaches the window, chosen once per context.
enum PlatPresentMode : int32_t {
    PRESENT_SWAP,          // whole swaps; the back buffer is lost after each
    PRESENT_COPY_SUB,      // GLX_MESA_copy_sub_buffer: the back buffer stays
    PRESENT_SWAP_DAMAGE,   // an EGL swap with damage, the buffer's age known
    PRESENT_KEPT_SURFACE,  // a surface nobody sees that keeps its contents
};
PlatPresentMode Plat_GLPresentMode();
// Its name, for the start-up line.
const char* Plat_GLPresentModeName();
// The part of the back buffer that must be drawn again so that presenting
// `want` leaves the whole window right: `want` where the back buffer holds
// the last picture, more (or the whole window) where it is older.
PlatGLRect Plat_GLRedrawArea(PlatGLRect want);
// Presents `area` of the window, drawn after Plat_GLRedrawArea said so. At a
// window size other than the last present's, for an area outside the
// window, or after a failed present (an X error), it swaps the whole window
// instead; a present that fails after a whole swap makes every later one a
// whole swap. One line on stderr tells of the first failure.
void Plat_GLPresentArea(PlatGLRect area);
// After a present at a new window size or a failed one: the next frame must
// be drawn and presented whole, even when nothing in it changed.
bool Plat_GLWholeFrameDue();
// Presents made and window pixels they covered, since the context was made.
uint64_t Plat_GLPresents();
uint64_t Plat_GLPresentedPixels();
const char* Plat_GLError();

// Reports a fatal graphics failure: stderr and a message box; a missing
// display (headless runs) is not an error here.
void Plat_GLFatal(const char* text);

// For tests and tools: starts SDL video with the offscreen driver (EGL, no
// display needed) unless SDL_VIDEODRIVER names another, creates a hidden
// width×height window and its context, current on the calling thread.
bool Plat_GLHeadlessStart(uint32_t width, uint32_t height);
void Plat_GLHeadlessStop();
