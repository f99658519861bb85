// A font file made of arbitrary bytes loaded as the game's font (and as its
// alternative font), faces made through FreeType, and glyphs of every style
// rasterised into the glyph atlas, as the text renderer does it; textures are
// counted instead of made. Every glyph delivered must lie inside the atlas,
// with as many bytes as its bitmap's sides say (and those sides the
// glyph's own), and nothing may stay allocated once the fonts are released.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

uint32_t g_textures = 0;
uint32_t CountCreate(uint32_t, uint32_t, uint32_t, const void*) { return ++g_textures; }
void CountRelease(uint32_t) {}
const GlyphTextureOps kCountingTextures = {CountCreate, CountRelease};

void* HeapCopy(const void* data, size_t size) {
    void* p = Lib_MemAlloc(HEAP_GRAPHICS, size, 16);
    Check(p != nullptr);
    std::memcpy(p, data, size);
    return p;
}

void CheckGlyph(const GlyphInfo& g) {
    // The last box rasterised fits the cell's byte sizes with its border, so
    // that the sides stored with the bitmap are its true sides.
    Check(FontGlyphMetrics.boxWidth + 10 <= 255 && FontGlyphMetrics.boxHeight + 10 <= 255);
    if (!g.pixels) return;
    const uint8_t* atlas = TextRenderState.atlas;
    if (g.format == kGlyphFormatBgra) return;  // an add-glyph cell of the picture
    Check(g.format == kGlyphFormatR8);
    Check(g.bitmapBytes == int32_t(g.bitmapWidth) * g.bitmapHeight);
    Check(g.pixels >= atlas && g.pixels + g.bitmapBytes <= atlas + kGlyphAtlasSize);
    volatile uint8_t sink = 0;
    if (g.bitmapBytes) sink = sink + g.pixels[g.bitmapBytes - 1];
}

uint64_t g_baseline = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 2 * mib, 96 * mib};
    Check(Lib_MemInit(sizes));
    Lib_GlyphTextureOpsSet(&kCountingTextures);
    Lib_FontStateClear();
    std::memset(GlyphCache, 0, sizeof GlyphCache);
    Check(Lib_GlyphAtlasReset());
    TextLanguage = 0;
    // The add-glyph picture: its header and two blank cells.
    TextRenderState.images[1] = Lib_MemAlloc(HEAP_GRAPHICS, kAddGlyphHeader + 2 * kAddGlyphCellBytes, 16);
    std::memset(TextRenderState.images[1], 0, kAddGlyphHeader + 2 * kAddGlyphCellBytes);
    TextRenderState.sizes[1] = kAddGlyphHeader + 2 * kAddGlyphCellBytes;
    g_baseline = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (4u << 20)) return 0;
    // Exact-size heap copies: a read past the font shows in the poisoned heap.
    TextRenderState.images[0] = HeapCopy(data, size);
    TextRenderState.sizes[0] = uint32_t(size);
    TextRenderState.images[2] = HeapCopy(data, size);
    TextRenderState.sizes[2] = uint32_t(size);
    std::strcpy(FontUserFace, size > 64 && (data[size - 1] & 1) ? "No Such Face" : "");
    Lib_FontCreate(TextRenderState.images[0], uint32_t(size));
    Check(std::memchr(FontDefaultFace, 0, kFaceNameSize) != nullptr);

    uint32_t tail = size >= 3 ? uint32_t(data[size - 3]) << 16 | data[size - 2] << 8 | data[size - 1] : 'x';
    const uint32_t codePoints[] = {'A', 'g', ' ', 0x3042, 0x4E00, 0xFF21, 0xFFFD, tail % 0x110000, tail & 0xFFFF};
    for (uint32_t style = 0; style < 3; ++style) {
        for (uint32_t cp : codePoints) {
            CheckGlyph(Lib_GlyphMake(cp, -1, style));
            GlyphInfo info = Lib_GlyphInfoGet(cp, -1, style);
            Check(info.pixels == nullptr || info.bitmapBytes >= 0);
        }
    }
    CheckGlyph(Lib_GlyphMake(0, 1, 0));

    Lib_FontRelease();
    Lib_FontStateClear();
    for (int i : {0, 2}) {
        Lib_MemFree(HEAP_GRAPHICS, TextRenderState.images[i]);
        TextRenderState.images[i] = nullptr;
        TextRenderState.sizes[i] = 0;
    }
    std::memset(GlyphCache, 0, sizeof GlyphCache);
    Check(Lib_GlyphAtlasReset());
    Check(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse == g_baseline);
    return 0;
}
