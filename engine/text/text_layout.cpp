#include "engine/text/text_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/core/charcode.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_time.h"

namespace {

constexpr float k = kWorldPerPixel;

int32_t AddWrap(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t Wrap(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

// 60 / frames per second, as the reveal clock and the fade count it.
int32_t FrameStep() { return 60 / (FrameRateConfig ? FrameRateConfig : 1); }

// --- GL back end ----------------------------------------------------------------
// Glyph passes are batched per layout pass: the constants of every pass go
// into one uniform buffer with one upload, each draw binds its own range.
// Drawing order and the scissor are those of the calls: the batch is drawn
// before the scissor changes and at the end of every layout pass.

constexpr int kBatchPasses = 1024;
constexpr uint32_t kBatchStrideMin = sizeof(ConstBuf);

struct BatchDraw {
    uint32_t program;
    uint32_t texture;
    uint32_t vertexBuffer;
};

struct GlBatch {
    ConstBuf constants[kBatchPasses];
    BatchDraw draws[kBatchPasses];
    int count = 0;
    uint32_t program = 0, texture = 0;  // of the current glyph
    uint32_t uniformBuffer = 0;
    uint32_t cornerArray = 0;  // vertex array re-pointed at a text's corner buffer
    uint32_t stride = 0;
    std::vector<uint8_t> staging;
};
// process-wide: the GL batch, released by Lib_TextDrawRelease
GlBatch* g_batch = nullptr;

GlBatch& Batch() {
    if (!g_batch) g_batch = new GlBatch;
    return *g_batch;
}

void GlGlyphBegin(uint32_t program, uint32_t texture) {
    GlBatch& b = Batch();
    b.program = program;
    b.texture = texture;
}

void GlFlush();

// Whether a glyph pass lands wholly outside the damage of a frame drawn in
// part, where it would draw nothing. The text program draws the quad of
// corners ±0.5 shrunk to the texture rectangle, its halves moved sideways by
// the slant, through m_wvp (clip rows turned upside down, so frame row 0 is
// the top); the box is one pixel wider for the rasteriser.
bool PassOutsideDamage(const ConstBuf& cb) {
    const Renderer* renderer = *Lib_GetRenderer();
    if (!renderer || !renderer->partial) return false;
    const float* m = cb.m_wvp;
    double slant = 0;
    if (cb.m_work[2][0] != 0.0f)
        slant = std::fabs(std::tan(double(cb.m_work[2][0])) * cb.m_work[0][1] / cb.m_work[0][0]);
    const double ex = 0.5 * std::fabs(double(cb.m_crop[2]) - cb.m_crop[0]) + slant;
    const double ey = 0.5 * std::fabs(double(cb.m_crop[3]) - cb.m_crop[1]);
    double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
    for (int corner = 0; corner < 4; ++corner) {
        const double px = (corner & 1) ? ex : -ex, py = (corner & 2) ? ey : -ey;
        const double cx = px * m[0] + py * m[4] + m[12];
        const double cy = px * m[1] + py * m[5] + m[13];
        const double cw = px * m[3] + py * m[7] + m[15];
        if (!(cw > 1e-6)) return false;
        const double fx = (cx / cw + 1.0) * 0.5 * kFrameWidth, fy = (1.0 - cy / cw) * 0.5 * kFrameHeight;
        if (!std::isfinite(fx) || !std::isfinite(fy)) return false;
        x0 = std::min(x0, fx), x1 = std::max(x1, fx);
        y0 = std::min(y0, fy), y1 = std::max(y1, fy);
    }
    const ScissorRect& d = renderer->damage;
    return x1 + 1 <= d.x || x0 - 1 >= d.x + d.width || y1 + 1 <= d.y || y0 - 1 >= d.y + d.height;
}

// Whether the text callback now running had a glyph pass left out (outside
// the damage), and whether one of its flushes set the blend state.
// process-wide (g_passLeftOut, g_blendSet): one drawing's state, set before it is read
bool g_passLeftOut = false;
bool g_blendSet = false;

void GlPass(const ConstBuf& constants, uint32_t vertexBuffer) {
    if (PassOutsideDamage(constants)) {
        g_passLeftOut = true;
        return;
    }
    GlBatch& b = Batch();
    if (b.count == kBatchPasses) GlFlush();
    b.constants[b.count] = constants;
    b.draws[b.count] = BatchDraw{b.program, b.texture, vertexBuffer};
    ++b.count;
}

// Per draw entry: whether its text's last drawing set the blend state.
// process-wide: one drawing's state, set before it is read
uint8_t g_entryBlendSet[kDrawEntries];

void GlFlush() {
    if (!g_batch) return;  // nothing queued yet, or released at shutdown
    GlBatch& b = *g_batch;
    Renderer* renderer = *Lib_GetRenderer();
    if (!b.count || !renderer || !renderer->context || !TextRenderState.ready) {
        b.count = 0;
        return;
    }
    g_blendSet = true;
    if (!b.uniformBuffer) {
        GLint align = 256;
        glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &align);
        uint32_t a = align > 0 ? uint32_t(align) : 256;
        b.stride = (kBatchStrideMin + a - 1) / a * a;
        b.staging.assign(size_t(b.stride) * kBatchPasses, 0);
        glGenBuffers(1, &b.uniformBuffer);
    }
    for (int i = 0; i < b.count; ++i)
        std::memcpy(b.staging.data() + size_t(i) * b.stride, &b.constants[i], sizeof(ConstBuf));
    // New storage each time (the driver need not wait for earlier draws).
    glBindBuffer(GL_UNIFORM_BUFFER, b.uniformBuffer);
    glBufferData(GL_UNIFORM_BUFFER, GLsizeiptr(size_t(b.count) * b.stride), b.staging.data(), GL_STREAM_DRAW);
    Lib_BlendSet(renderer, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, TextRenderState.sampler);
    uint32_t program = ~0u, texture = ~0u, array = ~0u;
    for (int i = 0; i < b.count; ++i) {
        const BatchDraw& d = b.draws[i];
        const ShaderProgram& p = d.program == TEXT_PROGRAM_PICTURE ? TextRenderState.picture : TextRenderState.coverage;
        if (!p.program || !d.texture) continue;
        if (p.program != program) glUseProgram(program = p.program);
        if (d.texture != texture) glBindTexture(GL_TEXTURE_2D, texture = d.texture);
        if (d.vertexBuffer) {
            if (!b.cornerArray) glGenVertexArrays(1, &b.cornerArray);
            glBindVertexArray(array = b.cornerArray);
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, TextRenderState.quadIndexBuffer);
            glBindBuffer(GL_ARRAY_BUFFER, d.vertexBuffer);
            Lib_TextVertexLayout();
        } else if (array != TextRenderState.inputLayout) {
            glBindVertexArray(array = TextRenderState.inputLayout);
        }
        glBindBufferRange(GL_UNIFORM_BUFFER, kConstBufBinding, b.uniformBuffer, GLintptr(size_t(i) * b.stride),
                          sizeof(ConstBuf));
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
    }
    b.count = 0;
    // Nothing of the text renderer stays bound: its objects may be deleted
    // (a program deleted while current would linger).
    glUseProgram(0);
    glBindVertexArray(0);
    // Leave the shared constant block where every other drawer expects it.
    glBindBufferBase(GL_UNIFORM_BUFFER, kConstBufBinding, renderer->constBuffer);
}

void GlScissor(const ScissorRect& rect) { Lib_SetScissor(&rect); }

uint32_t GlBufferCreate(const TextVertex vertices[4]) {
    Renderer* renderer = *Lib_GetRenderer();
    if (!renderer || !renderer->context) return 0;
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, 4 * sizeof(TextVertex), vertices, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return buffer;
}

void GlBufferRelease(uint32_t buffer) {
    Renderer* renderer = *Lib_GetRenderer();
    if (buffer && renderer && renderer->context) glDeleteBuffers(1, &buffer);
}

constexpr TextOps kDefaultOps = {
    Lib_GlyphInfoGet, Lib_GlyphMake, GlGlyphBegin, GlPass,  GlFlush,
    GlScissor,        GlBufferCreate, GlBufferRelease, Plat_MonotonicUs,
};
// process-wide: a test seam (Lib_TextOpsSet)
TextOps g_ops = kDefaultOps;

// --- Drawing ----------------------------------------------------------------------

// m_wvp of a quad: scale, then translation, then the camera's view and lens.
void QuadMatrix(const GlyphQuad& q, const float* viewLens, float* out) {
    const float s[3] = {q.scaleX, q.scaleY, q.scaleZ};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col) out[row * 4 + col] = s[row] * viewLens[row * 4 + col];
    for (int col = 0; col < 4; ++col)
        out[12 + col] = q.x * viewLens[col] + q.y * viewLens[4 + col] + q.z * viewLens[8 + col] + viewLens[12 + col];
}

