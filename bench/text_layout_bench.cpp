// Per-frame CPU cost of one full message text object: 1535 bytes of Japanese
// (UTF-8) with ruby and colour tags, laid out and drawn by its draw callback
// with a warm glyph cache (IPA fonts through FreeType, glyphs made in a first
// frame). "Draw" issues the glyph passes on the headless GL context (Mesa's
// software renderer here); the GL work itself is finished outside the timing.
// "NoDraw" runs layout, tags, reveal and the glyph cache with the passes
// counted instead of drawn. "CentredLines" lays out one centred text of 767
// line breaks (one character a line, 1535 bytes) the same way: every line
// starts at its own centred offset.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/render/renderer.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"

namespace {

constexpr const char* kMainFace = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr const char* kAltFace = "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf";

bool StartGraphics() {
    static const bool ready = Plat_GLHeadlessStart(kFrameWidth, kFrameHeight) && Lib_GraphicsInit();
    return ready;
}

bool LoadImage(int index, const std::string& bytes) {
    if (bytes.empty()) return false;
    void* p = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size(), 0x4000);
    if (!p) return false;
    std::memcpy(p, bytes.data(), bytes.size());
    TextRenderState.images[index] = p;
    TextRenderState.sizes[index] = uint32_t(bytes.size());
    return true;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

// The message: sentences with two rubies and two colour changes each, one
// line each, repeated past 1535 bytes (the object keeps 1535).
std::string Message() {
    const std::string sentence =
        "#Color[255,96,160,255]「#Rubi[かんじ]漢字の#Rubi[よ]読み方」#Color[255,255,255,255]"
        "は、とても難しいですね。それでも毎日少しずつ練習します。\n";
    std::string text;
    while (text.size() < 1600) text += sentence;
    return text;
}

int g_passes = 0;
void CountPass(const ConstBuf&, uint32_t) { ++g_passes; }

// Heaps, fonts, the atlas (and with GL the text programs), one message text
// drawn once so that every glyph is in the cache.
// One character a line: 768 lines, 767 line breaks, 1535 bytes.
std::string CentredLines() {
    std::string text;
    for (int i = 0; i < 767; ++i) text += "A\n";
    return text + "A";
}

TextRecord* Setup(benchmark::State& state, bool gl, const std::string& text = Message()) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 16 * mib, 2 * mib, 2 * mib, 128 * mib};
    if (!Lib_MemInit(sizes)) {
        state.SkipWithError("heaps");
        return nullptr;
    }
    if (gl) {
        Lib_FontInit();
    } else {
        Lib_TextTableClear();
        Lib_FontStateClear();
        std::memset(GlyphCache, 0, sizeof GlyphCache);
        TextRenderState.atlas = nullptr;
        Lib_GlyphAtlasReset();
    }
    std::string picture(kAddGlyphHeader + 16 * kAddGlyphCellBytes, '\0');
    std::memcpy(picture.data(), "EXT0", 4);
    if (!LoadImage(0, ReadFile(kMainFace)) || !LoadImage(1, picture) || !LoadImage(2, ReadFile(kAltFace))) {
        state.SkipWithError("IPA fonts not installed");
        return nullptr;
    }
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    const TextPos pos{40, -40, 0};
    int32_t slot = Lib_TextSet(0, text.c_str(), &pos);
    TextRecord* r = slot >= 0 ? TextTable[slot] : nullptr;
    if (!r) {
        state.SkipWithError("no text object");
        return nullptr;
    }
    r->scaleX = r->scaleY = 0.5f;
    r->rubySpace = 1;
    if (gl) Lib_FrameBind(*Lib_GetRenderer());
    Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));  // warm: every glyph made
    return r;
}

void Teardown(bool gl) {
    if (gl) {
        Lib_TextDrawRelease();
        Lib_FontEnd();
    } else {
        for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
        for (void*& image : TextRenderState.images) image = nullptr;
        Lib_FontRelease();
    }
    Lib_MemRelease();
}

void BM_MessageLayoutDraw(benchmark::State& state) {
    if (!StartGraphics()) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    Lib_TextOpsSet(nullptr);
    TextRecord* r = Setup(state, true);
    if (r) {
        for (auto _ : state) {
            Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
            state.PauseTiming();
            glFinish();
            state.ResumeTiming();
        }
        state.counters["bytes"] = double(std::strlen(r->text));
        state.counters["rubies"] = double(std::count_if(r->ruby, r->ruby + kTextRubyMax, [](TextRecord* c) { return c; }));
    }
    Teardown(true);
}
BENCHMARK(BM_MessageLayoutDraw)->Unit(benchmark::kMicrosecond);

// Layout with the passes counted, not drawn.
void CountingOps() {
    TextOps ops{};
    ops.pass = CountPass;
    ops.glyphBegin = [](uint32_t, uint32_t) {};
    ops.flush = [] {};
    ops.scissor = [](const ScissorRect&) {};
    ops.bufferCreate = [](const TextVertex*) { return 0u; };
    ops.bufferRelease = [](uint32_t) {};
    Lib_TextOpsSet(&ops);
    Lib_GlyphTextureOpsSet(nullptr);
    static const GlyphTextureOps noTextures = {[](uint32_t, uint32_t, uint32_t, const void*) { return 1u; },
                                               [](uint32_t) {}};
    Lib_GlyphTextureOpsSet(&noTextures);
}

// Layout passes of one text without drawing (the glyph and draw calls only counted).
void LayoutNoDraw(benchmark::State& state, TextRecord* r) {
    if (r) {
        for (auto _ : state) {
            g_passes = 0;
            Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
            benchmark::DoNotOptimize(g_passes);
        }
        state.counters["passes"] = g_passes;
    }
    Teardown(false);
    Lib_GlyphTextureOpsSet(nullptr);
    Lib_TextOpsSet(nullptr);
}

void BM_MessageLayoutNoDraw(benchmark::State& state) {
    CountingOps();
    LayoutNoDraw(state, Setup(state, false));
}
BENCHMARK(BM_MessageLayoutNoDraw)->Unit(benchmark::kMicrosecond);

void BM_CentredLinesNoDraw(benchmark::State& state) {
    CountingOps();
    TextRecord* r = Setup(state, false, CentredLines());
    if (r) r->renderFlags = TEXT_ALIGN_CENTRE;
    LayoutNoDraw(state, r);
}
BENCHMARK(BM_CentredLinesNoDraw)->Unit(benchmark::kMicrosecond);

}  // namespace
