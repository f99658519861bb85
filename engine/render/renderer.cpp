#include "engine/render/renderer.h"

#include "engine/render/sprite.h"

#include "engine/core/engine_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/render/draw_list.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"

// process-wide: set by Lib_GraphicsInit
float ClearColour[3] = {0.0f, 0.0f, 0.0f};
// process-wide (RenderGeneration, FramePresentCount): counts read as differences
std::atomic<uint32_t> RenderGeneration{0};
std::atomic<uint64_t> FramePresentCount{0};

namespace {
// process-wide (g_record, g_renderer): made by Lib_GraphicsInit, released by Lib_GraphicsEnd
Renderer g_record;
Renderer* g_renderer = nullptr;

constexpr float kComposeScaleX = kCameraViewWidth;
constexpr float kComposeScaleY = kCameraViewHeight;

// process-wide: why the renderer could not be made, written before it is read
char g_failure[256] = "";

bool fail(const char* what) {
    Lib_DebugPrintf("Error -> Lib_D3DCreate: %s\n", what);
    std::snprintf(g_failure, sizeof g_failure, "%s", what);
    return false;
}

// The rasterizer and depth-stencil state: solid, no culling, depth clip off,
// scissor on. The depth test would always pass, and stencil operations would
// act only on a failed depth test, so draw order alone decides what is in
// front: nothing reads the depth-stencil buffer, and both tests stay off so
// that no fragment writes it (software rasterisers pay for every write).
void applyFixedState() {
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_DEPTH_CLAMP);
    glEnable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_BLEND);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthRange(0.0, 1.0);
}
}  // namespace

Renderer** Lib_GetRenderer() { return &g_renderer; }

const char* Lib_GraphicsError() { return g_failure; }

void Lib_CreateBlendState(Renderer* renderer, int index, uint32_t srcColour, uint32_t dstColour,
                          uint32_t srcAlpha, uint32_t dstAlpha) {
    if (index < 0 || index >= kBlendStates) return;
    renderer->blend[index] = BlendState{srcColour, dstColour, srcAlpha, dstAlpha};
}

void Lib_BlendSet(Renderer* renderer, int index) {
    if (index < 0 || index >= kBlendStates) index = 0;
    const BlendState& b = renderer->blend[index];
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFuncSeparate(b.srcColour, b.dstColour, b.srcAlpha, b.dstAlpha);
}

bool Lib_D3DCreate(Renderer* renderer, void* window) {
    *renderer = Renderer{};
    renderer->window = window;
    if (!Plat_GLMakeCurrent()) return fail(Plat_GLError());
    renderer->context = Plat_GLContext();
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major * 10 + minor < 33) return fail("OpenGL 3.3 is not available");
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }

    // Whole-context upload and read rules: tightly packed rows, no sRGB.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_DITHER);

    // The 1280×720 target, its colour starting black and transparent.
    glGenTextures(1, &renderer->frameTexture);
    glBindTexture(GL_TEXTURE_2D, renderer->frameTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kFrameWidth, kFrameHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    // Colour only: nothing tests or writes depth or stencil, and a 1280×720
    // depth-stencil buffer would cost 3.5 MiB of the driver's memory.
    glGenFramebuffers(1, &renderer->frameFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, renderer->frameFramebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, renderer->frameTexture, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return fail("the 1280x720 frame buffer could not be made");
    const GLfloat zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glDisable(GL_SCISSOR_TEST);
    glClearBufferfv(GL_COLOR, 0, zero);

    applyFixedState();

    glGenBuffers(1, &renderer->constBuffer);
    glBindBuffer(GL_UNIFORM_BUFFER, renderer->constBuffer);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(ConstBuf), nullptr, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, kConstBufBinding, renderer->constBuffer);

    constexpr uint32_t normal[4] = {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ZERO};
    constexpr uint32_t weightedAdd[4] = {GL_SRC_ALPHA, GL_ONE, GL_SRC_ALPHA, GL_ONE};
    Lib_CreateBlendState(renderer, 0, normal[0], normal[1], normal[2], normal[3]);
    Lib_CreateBlendState(renderer, 1, GL_ONE, GL_ONE, GL_ONE, GL_ZERO);
    Lib_CreateBlendState(renderer, 2, GL_ZERO, GL_SRC_COLOR, GL_ONE, GL_ZERO);
    Lib_CreateBlendState(renderer, 3, weightedAdd[0], weightedAdd[1], weightedAdd[2], weightedAdd[3]);
    for (int i = 4; i <= 8; ++i) Lib_CreateBlendState(renderer, i, normal[0], normal[1], normal[2], normal[3]);
    Lib_CreateBlendState(renderer, 9, weightedAdd[0], weightedAdd[1], weightedAdd[2], weightedAdd[3]);
    Lib_BlendSet(renderer, 0);

    renderer->windowFramebuffer = 0;
    Lib_ResizeTarget(renderer, 0, 0);
    Lib_CameraReset(&renderer->camera);
    Lib_DebugPrintf("Lib_D3DCreate: presents %s\n", Plat_GLPresentModeName());

    if (glGetError() != GL_NO_ERROR) return fail("a GL object could not be made");
    return true;
}

