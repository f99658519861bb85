// The picture commands and the staff roll, on the headless GL context:
//  (a) `image` of a cached 1280×720 picture on the fore page, from the tag to
//      the first frame that draws it, against Lib_SpriteLoad of the same
//      cached file into a free slot to its first drawn frame (each frame: the
//      loader pass, the task passes, the draw walk and glFinish; the
//      counters split a run's milliseconds into the three);
//  (b) one staff-roll frame that moves 72 credit objects with a ruby child
//      each (the text drawing stubbed out, so GL is excluded); the time over
//      16.667 ms is the share of one core at 60 frames per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "bench/script_arc_bench.h"
#include "bench/sprite_scene_bench.h"
#include "app/main_tasks.h"
#include "engine/core/task.h"
#include "engine/files/file_loader.h"
#include "engine/render/sprite_load.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "script/game_blocks.h"
#include "script/picture_cmds.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/staffroll.h"
#include "script/syntax.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"

namespace {

constexpr char kPicture[] = "visual/adv/bench.ext";

std::string Ext0(int32_t w, int32_t h) {
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = char(32);
    f.reserve(f.size() + size_t(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) f += std::string{char(x), char(y), char(x + y), char(255)};
    return f;
}

// A story context with an idle script task, the picture cached (tag 2, never
// flushed) and a named cache large enough for pictures to load.
struct Stage {
    bool ok = false;
    sprite_bench::SpriteScene scene;
    Stage() {
        if (!scene.ok) return;
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 16 * mib, 24 * mib, 160 * mib, 256 * mib};
        if (!Lib_MemInit(sizes) || !Lib_TaskInit()) return;
        Main_ScreenCallsSet();
        for (ModeFunction& m : ModeStack) m = nullptr;
        for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
        ModeStack[0] = GSL_StoryModeCB;
        GSL_WorkCreate();
        ScreenWork* story = GSL_WorkGet(GSL_StoryModeCB);
        if (!story) return;
        story->step = STORY_STEP_SETUP;
        const std::string bytes = Ext0(1280, 720);
        void* data = Lib_CashAlloc(kPicture, bytes.size(), 256);
        if (!data) return;
        std::memcpy(data, bytes.data(), bytes.size());
        CacheEntry* e = Lib_CashEntryOf(data, 256);
        e->tag = 2;
        Lib_CashSetComplete(e);
        if (!script_bench::CacheOneMemberScriptArc("<label>\r\n")) return;
        GameState& g = GameStateBlock;
        std::memset(static_cast<void*>(&g), 0, sizeof g);
        std::memset(static_cast<void*>(&SystemDataBlock), 0, sizeof SystemDataBlock);
        GSL_StageReset(&g.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
        std::strcpy(g.scriptName, "bench.txt");
        story->tasks[0] = GSL_ScriptTaskSet();
        if (story->tasks[0] < 0) return;
        for (int i = 0; i < 3; ++i) Frame();
        ok = true;
    }
    ~Stage() {
        GSL_WorkDeleteAll();
        Lib_TaskPass(true);
        for (int32_t slot = 2; slot < kTaskSlots; ++slot) Lib_TaskDel(uint32_t(slot));
        for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
    }
    static inline double tTask = 0, tDraw = 0, tLoad = 0;
    static void Frame() {
        auto t0 = std::chrono::steady_clock::now();
        Lib_FileLoadCB(nullptr);
        auto t1 = std::chrono::steady_clock::now();
        Lib_TaskPass(true);
        Lib_TaskPass(false);
        auto t2 = std::chrono::steady_clock::now();
        Lib_FrameBind(*Lib_GetRenderer());
        Lib_DrawWalk();
        glFinish();
        auto t3 = std::chrono::steady_clock::now();
        tLoad += std::chrono::duration<double, std::milli>(t1 - t0).count();
        tTask += std::chrono::duration<double, std::milli>(t2 - t1).count();
        tDraw += std::chrono::duration<double, std::milli>(t3 - t2).count();
    }
};

bool Drawn(int32_t id) {
    const SpriteRecord* s = Lib_SpriteAt(id);
    return s && (s->flags & SPRITE_READY) && s->visible;
}

// Both requests are made from a task at the script task's priority, as a
// script's tag is: the frame that makes the request counts.
CommandContext* g_ctx = nullptr;
int32_t g_loaded = -1;
bool g_load = false;

int32_t ImageCaller(void*) {
    if (g_ctx && g_ctx->step != 999) GSL_CmdImage(g_ctx);
    return 0;
}
int32_t LoadCaller(void*) {
    if (g_load) {
        g_load = false;
        g_loaded = Lib_SpriteLoad(-1, kPicture, -1, 1);
        if (SpriteRecord* s = Lib_SpriteAt(g_loaded)) s->visible = 1;
    }
    return 0;
}

void BM_ImageCachedToFirstFrame(benchmark::State& state) {
    Stage stage;
    if (!stage.ok) {
        state.SkipWithError("no headless OpenGL context or story stage");
        return;
    }
    const std::string text = "<image base,fore,bench>\r\n<text x>\r\n";
    ScriptState script{};
    script.text = text.data();
    script.size = uint32_t(text.size());
    CommandContext ctx{};
    ctx.script = &script;
    ctx.stage = &GameStateBlock.stage;
    ctx.step = CMD_STEP_LAST;
    g_ctx = &ctx;
    GameStateBlock.stage.layerVisible[10] = 1;
    const int32_t caller = Lib_TaskSet("ImageCaller", ImageCaller, 34000, 400, 0);
    char tag[kScriptTagSize];
    int frames = 0;
    for (auto _ : state) {
        uint32_t next = 0;
        GSL_ScriptTagCut(&script, tag, &ctx, &next);
        script.nextOffset = next;
        std::memset(ctx.priv, 0, sizeof ctx.priv);
        ctx.step = CMD_STEP_FIRST;
        int n = 0;
        for (; n < 100; ++n) {
            Stage::Frame();
            if (Drawn(GSL_WorkLayerGet(GSL_StoryModeCB, 10))) break;
        }
        frames = n + 1;
        state.PauseTiming();
        ctx.step = CMD_STEP_LAST;
        GSL_WorkLayerFree(GSL_StoryModeCB, 10);
        GSL_WorkLayerFree(GSL_StoryModeCB, 22);
        state.ResumeTiming();
    }
    Lib_TaskDel(uint32_t(caller));
    g_ctx = nullptr;
    state.counters["frames"] = frames;
    state.counters["load"] = Stage::tLoad / double(state.iterations());
    state.counters["task"] = Stage::tTask / double(state.iterations());
    state.counters["draw"] = Stage::tDraw / double(state.iterations());
    Stage::tLoad = Stage::tTask = Stage::tDraw = 0;
}

void BM_SpriteLoadCachedToFirstFrame(benchmark::State& state) {
    Stage stage;
    if (!stage.ok) {
        state.SkipWithError("no headless OpenGL context or story stage");
        return;
    }
    const int32_t caller = Lib_TaskSet("LoadCaller", LoadCaller, 34000, 400, 0);
    int frames = 0;
    for (auto _ : state) {
        g_load = true;
        g_loaded = -1;
        int n = 0;
        for (; n < 100; ++n) {
            Stage::Frame();
            if (Drawn(g_loaded)) break;
        }
        frames = n + 1;
        state.PauseTiming();
        Lib_SpriteFree(g_loaded);
        state.ResumeTiming();
    }
    Lib_TaskDel(uint32_t(caller));
    state.counters["frames"] = frames;
    state.counters["load"] = Stage::tLoad / double(state.iterations());
    state.counters["task"] = Stage::tTask / double(state.iterations());
    state.counters["draw"] = Stage::tDraw / double(state.iterations());
    Stage::tLoad = Stage::tTask = Stage::tDraw = 0;
}

// (b): 72 credits, each with a ruby child, laid out by the roll itself.
void BM_StaffrollFrame72(benchmark::State& state) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 4 * mib, 24 * mib, 8 * mib, 8 * mib};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heaps");
        return;
    }
    Lib_CashReset();
    Lib_TextTableClear();
    Main_ScreenCallsSet();
    for (ModeFunction& m : ModeStack) m = nullptr;
    for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
    ModeStack[0] = GSL_StoryModeCB;
    GSL_WorkCreate();
    ScreenWork* story = GSL_WorkGet(GSL_StoryModeCB);
    std::string text = "<label>\r\n<staffroll_start 3600000>\r\n<staffroll_wait>\r\n*text\r\n<label>\r\n";
    for (int i = 0; i < 72; ++i) text += "<font 30>\r\n<text Credit line " + std::to_string(i) + ">\r\n";
    text += "<font>\r\n";
    bool ok = story && script_bench::CacheOneMemberScriptArc(text);
    GameState& g = GameStateBlock;
    std::memset(static_cast<void*>(&g), 0, sizeof g);
    std::memset(static_cast<void*>(&SystemDataBlock), 0, sizeof SystemDataBlock);
    GSL_StageReset(&g.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    std::strcpy(g.scriptName, "bench.txt");
    if (ok) {
        story->step = STORY_STEP_SETUP;
        story->tasks[0] = GSL_ScriptTaskSet();
        for (int i = 0; i < 6; ++i) Lib_TaskPass(false);
    }
    int32_t texts = 0;
    for (int32_t i = 0; i < kTextSlots; ++i) {
        TextRecord* r = TextTable[i];
        if (!r) continue;
        ++texts;
        // A ruby child on every credit.
        TextRecord* child = nullptr;
        const TextPos at{r->x, r->y + 20, 0};
        Lib_TextObjCreate(&child, "ruby", &at);
        r->ruby[0] = child;
    }
    if (!ok || texts < 72 || GSL_StaffrollTaskGet() < 0) state.SkipWithError("the roll did not set up");
    const int32_t roll = GSL_StaffrollTaskGet();
    state.counters["roll"] = roll;
    for (auto _ : state) Lib_TaskPass(false);  // the roll, its transition and the waiting script
    state.counters["texts"] = texts;
    GSL_WorkDeleteAll();
    Lib_TaskPass(true);
    for (int32_t slot = 2; slot < kTaskSlots; ++slot) Lib_TaskDel(uint32_t(slot));
    for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
    Lib_CashReset();
    Lib_MemRelease();
}

BENCHMARK(BM_ImageCachedToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SpriteLoadCachedToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StaffrollFrame72)->Unit(benchmark::kMicrosecond)->Iterations(50000);

}  // namespace