void Channels(uint32_t colour, float* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = float((colour >> (8 * i)) & 0xFF) / 255.0f;
}

// Border pass offsets in units of d: right, left, up, down, then the diagonals.
constexpr int8_t kBorderX[8] = {1, -1, 0, 0, 1, 1, -1, -1};
constexpr int8_t kBorderY[8] = {0, 0, 1, -1, 1, -1, 1, -1};

uint32_t ElapsedFrames(uint32_t startTime, uint32_t now) {
    double us = double(uint32_t(now - startTime));
    return uint32_t(us / 1000000.0 * 60.0);
}

}  // namespace

void Lib_TextOpsSet(const TextOps* ops) {
    g_ops = kDefaultOps;
    if (!ops) return;
    if (ops->glyphInfo) g_ops.glyphInfo = ops->glyphInfo;
    if (ops->glyphMake) g_ops.glyphMake = ops->glyphMake;
    if (ops->glyphBegin) g_ops.glyphBegin = ops->glyphBegin;
    if (ops->pass) g_ops.pass = ops->pass;
    if (ops->flush) g_ops.flush = ops->flush;
    if (ops->scissor) g_ops.scissor = ops->scissor;
    if (ops->bufferCreate) g_ops.bufferCreate = ops->bufferCreate;
    if (ops->bufferRelease) g_ops.bufferRelease = ops->bufferRelease;
    if (ops->nowUs) g_ops.nowUs = ops->nowUs;
}

