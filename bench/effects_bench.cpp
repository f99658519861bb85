// Stage effects:
//  (a) the effect tasks' share of a frame: 24 running moves (12 on each page)
//      and both quakes, stepped by the scheduler as the frame driver does;
//  (b) a 1280x720 frame during a live page swap (the old page captured again
//      every frame, the new page lifted under it over the black backdrop,
//      the capture drawn through the rule) against the same frame with the
//      capture taken once, on the headless GL context (Mesa's software
//      renderer here); each frame finished (glFinish) inside the timing.
//      Target: live / once <= 1.3.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/script_arc_bench.h"
#include "bench/sprite_scene_bench.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_image.h"
#include "engine/render/sprite_load.h"
#include "engine/render/wipe_draw.h"
#include "platform/plat_gl_api.h"
#include "script/effects.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "shaders/text_programs.h"
#include "tests/script/story_stand_in.h"
#include "ui/wipe.h"

namespace {

int32_t g_task = -1;
std::unique_ptr<StoryStandIn> g_standIn;
int32_t g_layers[24];

struct Env {
    bool ok = false;
    Env() {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 2 * mib, 4 * mib, 8 * mib, 2 * mib};
        if (!Lib_MemInit(sizes) || !Lib_TaskInit()) return;
        const std::string text = "<keywait 99999>\r\n";
        if (!script_bench::CacheOneMemberScriptArc(text)) return;
        for (int32_t i = 0; i < 24; ++i) {
            g_layers[i] = 100 + i;
            SpriteRecord& s = SpriteTable[g_layers[i]];
            std::memset(static_cast<void*>(&s), 0, sizeof s);
            s.flags = SPRITE_IN_USE | SPRITE_READY;
            s.scaleX = s.scaleY = s.scaleZ = 1.0f;
        }
        g_standIn = std::make_unique<StoryStandIn>();
        for (int32_t i = 0; i < 24; ++i) g_standIn->Work().layers[i].handle = g_layers[i];
        g_standIn->Present(true);
        GameState& g = GameStateBlock;
        std::memset(static_cast<void*>(&g), 0, sizeof g);
        GSL_StageReset(&g.stage, 7);
        std::strcpy(g.scriptName, "bench.txt");
        g_task = GSL_ScriptTaskSet();
        g_standIn->Work().tasks[0] = g_task;
        Lib_TaskPass(false);
        Lib_TaskPass(false);
        ok = g_task >= 0;
    }
    ~Env() {
        for (int32_t i = 0; i < 24; ++i) std::memset(static_cast<void*>(&SpriteTable[g_layers[i]]), 0, sizeof(SpriteRecord));
        g_standIn.reset();
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

// A full-screen 32-bit picture with a colour ramp at `priority`.
int32_t Page(int32_t priority, int32_t seed) {
    const int32_t w = int32_t(kFrameWidth), h = int32_t(kFrameHeight);
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = char(32);
    f.reserve(f.size() + size_t(w) * size_t(h) * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) f += std::string{char(x + seed), char(y), char(x + y), char(255)};
    const int32_t slot = Lib_SpriteGetFree(0);
    SpriteRecord* r = Lib_SpriteAt(slot);
    r->data = Lib_MemAlloc(HEAP_GRAPHICS, f.size(), 256);
    std::memcpy(r->data, f.data(), f.size());
    r->dataSize = uint32_t(f.size());
    Lib_SpriteMakeTexture(slot);
    Lib_SpriteSetPrio(slot, priority, 0);
    r->visible = 1;
    return slot;
}

// The draw list of a live page swap as the wipe lays it out: the old page
// above the capture point (9,000,000), the black backdrop, the lifted new
// page, and the capture drawn through a vertical-ramp rule at 8,500,000.
void SwapFrame(benchmark::State& state, int32_t interval) {
    sprite_bench::SpriteScene scene;
    if (!scene.ok || !(WipeShaders.program || Lib_WipeProgramsCreate())) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    Page(10000000, 0);           // the old page
    Page(10000000 - 1000001, 90);  // the new page, lifted
    const int32_t backdrop = Lib_SpriteLoad(-1, nullptr, -1, 0);
    Lib_SpriteSetFlag(backdrop, 1);
    Lib_SpriteSetPrio(backdrop, 8999999, 100);
    Lib_SpriteSetColor(backdrop, 0xFF000000u);
    WipeWork work{};
    work.capture = Lib_SpriteCreateCapture(0, 9000000, interval);
    work.progress = 256.0f;
    std::vector<uint8_t> rule(size_t(kFrameWidth) * kFrameHeight * 4);
    for (size_t i = 0; i < rule.size(); i += 4) rule[i + 3] = uint8_t(i / 4 / kFrameWidth * 255 / kFrameHeight);
    work.ruleTexture = Lib_SpriteTexCreate(int32_t(kFrameWidth), int32_t(kFrameHeight), false, rule.data());
    Renderer* renderer = *Lib_GetRenderer();
    Lib_FrameBind(renderer);
    Lib_DrawWalk();  // the first capture
    if (work.capture < 0 || Lib_SpriteGetState(work.capture) != 2) {
        state.SkipWithError("no capture");
        return;
    }
    Lib_SpriteSetFlag(work.capture, 1);
    Lib_SpriteSetPrio(work.capture, 8500000, -1);
    Lib_SpriteSetDrawCB(work.capture, GSL_SystemWipeDraw, reinterpret_cast<uint64_t>(&work));
    for (auto _ : state) {
        Lib_FrameBind(renderer);
        Lib_DrawWalk();
        glFinish();
    }
    Lib_SpriteFree(work.capture);
    Lib_WipeTexRelease(&work.ruleTexture);
    state.SetLabel(interval ? "captured every frame" : "captured once");
}
void BM_FrameLiveSwap(benchmark::State& state) { SwapFrame(state, 1); }
void BM_FrameSwapCapturedOnce(benchmark::State& state) { SwapFrame(state, 0); }
BENCHMARK(BM_FrameLiveSwap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameSwapCapturedOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
