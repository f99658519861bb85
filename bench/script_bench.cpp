#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "tests/script/story_stand_in.h"

namespace {

// 1,000 tags of mixed names with 0 to 6 arguments, none of them waiting.
std::string MixedTags() {
    static const char* const kNames[] = {"text", "name", "image", "playse", "label", "eval", "move", "wt"};
    std::string s;
    for (int i = 0; i < 1000; ++i) {
        s += "<";
        s += kNames[i % 8];
        for (int a = 0; a < i % 7; ++a) {
            s += a ? "," : " ";
            if (a % 2) s += "x:";
            s += std::to_string(i * 7 + a);
        }
        s += ">\r\n";
        if (i % 10 == 0) s += "; a comment line\r\n";
    }
    return s;
}

// One frame of the interpreter running 1,000 tags with empty handlers. The
// counter "core60" is the share of one core at 60 frames per second.
void BM_ScriptFrame1000Tags(benchmark::State& state) {
    const std::string text = MixedTags();
    auto w = std::make_unique<ScriptTaskWork>();
    std::memset(static_cast<void*>(w.get()), 0, sizeof *w);
    std::strcpy(w->fileName, "bench.txt");
    w->context.script = &w->script;
    w->script.text = text.data();
    w->script.size = uint32_t(text.size());
    // The interpreter's share alone: every name found, no handler's work.
    std::vector<CommandEntry> table(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
    for (CommandEntry& e : table) e.handler = [](CommandContext*) {};
    GSL_ScriptCommandTableSet(table.data());
    for (auto _ : state) {
        w->script.nextOffset = 0;
        w->script.status = SCRIPT_STARTED;
        for (int i = 0; i < 1000; ++i) GSL_ScriptStep(&w->script);
        benchmark::DoNotOptimize(w->script.status);
    }
    GSL_ScriptCommandTableSet(nullptr);
    state.counters["core60"] = benchmark::Counter(double(state.iterations()) / 60.0,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScriptFrame1000Tags);

int32_t g_task = -1;

// Skip mode with the next keywait 200 KB ahead: each frame reads one more
// tag and asks the skip test 100 times.
void BM_ScriptSkipTest100(benchmark::State& state) {
    const uint64_t sizes[HEAP_COUNT] = {4u << 20, 1u << 20, 1u << 20, 1u << 20, 1u << 20};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heap or scheduler start-up failed");
        return;
    }
    std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
    std::memset(static_cast<void*>(&SystemDataBlock), 0, sizeof SystemDataBlock);
    std::strcpy(GameStateBlock.scriptName, "bench.txt");
    g_task = GSL_ScriptTaskSet();
    std::string text;
    while (text.size() < 200 * 1024) text += "<text \x82\xA0\x82\xA2\x82\xA4 and some words>\r\n";
    text += "<keywait 17>\r\n";
    ScriptTaskWork* w = GSL_ScriptTaskWork(g_task);
    w->script.text = text.data();
    w->script.size = uint32_t(text.size());
    StoryStandIn standIn;
    standIn.Work().tasks[0] = g_task;
    standIn.Present(true);
    StoryPlayMode = PLAY_SKIP;
    bool skip = false;
    for (auto _ : state) {
        w->script.readOffset = (w->script.readOffset + 40) % 4096;
        for (int i = 0; i < 100; ++i) skip ^= GSL_IsSkip();
        benchmark::DoNotOptimize(skip);
    }
    state.counters["core60"] = benchmark::Counter(double(state.iterations()) / 60.0,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    StoryPlayMode = 0;
    standIn.Present(false);
    Lib_MemRelease();
}
BENCHMARK(BM_ScriptSkipTest100);

}  // namespace