void Lib_D3DRelease(Renderer* renderer) {
    if (!renderer || !renderer->context) return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glUseProgram(0);
    glBindBufferBase(GL_UNIFORM_BUFFER, kConstBufBinding, 0);
    if (renderer->constBuffer) glDeleteBuffers(1, &renderer->constBuffer);
    if (renderer->frameFramebuffer) glDeleteFramebuffers(1, &renderer->frameFramebuffer);
    if (renderer->frameTexture) glDeleteTextures(1, &renderer->frameTexture);
    renderer->constBuffer = renderer->frameFramebuffer = renderer->frameTexture = 0;
    renderer->context = nullptr;
}

bool Lib_ResizeTarget(Renderer* renderer, uint32_t width, uint32_t height) {
    // The window's framebuffer follows the window by itself; what changes is
    // the size the composition lays the picture out in. Either way the window
    // needs a new picture.
    Lib_RenderTouch();
    Plat_GLDrawableSize(&renderer->drawableSeen[0], &renderer->drawableSeen[1]);
    if (width == 0 || height == 0) {
        width = renderer->drawableSeen[0];
        height = renderer->drawableSeen[1];
    }
    if (width == 0 || height == 0) return false;  // minimised or no window: keep the last size
    if (width == renderer->clientWidth && height == renderer->clientHeight) return true;
    GLint maxDims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxDims);
    if (width > uint32_t(maxDims[0]) || height > uint32_t(maxDims[1])) return false;
    renderer->clientWidth = width;
    renderer->clientHeight = height;
    return true;
}

ComposeRect Lib_ComposeViewport(uint32_t width, uint32_t height, bool letterbox) {
    ComposeRect rect{0, 0, int32_t(width), int32_t(height)};
    if (!letterbox) return rect;
    float w = float(width), h = float(height);
    float h16 = float(int32_t(w * 0.5625f));
    if (h == h16) return rect;
    float pictureW = w, pictureH = h16;
    if (h16 > h) {  // wider than 16:9: bars left and right
        pictureH = h;
        pictureW = float(int32_t(h / 0.5625f));
    }
    rect.width = int32_t(pictureW);
    rect.height = int32_t(pictureH);
    rect.left = (int32_t(width) - rect.width) / 2;
    rect.top = (int32_t(height) - rect.height) / 2;
    return rect;
}

PlatGLRect Lib_DamageInWindow(const ScissorRect& d, const ComposeRect& vp, uint32_t windowHeight) {
    const double sx = double(vp.width) / kFrameWidth, sy = double(vp.height) / kFrameHeight;
    const int32_t reach = (vp.width == int32_t(kFrameWidth) && vp.height == int32_t(kFrameHeight)) ? 0 : 2;
    int32_t x0 = vp.left + int32_t(std::floor(d.x * sx)) - reach;
    int32_t x1 = vp.left + int32_t(std::ceil((d.x + d.width) * sx)) + reach;
    int32_t top = vp.top + int32_t(std::floor(d.y * sy)) - reach;
    int32_t bottom = vp.top + int32_t(std::ceil((d.y + d.height) * sy)) + reach;
    x0 = std::max(x0, vp.left);
    top = std::max(top, vp.top);
    x1 = std::min(x1, vp.left + vp.width);
    bottom = std::min(bottom, vp.top + vp.height);
    return PlatGLRect{x0, int32_t(windowHeight) - bottom, std::max(x1 - x0, 0), std::max(bottom - top, 0)};
}

