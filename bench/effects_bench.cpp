// The effect tasks' share of a frame: 24 running moves (12 on each page)
// and both quakes, stepped by the scheduler as the frame driver does.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/script_arc_bench.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"

namespace {

int32_t g_task = -1;
int32_t g_layers[24];

struct Env {
    bool ok = false;
    Env() {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 2 * mib, 4 * mib, 8 * mib, 2 * mib};
        Lib_CashReset();
        if (!Lib_MemInit(sizes) || !Lib_TaskInit()) return;
        Lib_CashReset();
        const std::string text = "<keywait 99999>\r\n";
        if (!script_bench::CacheOneMemberScriptArc(text)) return;
        for (int32_t i = 0; i < 24; ++i) {
            g_layers[i] = 100 + i;
            SpriteRecord& s = SpriteTable[g_layers[i]];
            std::memset(static_cast<void*>(&s), 0, sizeof s);
            s.flags = SPRITE_IN_USE | SPRITE_READY;
            s.scaleX = s.scaleY = s.scaleZ = 1.0f;
        }
        ScriptHost = ScriptHostTable{};
        ScriptHost.storyTask = [] { return g_task; };
        ScriptHost.storyPresent = [] { return g_task >= 0; };
        ScriptHost.storyLayerSprite = [](int32_t slot) { return slot >= 0 && slot < 24 ? g_layers[slot] : -1; };
        GameState& g = GameStateBlock;
        std::memset(static_cast<void*>(&g), 0, sizeof g);
        GSL_StageReset(&g.stage, 7);
        std::strcpy(g.scriptName, "bench.txt");
        g_task = GSL_ScriptTaskSet();
        Lib_TaskPass(false);
        Lib_TaskPass(false);
        ok = g_task >= 0;
    }
    ~Env() {
        for (int32_t i = 0; i < 24; ++i) std::memset(static_cast<void*>(&SpriteTable[g_layers[i]]), 0, sizeof(SpriteRecord));
        ScriptHost = ScriptHostTable{};
        g_task = -1;
        Lib_CashReset();
        Lib_MemRelease();
    }
};

// One frame with 24 moves and both quakes; the share of one core at 60
// frames per second is the frame time over 16,667 us.
// (The effects are set up outside the timing and outlast it.)
void BM_EffectFrame24MovesTwoQuakes(benchmark::State& state) {
    Env env;
    if (!env.ok) return state.SkipWithError("set-up failed");
    StageRecord* stage = &GameStateBlock.stage;
    for (int32_t i = 0; i < 24; ++i) MoveSet(stage, i < 12 ? 0 : 12, i % 12, 500.0f, 300.0f, 0.0f, 100000000);
    QuakeSet(stage, 0, 0, 12, -1);
    QuakeSet(stage, 1, 0, 12, -1);
    Lib_TaskPass(false);
    for (auto _ : state) Lib_TaskPass(false);
    int32_t moves = 0;
    for (int32_t i = 0; i < 24; ++i) moves += GSL_EffectTaskGet(stage->moveTask, i, MoveCB) >= 0;
    state.counters["moves_running"] = moves;
    state.counters["quakes_running"] = (stage->quakeTask[0] >= 0) + (stage->quakeTask[1] >= 0);
}
BENCHMARK(BM_EffectFrame24MovesTwoQuakes)->Unit(benchmark::kMicrosecond);

}  // namespace
