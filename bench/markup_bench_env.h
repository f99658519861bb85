// The markup and message-window benchmarks' common ground: a 1,535-byte
// Japanese speech with ruby, size and colour markup, the text renderer on the
// IPA Gothic face with counting stand-ins for GL, and the conversion warmed
// once.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "script/markup.h"

namespace markup_bench {

inline constexpr const char* kMainFace = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

inline std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

inline std::string Message() {
    std::string text = "「/ruby:漢字&かんじ/の読み方は、/size:0.6&0.6/とても/size:0.5&0.5/難しいですね。";
    text += "/color:FF8000/それでも毎日少しずつ練習します。/color:-1/";
    const std::string sentence = "今日は朝から雨が降っていたので、駅まで歩いて行きました。午後には晴れて、公園の桜がきれいでした。";
    while (text.size() + sentence.size() <= 1532) text += sentence;
    while (text.size() + 3 <= 1532) text += "、";
    while (text.size() < 1532) text += "!";
    return text + "」";  // 1535 bytes
}

inline StageRecord g_stage{};
inline CommandContext g_ctx{};
inline char g_out[kMarkupSize];

inline bool Setup(benchmark::State& state) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 16 * mib, 2 * mib, 2 * mib, 128 * mib};
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

inline void Teardown() {
    for (void*& image : TextRenderState.images) image = nullptr;
    Lib_FontRelease();
    Lib_MemRelease();
    Lib_GlyphTextureOpsSet(nullptr);
    Lib_TextOpsSet(nullptr);
}

}  // namespace markup_bench
