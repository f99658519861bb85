// Message-text markup conversion of a 1535-byte Japanese message (a speech in
// corner brackets, about 15 lines, ruby, two size changes, a colour) with the
// IPA fonts and a warm glyph cache, nothing drawn. "Convert" is the whole
// conversion; "MeasureOnly" measures the same growing lines of the converted
// text with Lib_TextMeasure once per visible character, the measuring the
// conversion cannot avoid. Their ratio is the conversion's own overhead; the
// conversion's time over 16.667 ms is its share of one 60 Hz frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/charcode.h"
#include "engine/core/heap.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "script/markup.h"

namespace {

constexpr const char* kMainFace = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

std::string Message() {
    std::string text = "「/ruby:漢字&かんじ/の読み方は、/size:0.6&0.6/とても/size:0.5&0.5/難しいですね。";
    text += "/color:FF8000/それでも毎日少しずつ練習します。/color:-1/";
    const std::string sentence = "今日は朝から雨が降っていたので、駅まで歩いて行きました。午後には晴れて、公園の桜がきれいでした。";
    while (text.size() + sentence.size() <= 1532) text += sentence;
    while (text.size() + 3 <= 1532) text += "、";
    while (text.size() < 1532) text += "!";
    return text + "」";  // 1535 bytes
}

StageRecord g_stage{};
CommandContext g_ctx{};
char g_out[kMarkupSize];

bool Setup(benchmark::State& state) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 16 * mib, 2 * mib, 2 * mib, 128 * mib};
    Lib_CashReset();
    if (!Lib_MemInit(sizes)) {
        state.SkipWithError("heaps");
        return false;
    }
    static TextOps ops{};
    ops.pass = [](const ConstBuf&, uint32_t) {};
    ops.glyphBegin = [](uint32_t, uint32_t) {};
    ops.flush = [] {};
    ops.scissor = [](const ScissorRect&) {};
    ops.bufferCreate = [](const TextVertex*) { return 0u; };
    ops.bufferRelease = [](uint32_t) {};
    Lib_TextOpsSet(&ops);
    static const GlyphTextureOps noTextures = {[](uint32_t, uint32_t, uint32_t, const void*) { return 1u; },
                                               [](uint32_t) {}};
    Lib_GlyphTextureOpsSet(&noTextures);
    Lib_TextTableClear();
    Lib_FontStateClear();
    std::memset(GlyphCache, 0, sizeof GlyphCache);
    TextRenderState.atlas = nullptr;
    Lib_GlyphAtlasReset();
    const std::string face = ReadFile(kMainFace);
    if (face.empty()) {
        state.SkipWithError("IPA fonts not installed");
        return false;
    }
    void* p = Lib_MemAlloc(HEAP_GRAPHICS, face.size(), 0x4000);
    std::memcpy(p, face.data(), face.size());
    TextRenderState.images[0] = p;
    TextRenderState.sizes[0] = uint32_t(face.size());
    Lib_FontCreate(p, uint32_t(face.size()));
    g_stage = StageRecord{};
    g_stage.textSizeX = g_stage.textSizeY = 0.5f;
    g_ctx.stage = &g_stage;
    SystemDataBlock.language = 0;
    GSL_MarkupConvert(&g_ctx, Message().c_str(), g_out, sizeof g_out, true, -1.0f, 0.0f);  // warm
    return true;
}

void Teardown() {
    for (void*& image : TextRenderState.images) image = nullptr;
    Lib_FontRelease();
    Lib_MemRelease();
    Lib_GlyphTextureOpsSet(nullptr);
    Lib_TextOpsSet(nullptr);
}

void BM_MarkupConvert(benchmark::State& state) {
    if (Setup(state)) {
        const std::string in = Message();
        for (auto _ : state) {
            GSL_MarkupConvert(&g_ctx, in.c_str(), g_out, sizeof g_out, true, -1.0f, 0.0f);
            benchmark::DoNotOptimize(g_out);
        }
        state.counters["in_bytes"] = double(in.size());
        state.counters["out_bytes"] = double(std::strlen(g_out));
    }
    Teardown();
}
BENCHMARK(BM_MarkupConvert)->Unit(benchmark::kMicrosecond);

// The converted text's lines measured from their start once per visible character.
void BM_MarkupMeasureOnly(benchmark::State& state) {
    if (Setup(state)) {
        const std::string text = g_out;
        static char line[kMarkupSize];
        int64_t measures = 0;
        for (auto _ : state) {
            measures = 0;
            size_t start = 0;
            for (size_t i = 0; i < text.size();) {
                if (text[i] == '#' && i + 1 < text.size()) {
                    if (text[i + 1] == 'n') {
                        i += 2;
                        start = i;
                        continue;
                    }
                    const size_t close = text.find(']', i);
                    i = close == std::string::npos ? text.size() : close + 1;
                    continue;
                }
                i += Lib_CharLen(text.c_str() + i);
                std::memcpy(line, text.data() + start, i - start);
                line[i - start] = 0;
                const TextScale scale{0.5f, 0.5f};
                const TextSpacing none{0, 0};
                TextRect r{};
                Lib_TextMeasure(&r, line, &scale, &none, 0, 0);
                benchmark::DoNotOptimize(r);
                ++measures;
            }
        }
        state.counters["measures"] = double(measures);
    }
    Teardown();
}
BENCHMARK(BM_MarkupMeasureOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
