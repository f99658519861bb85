// Message-text markup conversion on arbitrary bytes (Shift-JIS, UTF-8 or
// broken). The first 6 bytes pick the language, the window frame's sign, the
// text size, the columns, the indent switch and the output capacity; the rest
// is the line, held in a buffer of exactly its size so that a read past its
// terminator is caught. Advances are fixed (32 below 0x80, else 64). The
// output must stay terminated, inside its capacity and below 1536 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/text/font.h"
#include "engine/text/text_layout.h"
#include "script/markup.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

GlyphInfo FixedGlyph(uint32_t code, int32_t, uint32_t style) {
    static const uint8_t pixels[1] = {0};
    GlyphInfo g{};
    g.originX = 2;
    g.originY = -50;
    g.boxWidth = g.boxHeight = code < 0x80 ? 20 : 40;
    g.advance = code < 0x80 ? 32 : 64;
    g.bitmapWidth = g.bitmapHeight = uint16_t(g.boxWidth + 10);
    g.style = int32_t(style);
    g.pixels = pixels;
    g.uExtent = g.vExtent = 1.0f;
    g.view = code;
    return g;
}
void Begin(uint32_t, uint32_t) {}
void Pass(const ConstBuf&, uint32_t) {}
void Flush() {}
void Scissor(const ScissorRect&) {}
uint32_t Create(const TextVertex*) { return 1; }
void Release(uint32_t) {}
uint64_t Now() { return 0; }

bool FixedRaster(int32_t, uint32_t code, bool, RasterGlyph* g) {
    static const uint8_t px[64 * 64] = {};
    *g = RasterGlyph{20, 20, 0, 20, code < 0x80 ? 32 : 64, 20, px};
    return true;
}

bool Setup() {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {24 * mib, 2 * mib, 2 * mib, 2 * mib, 2 * mib};
    if (!Lib_MemInit(sizes)) std::abort();
    static const TextOps ops = {FixedGlyph, FixedGlyph, Begin, Pass, Flush, Scissor, Create, Release, Now};
    Lib_TextOpsSet(&ops);
    Lib_GlyphRasterSet(FixedRaster);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = Setup();
    (void)ready;
    if (size < 6) return 0;
    std::unique_ptr<char[]> in(new char[size - 6 + 1]);
    std::memcpy(in.get(), data + 6, size - 6);
    in[size - 6] = 0;

    StageRecord stage{};
    stage.windowFrame = (data[0] & 1) ? -1 : 0;
    stage.textSizeX = 0.25f * float(1 + (data[1] & 7));
    stage.textSizeY = 0.25f * float(1 + (data[1] >> 3 & 7));
    stage.textColor = 0xFF000000u;
    CommandContext ctx{};
    ctx.stage = &stage;
    SystemDataBlock.language = int8_t(int(data[0] >> 1 & 7) - 1);
    const float columns = data[2] < 8 ? -1.0f : float(data[2] % 80);
    const bool hanging = data[3] & 1;
    const float scale = float(data[3] >> 1) / 64.0f;
    const size_t cap = data[4] < 16 ? 1 + data[4] * 97u : 1536 + data[5];

    std::unique_ptr<char[]> out(new char[cap + 1]);
    out[cap] = 0x5A;
    GSL_MarkupConvert(&ctx, in.get(), out.get(), cap, hanging, columns, scale);
    const size_t n = strnlen(out.get(), cap);
    Check(n < cap && n < kMarkupSize);
    Check(out[cap] == 0x5A);
    return 0;
}