const TextOps& Lib_TextOps() { return g_ops; }

void Lib_TextDrawRelease() {
    if (!g_batch) return;
    Renderer* renderer = *Lib_GetRenderer();
    if (renderer && renderer->context) {
        if (g_batch->uniformBuffer) glDeleteBuffers(1, &g_batch->uniformBuffer);
        if (g_batch->cornerArray) glDeleteVertexArrays(1, &g_batch->cornerArray);
    }
    delete g_batch;
    g_batch = nullptr;
}

void Lib_TextDrawCB(uint64_t arg) {
    TextRecord* r = reinterpret_cast<TextRecord*>(arg);
    if (!r || !(r->state & TEXT_STATE_DRAWN)) return;
    r->text[kTextBufferSize - 1] = 0;
    g_passLeftOut = g_blendSet = false;
    TextPen pen = Lib_TextLineStart(r, r->text);
    TextCursor c = Lib_TextCursorStart(r, pen.x, pen.y);
    Lib_TextLayout(&c);
    for (TextRecord* child : r->ruby) {
        if (!child) break;
        TextCursor rc = Lib_TextCursorStart(child, 0, 0);
        Lib_TextLayout(&rc);
    }
    // A text leaves the same blend state for the drawers after it, whether
    // its glyphs were drawn or left out of a part of the frame.
    Renderer* renderer = *Lib_GetRenderer();
    if (g_passLeftOut && !g_blendSet && renderer && renderer->context && TextRenderState.ready) {
        Lib_BlendSet(renderer, 0);
        g_blendSet = true;
    }
    if (uint32_t(r->drawEntry) < uint32_t(kDrawEntries)) g_entryBlendSet[r->drawEntry] = g_blendSet;
}

