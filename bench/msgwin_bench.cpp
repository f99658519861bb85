// One frame of a keywait on a fully shown 1,535-byte message (the markup
// benchmark's speech, converted): the wait measures the end-of-text position
// for its icon every frame (the whole message and then its last line, as the
// icon placement does) and asks for a confirm; the scroll bar, watching,
// measures the same end once more (its worst case: a bar not yet shown
// measures every frame, a shown one only reads the keys and the pointer).
// The time over 16.667 ms is the share of one core at 60 frames per second.
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
#include "bench/markup_bench_env.h"

namespace {

using namespace markup_bench;

void BM_KeywaitFrame(benchmark::State& state) {
    if (Setup(state)) {
        const std::string text = g_out;
        const size_t lastLine = text.rfind("#n");
        const std::string last = lastLine == std::string::npos ? text : text.substr(lastLine + 2);
        g_stage.messageInput = 1;
        const TextScale scale{1.0f, 1.0f};
        const TextSpacing spacing{0, 19};
        for (auto _ : state) {
            for (int watcher = 0; watcher < 2; ++watcher) {  // the icon, then the scroll bar
                TextRect whole{}, line{};
                Lib_TextMeasure(&whole, text.c_str(), &scale, &spacing, 0, 0);
                Lib_TextMeasure(&line, last.c_str(), &scale, &spacing, 0, 0);
                benchmark::DoNotOptimize(whole);
                benchmark::DoNotOptimize(line);
            }
            benchmark::DoNotOptimize(GSL_FlagCheck(&g_ctx, 1, 10));
        }
        state.counters["bytes"] = double(text.size());
    }
    Teardown();
}
BENCHMARK(BM_KeywaitFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