namespace {
bool CoversWindow(const PlatGLRect& a, const Renderer* r) {
    return a.x <= 0 && a.y <= 0 && a.x + a.w >= int32_t(r->clientWidth) && a.y + a.h >= int32_t(r->clientHeight);
}

// The picture lands pixel for pixel on a window target of the frame's size:
// no bars, no scaling, and the composition's camera as it was made.
bool OneToOne(const Renderer* r, const ComposeRect& vp) {
    static const CameraRecord made = [] {
        CameraRecord c;
        Lib_CameraReset(&c);
        return c;
    }();
    return vp.left == 0 && vp.top == 0 && vp.width == int32_t(kFrameWidth) && vp.height == int32_t(kFrameHeight) &&
           r->clientWidth == kFrameWidth && r->clientHeight == kFrameHeight &&
           std::memcmp(&r->camera, &made, sizeof made) == 0;
}

// Copies `area` of the frame target (GL rows from the bottom) to the same
// place in the bound window target, turned the right way up, opaque. A copy
// reads each pixel once, where drawing the picture as a textured quad shades
// it (a software rasteriser pays for every shaded pixel).
void CopyToWindow(const Renderer* r, const PlatGLRect& area) {
    const int32_t h = int32_t(kFrameHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, r->frameFramebuffer);
    glDisable(GL_SCISSOR_TEST);
    // The frame keeps its top row in row 0: the source rows run downward.
    glBlitFramebuffer(area.x, h - area.y, area.x + area.w, h - area.y - area.h, area.x, area.y, area.x + area.w,
                      area.y + area.h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, r->windowFramebuffer);
    glEnable(GL_SCISSOR_TEST);
    // The frame's alpha is not the picture's: a target that keeps alpha (or
    // cannot say) gets it opaque.
    GLint alphaBits = 8;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, r->windowFramebuffer ? GL_COLOR_ATTACHMENT0 : GL_BACK_LEFT,
                                          GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE, &alphaBits);
    if (alphaBits > 0) {
        const GLfloat opaque[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        glScissor(area.x, area.y, area.w, area.h);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
        glClearBufferfv(GL_COLOR, 0, opaque);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    }
}
}  // namespace

void Lib_ScreenCompose(Renderer* renderer) {
    if (!renderer || !renderer->context || renderer->clientWidth == 0) return;
    // The window changed size since the target's size was set (the window
    // service takes the new size a little later, or not while a switch to
    // or from full screen settles): the picture goes into the window as it
    // is now.
    if (renderer->windowFramebuffer == 0) {
        uint32_t w = 0, h = 0;
        if (Plat_GLDrawableSize(&w, &h) && (w != renderer->drawableSeen[0] || h != renderer->drawableSeen[1]))
            Lib_ResizeTarget(renderer, 0, 0);
    }
    if (!Lib_ShaderBind(SHADER_GROUP_SPRITE, SHADER_PLAIN)) return;
    GraphicsResources* gr = Lib_GetGraphics();
    const int32_t cw = int32_t(renderer->clientWidth), ch = int32_t(renderer->clientHeight);
    Lib_CameraUpdate(&renderer->camera);
    ComposeRect vp = Lib_ComposeViewport(renderer->clientWidth, renderer->clientHeight, renderer->letterbox != 0);

    glBindFramebuffer(GL_FRAMEBUFFER, renderer->windowFramebuffer);
    // Only the window's own framebuffer is presented in part.
    renderer->presentPartial = false;
    PlatGLRect area{0, 0, cw, ch};
    if (renderer->partial && renderer->windowFramebuffer == 0) {
        area = Plat_GLRedrawArea(Lib_DamageInWindow(renderer->damage, vp, renderer->clientHeight));
        renderer->presentPartial = !CoversWindow(area, renderer);
    }
    renderer->viewport[0] = float(vp.left);
    renderer->viewport[1] = float(vp.top);
    renderer->viewport[2] = float(vp.width);
    renderer->viewport[3] = float(vp.height);
    if (renderer->presentPartial) std::memcpy(renderer->presentArea, &area, sizeof renderer->presentArea);
    if (OneToOne(renderer, vp)) {
        CopyToWindow(renderer, area);
        return;
    }
    glEnable(GL_SCISSOR_TEST);
    if (renderer->presentPartial) {
        glScissor(area.x, area.y, area.w, area.h);
    } else {
        // The bars (and a window larger than the picture) are black.
        const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        glDisable(GL_SCISSOR_TEST);
        glClearBufferfv(GL_COLOR, 0, black);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, cw, ch);
    }

    glViewport(vp.left, ch - vp.top - vp.height, vp.width, vp.height);  // GL counts rows from the bottom

    // The picture is drawn opaque (below), so blending would only give the
    // source back: without it the rasteriser never reads the window.
    glDisable(GL_BLEND);
    glActiveTexture(GL_TEXTURE0 + kUnitColorMap);
    glBindTexture(GL_TEXTURE_2D, renderer->frameTexture);
    Lib_SamplerBind0(gr->samplers[0]);

    ConstBuf cb;
    std::memset(&cb, 0, sizeof cb);
    const float scale[16] = {kComposeScaleX, 0, 0, 0, 0, kComposeScaleY, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    float sv[16];
    Lib_MatrixMul(sv, renderer->camera.view, scale);
    Lib_MatrixMul(cb.m_wvp, renderer->camera.lens, sv);
    // The vertex programs turn every picture upside down for the frame
    // target; the window counts rows from the bottom, so undo it here.
    for (int row = 0; row < 4; ++row) cb.m_wvp[row * 4 + 1] = -cb.m_wvp[row * 4 + 1];
    cb.m_crop[2] = cb.m_crop[3] = 1.0f;
    for (float& c : cb.m_rgba) c = 1.0f;
    cb.m_work[0][3] = 1.0f;  // opaque: the frame's alpha is not the picture's
    Lib_ConstBufUpload(renderer, cb);
    Lib_QuadDraw();
    glEnable(GL_BLEND);
}

