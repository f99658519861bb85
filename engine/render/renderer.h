// The renderer: the GL context's objects and fixed state, the 1280×720 frame
// target every drawing goes into, and the composition of the finished frame
// into the window. Game thread only.
//
// The frame target's row 0 is the top row of the picture (the vertex programs
// negate clip y), so scissor rectangles and read-backs keep the top-left
// meaning of virtual-screen coordinates.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/render/camera.h"
#include "platform/plat_gl.h"
#include "shaders/const_buf.h"

inline constexpr uint32_t kFrameWidth = 1280;
inline constexpr uint32_t kFrameHeight = 720;
inline constexpr int kBlendStates = 10;

// The factors of one blend state (GL blend-function values); the equation is
// always GL_FUNC_ADD and every channel is written.
struct BlendState {
    uint32_t srcColour, dstColour, srcAlpha, dstAlpha;
};

struct ScissorRect {
    int32_t x, y, width, height;
};

struct Renderer {
    void* window;               // SDL_Window* of the application window
    void* context;              // its GL context
    uint32_t frameFramebuffer;  // the 1280×720 target
    uint32_t frameTexture;      // its colour buffer (RGBA8), sampled by the composition (it has no other)
    uint32_t constBuffer;       // the ConstBuf uniform buffer, bound at binding 0
    BlendState blend[kBlendStates];
    CameraRecord camera;        // the composition's own camera
    uint32_t clientWidth;       // window target size recorded by Lib_ResizeTarget
    uint32_t clientHeight;      //   (0, 0 until one succeeded)
    uint32_t drawableSeen[2];   // the window's drawable size at the last Lib_ResizeTarget
    uint32_t windowFramebuffer; // what the composition draws into: 0 the window's own
    uint8_t letterbox;          // set by the window service: full screen and not minimised
    float viewport[4];          // last composition viewport: left, top, width, height (top-left origin)
    // This frame redraws only `damage` of the frame target (Lib_FrameDamageSet)
    // and the composition then draws only what covers it.
    bool partial;
    ScissorRect damage;
    // What the composition drew into the window target (GL rows from the
    // bottom) when it drew less than the whole window: the present shows it.
    bool presentPartial;
    int32_t presentArea[4];
};

// The picture's place in a width×height window target: the whole area, or
// the largest centred 16:9 rectangle when letterboxing.
struct ComposeRect {
    int32_t left, top, width, height;
};

extern float ClearColour[3];

// Changes to the picture that no drawing table shows: texture uploads and
// deletions (sprites, glyphs) and the window's expose and size events. Any
// thread may bump it; the drawing pass compares it between frames.
extern std::atomic<uint32_t> RenderGeneration;
inline void Lib_RenderTouch() { RenderGeneration.fetch_add(1, std::memory_order_release); }
// Presents made so far, by the frame and by anything else (a movie).
extern std::atomic<uint64_t> FramePresentCount;

// Graphics start-up on the game thread, with the GL context created on the
// application window (platform/plat_gl.h): clear colour, draw list with the
// clear entry at its head, renderer, active camera, built-in shader set.
// False when the renderer could not be made (Lib_GraphicsError says why);
// start-up must then stop.
bool Lib_GraphicsInit();
const char* Lib_GraphicsError();
// Shutdown: the shader set's objects, the renderer's, then the record.
void Lib_GraphicsEnd();

// Fills the record on the current thread's context. False at the first object
// that could not be made; the record then holds what was made.
bool Lib_D3DCreate(Renderer* renderer, void* window);
void Lib_D3DRelease(Renderer* renderer);
void Lib_CreateBlendState(Renderer* renderer, int index, uint32_t srcColour, uint32_t dstColour,
                          uint32_t srcAlpha, uint32_t dstAlpha);
// Sets up the window target for a new client size; a zero half takes the
// window's drawable size. The size is recorded only when it is usable, so a
// failed change is tried again by the next call.
bool Lib_ResizeTarget(Renderer* renderer, uint32_t width, uint32_t height);
ComposeRect Lib_ComposeViewport(uint32_t width, uint32_t height, bool letterbox);
// The window rectangle (GL rows from the bottom of a window `windowHeight`
// rows high) whose pixels the composition into `vp` takes from the frame's
// `damage`: scaled, widened by the reach of filtering when scaled, within vp.
PlatGLRect Lib_DamageInWindow(const ScissorRect& damage, const ComposeRect& vp, uint32_t windowHeight);
// Draws the finished frame into the window target (bars black).
void Lib_ScreenCompose(Renderer* renderer);

// Begin-frame state: the frame target, 1280×720 viewport and scissor, the
// rasterizer and depth state.
void Lib_FrameBind(Renderer* renderer);
// Limits this frame's drawing to `rect` of the frame target (row 0 the top):
// the clear, every scissor a drawer sets and the composition keep inside it.
// Null: the whole frame, as Lib_FrameBind leaves it.
void Lib_FrameDamageSet(Renderer* renderer, const ScissorRect* rect);
// Presents the window's framebuffer, or only what the composition drew, and
// counts it.
void Lib_FramePresent(Renderer* renderer);
void Lib_BlendSet(Renderer* renderer, int index);
// Uploads a whole ConstBuf image (the shared block at binding 0).
void Lib_ConstBufUpload(Renderer* renderer, const ConstBuf& data);

// The draw callback at the head of the draw list: clears the frame target
// (the damage of a partial frame) to ClearColour (alpha 1); the depth-stencil
// buffer, which nothing reads, keeps its first clear (depth 0, stencil 0).
void Lib_ClearCB(uint64_t unused);
// Negative x or y count as 0, a negative width as 1280, a negative height as
// 720; a partial frame keeps the rectangle inside its damage.
void Lib_SetScissor(const ScissorRect* rect);
Renderer** Lib_GetRenderer();
