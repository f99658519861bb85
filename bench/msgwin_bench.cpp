// One frame of a keywait on a fully shown 1,535-byte message (the markup
// benchmark's speech, converted): the wait measures the end-of-text position
// for its icon every frame (the whole message and then its last line, as the
// icon placement does) and asks for a confirm. The time over 16.667 ms is
// the share of one core at 60 frames per second.
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
#include "script/message.h"

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

void BM_KeywaitFrame(benchmark::State& state) {
    if (Setup(state)) {
        const std::string text = g_out;
        const size_t lastLine = text.rfind("#n");
        const std::string last = lastLine == std::string::npos ? text : text.substr(lastLine + 2);
        g_stage.messageInput = 1;
        const TextScale scale{1.0f, 1.0f};
        const TextSpacing spacing{0, 19};
        for (auto _ : state) {
            TextRect whole{}, line{};
            Lib_TextMeasure(&whole, text.c_str(), &scale, &spacing, 0, 0);
            Lib_TextMeasure(&line, last.c_str(), &scale, &spacing, 0, 0);
            benchmark::DoNotOptimize(whole);
            benchmark::DoNotOptimize(line);
            benchmark::DoNotOptimize(GSL_FlagCheck(&g_ctx, 1, 10));
        }
        state.counters["bytes"] = double(text.size());
    }
    Teardown();
}
BENCHMARK(BM_KeywaitFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
