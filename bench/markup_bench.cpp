// Message-text markup conversion of a 1535-byte Japanese message (a speech in
// corner brackets, about 15 lines, ruby, two size changes, a colour) with the
// IPA fonts and a warm glyph cache, nothing drawn. "Convert" is the whole
// conversion; "MeasureOnly" measures the same growing lines of the converted
// text with Lib_TextMeasure once per visible character, the measuring the
// conversion cannot avoid. Their ratio is the conversion's own overhead; the
// conversion's time over 16.667 ms is its share of one 60 Hz frame.
// "LongLine" converts one 1,500-byte line that never wraps (the converter
// appends and measures it a character at a time); "LongLineOnce" measures the
// converted line once. Their ratio says whether the converter's measuring
// grows with what it appends (a small ratio) or with the whole line for every
// character (hundreds).
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
#include "bench/markup_bench_env.h"

namespace {

using namespace markup_bench;

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

// A 1,500-byte line of plain speech, one window line wide enough to hold it.
std::string LongLine() {
    std::string text;
    const std::string sentence = "今日は朝から雨が降っていたので、駅まで歩いて行きました。";
    while (text.size() + sentence.size() <= 1500) text += sentence;
    while (text.size() < 1500) text += "!";
    return text;
}
constexpr float kLongColumns = 2000.0f;

void BM_MarkupLongLine(benchmark::State& state) {
    if (Setup(state)) {
        const std::string in = LongLine();
        for (auto _ : state) {
            GSL_MarkupConvert(&g_ctx, in.c_str(), g_out, sizeof g_out, false, kLongColumns, 0.0f);
            benchmark::DoNotOptimize(g_out);
        }
        state.counters["out_bytes"] = double(std::strlen(g_out));
        state.counters["breaks"] = double(std::string(g_out).find("#n") == std::string::npos ? 0 : 1);
    }
    Teardown();
}
BENCHMARK(BM_MarkupLongLine)->Unit(benchmark::kMicrosecond);

void BM_MarkupLongLineOnce(benchmark::State& state) {
    if (Setup(state)) {
        const std::string in = LongLine();
        GSL_MarkupConvert(&g_ctx, in.c_str(), g_out, sizeof g_out, false, kLongColumns, 0.0f);
        const TextScale scale{0.5f, 0.5f};
        const TextSpacing none{0, 0};
        for (auto _ : state) {
            TextRect r{};
            Lib_TextMeasure(&r, g_out, &scale, &none, 0, 0);
            benchmark::DoNotOptimize(r);
        }
    }
    Teardown();
}
BENCHMARK(BM_MarkupLongLineOnce)->Unit(benchmark::kMicrosecond);

}  // namespace
