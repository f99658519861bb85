// The text renderer's state: the font images, the glyph cache (5120 keys,
// each with the GL texture of one glyph), the glyph atlas (50 MiB of glyph
// records: metrics and 8-bit coverage), the text programs, the shared glyph
// quad and sampler, and start-up and shutdown. Game thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/text/font.h"
#include "shaders/text_programs.h"

// Texture formats of GlyphInfo (the values the drawing code tests).
inline constexpr uint32_t kGlyphFormatR8 = 61;    // 8-bit coverage
inline constexpr uint32_t kGlyphFormatBgra = 87;  // add-glyph picture cell

inline constexpr int32_t kGlyphCacheEntries = 5120;
inline constexpr int32_t kGlyphCacheFirstKey = 20;  // 0..19 hold add-glyph textures
inline constexpr uint64_t kGlyphAtlasSize = 52428800;
inline constexpr uint32_t kGlyphAtlasFirstRecord = 20736;  // header rounded up to 256
inline constexpr uint32_t kAddGlyphHeader = 256;
inline constexpr uint32_t kAddGlyphCellBytes = 64 * 64 * 4;

// The 36-byte text vertex: position, colour (r, g, b, a), texture coordinate.
struct TextVertex {
    float pos[3];
    float col[4];
    float uv[2];
};
static_assert(sizeof(TextVertex) == 36);

struct TextRenderStateT {
    // The text language (0 Japanese, 1 other, 2 simplified Chinese, 3
    // traditional Chinese): the interface language global itself.
    std::atomic<int32_t>& language;
    // [0] main font, [1] add-glyph picture, [2] alternative font, [3] [4] the
    // italics of [0] and [2] (heap 4, owned here), with their byte sizes.
    void* images[5];
    uint32_t sizes[5];
    uint8_t* atlas;
    ShaderProgram coverage;  // TextVS + TextCoveragePS (R8 glyphs)
    ShaderProgram picture;   // TextVS + TextPicturePS (add-glyph pictures)
    uint32_t quadVertexBuffer;  // 4 TextVertex, v = 1 at the bottom edge
    uint32_t quadIndexBuffer;   // 0, 1, 2, 1, 3, 2
    uint32_t inputLayout;       // vertex array of the quad with the three attributes
    uint32_t sampler;           // linear, clamp, mip 0 only
    uint8_t ready;
};
extern TextRenderStateT TextRenderState;

struct GlyphCacheEntry {
    uint32_t codePoint;  // 0: empty
    uint8_t style;
    uint32_t texture;    // owned GL texture
    uint32_t view;       // the texture as drawn (same name); 0 until made
};
extern GlyphCacheEntry GlyphCache[kGlyphCacheEntries];

// The answer of Lib_GlyphInfoGet and Lib_GlyphMake; all zero (null pixels)
// means nothing to draw.
struct GlyphInfo {
    int32_t originX;
    int32_t originY;  // negated: bitmap top below the baseline
    int32_t boxWidth, boxHeight;
    int32_t advance;
    uint16_t bitmapWidth, bitmapHeight;
    int32_t bitmapBytes;
    int32_t style;
    const uint8_t* pixels;
    uint32_t format;
    float uExtent, vExtent;
    uint32_t view;
};

// Start-up: clears text objects and font state, takes the language, empties
// the cache, makes the atlas and the GL objects. False, saying nothing, when
// the atlas (kGlyphAtlasSize of the graphics heap) could not be allocated:
// start-up must stop.
bool Lib_FontInit();
// Shutdown: text objects, atlas, GL objects, textures, font images and faces.
void Lib_FontEnd();

// Allocates the atlas on first use, else empties it; false when it cannot be
// allocated.
bool Lib_GlyphAtlasReset();
// Finds or claims the cache entry (20..5119) of a key; a full cache is
// emptied (and the atlas reset) first.
int32_t Lib_GlyphSlotGet(uint32_t codePoint, uint8_t style);
// Metrics only (no texture is made). addIndex >= 0 is an add-glyph.
GlyphInfo Lib_GlyphInfoGet(uint32_t codePoint, int32_t addIndex, uint32_t style);
// Metrics, pixel pointer and a ready texture.
GlyphInfo Lib_GlyphMake(uint32_t codePoint, int32_t addIndex, uint32_t style);

// Texture making, GL by default; tests install their own (null restores GL).
struct GlyphTextureOps {
    uint32_t (*create)(uint32_t width, uint32_t height, uint32_t format, const void* pixels);
    void (*release)(uint32_t texture);
};
void Lib_GlyphTextureOpsSet(const GlyphTextureOps* ops);