void Lib_TextDrawKeepState(uint64_t arg) {
    const TextRecord* r = reinterpret_cast<const TextRecord*>(arg);
    if (!r || !(r->state & TEXT_STATE_DRAWN)) return;
    auto own = [](const TextRecord* t) { return (t->drawMode & kTextDrawDefaultCamera) != 0; };
    bool stash = own(r);
    for (const TextRecord* child : r->ruby) {
        if (!child) break;
        stash = stash || own(child);
    }
    if (stash) CameraStash = ActiveCamera;
    Renderer* renderer = *Lib_GetRenderer();
    if (renderer && uint32_t(r->drawEntry) < uint32_t(kDrawEntries) && g_entryBlendSet[r->drawEntry])
        Lib_BlendSet(renderer, 0);
}

void Lib_TextLayout(TextCursor* c) {
    TextRecord* r = c->record;
    if (!r) return;
    const TextOps& ops = g_ops;
    const bool clip = !(r->clipX == 0 && r->clipY == 0 && r->clipWidth == int32_t(kFrameWidth) &&
                        r->clipHeight == int32_t(kFrameHeight));
    if (clip) {
        ops.flush();
        ops.scissor(ScissorRect{r->clipX, r->clipY, r->clipWidth, r->clipHeight});
    }
    const bool ownCamera = (r->drawMode & kTextDrawDefaultCamera) != 0;
    if (ownCamera) Lib_CameraSwitch(0, 1, 0);

    while (c->offset < kTextBufferSize && r->text[c->offset]) {
        if (Lib_TagParse(c) && c->addIndex == -1) continue;
        // A pause holds everything from its character on until it has run.
        if (c->pauseAt == r->revealed && r->speed >= 1) {
            uint32_t now = uint32_t(ops.nowUs());
            if (r->waitCounter < 1)
                r->waitCounter = Wrap(int64_t(c->pauseLength) - ElapsedFrames(r->startTime, now));
            r->waitCounter = Wrap(int64_t(r->waitCounter) - 1);
            if (r->waitCounter > 0) {
                ++c->count;  // keeps the finished byte at 0
                break;
            }
            r->waitCounter = 0;
            r->startTime = now;
            r->revealClock = r->speed;
        }
        uint32_t code = c->addIndex >= 0 ? 0 : Lib_CharCode(r->text + c->offset);
        uint32_t style = r->fontStyle ? r->fontStyle : uint32_t(c->styleOverride);
        GlyphInfo g = ops.glyphInfo(code, c->addIndex, style);
        c->cellWidth = g.bitmapWidth;
        c->cellHeight = g.bitmapHeight;
        if (c->count <= r->revealed || r->speed < 1) {
            GlyphQuad quad{};
            Lib_GlyphDraw(*c, code, &quad);
        }
        int32_t advance = r->fixedAdvance ? 64 : g.advance;
        c->cellWidth = advance;
        if (c->addIndex < 0) c->offset += int32_t(Lib_CharLen(r->text + c->offset));
        c->penX = Lib_TextTrunc(double(c->penX) + float(advance) * r->scaleX);
        ++c->count;
        if (r->revealed < c->count && r->revealClock >= r->speed) {
            r->revealClock = 0;
            r->revealed = r->speed <= 0 ? c->count : r->revealed + 1;
        }
    }

    if (ownCamera) {
        ActiveCamera = CameraStash;
        Lib_CameraUpdate(&ActiveCamera);
    }
    ops.flush();
    if (clip) ops.scissor(ScissorRect{0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight)});
    if (r->revealed >= c->count)
        r->finished = 1;
    else
        r->revealClock = AddWrap(r->revealClock, FrameStep());
}

GlyphQuad Lib_GlyphQuadPlace(const TextCursor* c, float yOverride) {
    const TextRecord* r = c->record;
    const int32_t w = c->cellWidth, h = c->cellHeight;
    const float wk = float(w) * k, hk = float(h) * k;
    GlyphQuad q{};
    int64_t px = int64_t(r->letterSpacing) - (int64_t(kFrameWidth) - w) / 2 + r->x + c->penX;
    q.x = float(Wrap(px)) * k + (wk * r->scaleX - wk) * 0.5f;
    int64_t halfH = (int64_t(kFrameHeight) - h) / 2;
    if (yOverride == kGlyphNoOverride)
        q.y = float(Wrap(int64_t(r->y) + c->penY + halfH)) * k;
    else
        q.y = (float(r->y) + yOverride + float(halfH)) * k;
    q.y -= (hk * r->scaleY - hk) * 0.5f;
    q.z = float(r->z) * k;
    q.scaleX = wk * r->scaleX;
    q.scaleY = hk * r->scaleY;
    q.scaleZ = 1.0f;
    return q;
}

