// Text layout and drawing: every frame each registered text object is laid
// out from its first byte, revealed over time (characters per frame, pauses,
// fade-in) and drawn glyph by glyph, with shadow or border passes, through
// the text programs; its ruby children follow. Game thread only.
#pragma once

#include <cstdint>

#include "engine/render/renderer.h"
#include "engine/text/text_tags.h"

// Placement of one glyph quad in camera space.
struct GlyphQuad {
    float x, y, z;
    float scaleX, scaleY, scaleZ;
    float rotX, rotY, rotZ;
};

inline constexpr float kGlyphNoOverride = -9999.0f;

enum : uint32_t {
    TEXT_PROGRAM_COVERAGE = 0,  // characters
    TEXT_PROGRAM_PICTURE = 1,   // add-glyphs
};

// What layout and drawing need from the glyph cache, the GL back end and the
// clock. The defaults are the glyph cache, GL and the monotonic clock; tests
// install their own with Lib_TextOpsSet (null restores the defaults).
struct TextOps {
    GlyphInfo (*glyphInfo)(uint32_t codePoint, int32_t addIndex, uint32_t style);
    GlyphInfo (*glyphMake)(uint32_t codePoint, int32_t addIndex, uint32_t style);
    // The state fixed for every pass of one glyph: program, texture, sampler, blend 0.
    void (*glyphBegin)(uint32_t program, uint32_t texture);
    // One 6-index draw with these constants; vertexBuffer 0 is the shared quad.
    void (*pass)(const ConstBuf& constants, uint32_t vertexBuffer);
    // Everything passed so far is on its way before the scissor changes.
    void (*flush)();
    void (*scissor)(const ScissorRect& rect);
    uint32_t (*bufferCreate)(const TextVertex vertices[4]);
    void (*bufferRelease)(uint32_t buffer);
    uint64_t (*nowUs)();
};
void Lib_TextOpsSet(const TextOps* ops);
const TextOps& Lib_TextOps();
// Releases the GL objects of the glyph batches (shutdown, before the context goes).
void Lib_TextDrawRelease();

// The draw-list callback of a text object (the argument is the record).
void Lib_TextDrawCB(uint64_t record);
// What the callback leaves for the drawers after it, for a walk that passes
// over an unchanged text: the blend state its glyphs set when it last drew
// any, and the camera it stashes for its own.
void Lib_TextDrawKeepState(uint64_t record);
// One layout, reveal and drawing pass.
void Lib_TextLayout(TextCursor* cursor);
// Placement of the cursor's cell; yOverride kGlyphNoOverride uses the pen's y.
GlyphQuad Lib_GlyphQuadPlace(const TextCursor* cursor, float yOverride);
// Draws one glyph with all its passes.
void Lib_GlyphDraw(TextCursor cursor, uint32_t codePoint, GlyphQuad* quad);