void Lib_FrameBind(Renderer* renderer) {
    renderer->partial = false;
    glBindFramebuffer(GL_FRAMEBUFFER, renderer->frameFramebuffer);
    glViewport(0, 0, kFrameWidth, kFrameHeight);
    applyFixedState();
    glScissor(0, 0, kFrameWidth, kFrameHeight);
    glBindBufferBase(GL_UNIFORM_BUFFER, kConstBufBinding, renderer->constBuffer);
}

void Lib_FrameDamageSet(Renderer* renderer, const ScissorRect* rect) {
    renderer->partial = rect != nullptr;
    if (rect) renderer->damage = *rect;
    const ScissorRect full{0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight)};
    Lib_SetScissor(&full);
}

void Lib_FramePresent(Renderer* renderer) {
    // A present shows what the last composition drew; anything else that
    // presents (a movie) shows the whole window.
    if (renderer && renderer->presentPartial) {
        PlatGLRect area;
        std::memcpy(&area, renderer->presentArea, sizeof area);
        Plat_GLPresentArea(area);
    } else {
        Plat_GLSwap();
    }
    if (renderer) renderer->presentPartial = false;
    // The window took a new size or a present failed: the next frame is
    // drawn and presented whole even when nothing in it changes.
    if (Plat_GLWholeFrameDue()) Lib_RenderTouch();
    FramePresentCount.fetch_add(1, std::memory_order_release);
}

void Lib_ConstBufUpload(Renderer* renderer, const ConstBuf& data) {
    glBindBuffer(GL_UNIFORM_BUFFER, renderer->constBuffer);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof(ConstBuf), &data);
    glBindBufferBase(GL_UNIFORM_BUFFER, kConstBufBinding, renderer->constBuffer);
}

void Lib_ClearCB(uint64_t /*unused*/) {
    Renderer* r = g_renderer;
    if (!r || !r->context) return;
    // The colour of the whole target whatever the scissor says, or of the
    // damage of a partial frame. The depth-stencil buffer is never read
    // (applyFixedState), so it keeps its first clear.
    glBindFramebuffer(GL_FRAMEBUFFER, r->frameFramebuffer);
    GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    GLint box[4] = {0, 0, 0, 0};
    if (r->partial) {
        glGetIntegerv(GL_SCISSOR_BOX, box);
        glEnable(GL_SCISSOR_TEST);
        glScissor(r->damage.x, r->damage.y, r->damage.width, r->damage.height);
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
    const GLfloat colour[4] = {ClearColour[0], ClearColour[1], ClearColour[2], 1.0f};
    glClearBufferfv(GL_COLOR, 0, colour);
    if (r->partial) glScissor(box[0], box[1], box[2], box[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
    else glDisable(GL_SCISSOR_TEST);
}

void Lib_SetScissor(const ScissorRect* rect) {
    int32_t x = rect->x < 0 ? 0 : rect->x;
    int32_t y = rect->y < 0 ? 0 : rect->y;
    int32_t w = rect->width < 0 ? int32_t(kFrameWidth) : rect->width;
    int32_t h = rect->height < 0 ? int32_t(kFrameHeight) : rect->height;
    if (const Renderer* r = g_renderer; r && r->partial) {
        const ScissorRect& d = r->damage;
        const int32_t x1 = std::min(x + w, d.x + d.width), y1 = std::min(y + h, d.y + d.height);
        x = std::max(x, d.x);
        y = std::max(y, d.y);
        w = std::max(x1 - x, 0);
        h = std::max(y1 - y, 0);
    }
    // Row 0 of the frame target is the top row: no flip.
    glScissor(x, y, w, h);
}

bool Lib_GraphicsInit() {
    ClearColour[0] = ClearColour[1] = ClearColour[2] = 0.0f;
    FrameTimeHold = 0;
    Lib_DrawClear();
    if (!Lib_D3DCreate(&g_record, Plat_GLWindow())) {
        Lib_D3DRelease(&g_record);
        return false;
    }
    g_renderer = &g_record;
    Lib_CameraReset(&ActiveCamera);
    Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
    // Every sprite record is cleared before the programs are made, so that
    // the table starts clean even when a program fails.
    for (SpriteRecord& sprite : SpriteTable) Lib_SpriteClear(&sprite);
    Lib_ShaderCreate();
    return true;
}

void Lib_GraphicsEnd() {
    if (!g_renderer) return;
    Lib_ShaderRelease();
    Lib_D3DRelease(g_renderer);
    g_renderer = nullptr;
}