void Lib_GlyphDraw(TextCursor c, uint32_t code, GlyphQuad* quad) {
    TextRecord* r = c.record;
    const TextOps& ops = g_ops;
    uint32_t style = r->fontStyle ? r->fontStyle : uint32_t(c.styleOverride);
    GlyphInfo g = ops.glyphMake(code, c.addIndex, style);
    if (!g.pixels) return;
    const bool picture = c.addIndex >= 0;

    // Bearing and the vertical offset of the bitmap within the line.
    c.penX = AddWrap(c.penX, Lib_TextTrunc(float((g.originX - (g.bitmapWidth - g.boxWidth) / 2)) * r->scaleX));
    float v = ((float(g.bitmapHeight) - float(g.boxHeight)) * 0.5f + float(-int64_t(g.originY) - 64)) * r->scaleY;
    float extra = picture ? std::ceil((1.0f - r->scaleY) * 10.0f) : 10.0f;
    GlyphQuad placed = Lib_GlyphQuadPlace(&c, float(c.penY) + v + extra);
    if (quad) *quad = placed;

    // Colour, with the fade-in of this character.
    uint32_t colour = r->colour;
    const uint32_t alpha = colour >> 24;
    if (c.count >= 0 && c.count < kTextBufferSize) {
        uint8_t& entry = r->alpha[c.count];
        if (!r->fadeIn) {
            entry = uint8_t(alpha);
        } else {
            int32_t step = r->speed > 0 ? 255 / r->speed : r->fadeLength ? 255 / r->fadeLength : 255;
            int32_t increment = FrameStep() * (step & 255);
            if (entry < alpha) entry = uint8_t(std::min<int64_t>(int64_t(entry) + increment, alpha));
            colour = (colour & 0x00FFFFFFu) | (uint32_t(entry) << 24);
        }
    }

    const int passes = (r->renderFlags & TEXT_SHADOW) ? 2 : (r->renderFlags & TEXT_BORDER4) ? 5
                       : (r->renderFlags & TEXT_BORDER8) ? 9 : 1;
    ops.glyphBegin(picture ? TEXT_PROGRAM_PICTURE : TEXT_PROGRAM_COVERAGE, g.view);
    const CameraRecord* camera = r->camera ? r->camera : &ActiveCamera;
    float viewLens[16];
    Lib_MatrixMul(viewLens, camera->lens, camera->view);

    ConstBuf cb{};
    cb.m_crop[2] = g.uExtent;
    cb.m_crop[3] = g.vExtent;
    cb.m_work[0][0] = float(g.bitmapWidth) * r->scaleX;
    cb.m_work[0][1] = float(g.bitmapHeight) * r->scaleY;
    Channels(r->outline, cb.m_work[1], 3);
    cb.m_work[2][0] = g.style == 1 ? 0.0f : c.slant;
    cb.m_work[2][1] = c.weight;
    cb.m_work[2][2] = r->scaleX;
    cb.m_work[2][3] = r->scaleY;
    const float d = c.weight + 3.0f;
    for (int i = 0; i < passes; ++i) {
        GlyphQuad q = placed;
        const bool last = i == passes - 1;
        uint32_t passColour = colour;
        if (!last) {
            // Shadow and border passes: the outline colour with the glyph's alpha.
            passColour = (r->outline & 0x00FFFFFFu) | (colour & 0xFF000000u);
            if (passes == 2) {
                q.x += 5.0f * r->scaleX * k;
                q.y -= 5.0f * r->scaleY * k;
            } else {
                q.x += float(kBorderX[i]) * d * r->scaleX * k;
                q.y += float(kBorderY[i]) * d * r->scaleY * k;
            }
        }
        cb.m_work[1][3] = last && (r->outline >> 24) ? 1.0f : 0.0f;
        Channels(passColour, cb.m_rgba, 4);
        QuadMatrix(q, viewLens, cb.m_wvp);
        ops.pass(cb, last ? r->cornerBuffer : 0);
    }
}
