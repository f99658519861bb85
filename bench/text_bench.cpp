// Cold glyph rasterisation: Lib_GlyphOutlineGet (bitmap mode: FreeType's
// render, the 65-level mapping and the bordered copy into heap 4) against
// FreeType's own FT_Load_Char(FT_LOAD_RENDER) of the same glyphs in the same
// face at the same size. Neither caches a glyph, so every call rasterises.
// The ratio of the two times is the overhead of the engine's path.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/text/font.h"

namespace {

constexpr const char* kFonts[] = {"/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
                                  "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};

// A line of message text for each face: kana, kanji, full-width punctuation
// and Latin for IPAGothic; Latin for DejaVu Sans (which has no kana, and a
// missing glyph is no rasterisation).
std::vector<uint32_t> Glyphs(int64_t which) {
    const char16_t* text =
        which == 0 ? u"今日は朝から雨が降っていたので、駅まで歩いて行きました。午後には晴れて、公園の桜がとても"
                     u"きれいでした。コーヒーを飲みながら本を読みます。Sample 0123, ABCxyz!?"
                   : u"The quick brown fox jumps over the lazy dog; Sample 0123, \u00c9t\u00e9 \u00e0 "
                     u"l'\u00eele (ABCxyz!?) \u2014 \u201cwhere\u201d & how.";
    std::vector<uint32_t> out;
    for (; *text; ++text) out.push_back(*text);
    return out;
}

std::string FontBytes(int64_t which) {
    std::ifstream in(kFonts[which], std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

void BM_GlyphOutlineGet(benchmark::State& state) {
    std::string bytes = FontBytes(state.range(0));
    if (bytes.empty()) {
        state.SkipWithError("font packages missing (tools/setup.sh)");
        return;
    }
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {4 * mib, 4 * mib, 2 * mib, 2 * mib, 16 * mib};
    Lib_MemInit(sizes);
    Lib_FontStateClear();
    Lib_FontCreate(bytes.data(), uint32_t(bytes.size()));
    std::vector<uint32_t> glyphs = Glyphs(state.range(0));
    for (auto _ : state) {
        for (uint32_t c : glyphs) {
            Lib_GlyphOutlineGet(1, c);
            benchmark::DoNotOptimize(FontGlyphBitmap);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * glyphs.size()));
    Lib_FontRelease();
    Lib_MemRelease();
}

void BM_FreeTypeLoadChar(benchmark::State& state) {
    std::string bytes = FontBytes(state.range(0));
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (bytes.empty() || FT_Init_FreeType(&library) ||
        FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(bytes.data()), FT_Long(bytes.size()), 0, &face)) {
        state.SkipWithError("font packages missing (tools/setup.sh)");
        if (library) FT_Done_FreeType(library);
        return;
    }
    FT_Set_Pixel_Sizes(face, 0, 64);
    std::vector<uint32_t> glyphs = Glyphs(state.range(0));
    for (auto _ : state) {
        for (uint32_t c : glyphs) {
            FT_Load_Char(face, c, FT_LOAD_RENDER);
            benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * glyphs.size()));
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

// 0: IPAGothic (the Japanese face), 1: DejaVu Sans.
BENCHMARK(BM_GlyphOutlineGet)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FreeTypeLoadChar)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
