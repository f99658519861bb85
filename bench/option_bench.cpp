// The option screen:
//  (a) a language switch as the font page makes it, from the list's decision
//      until GSL_ConfigFontWait answers true (the font files loaded, the
//      faces made, the glyph cache reset and the screen's 47 labels and title
//      relabelled), against Lib_FontSet of the same font files and its wait
//      alone. Languages 1 and 2 of the sample alternate. Target: ratio ≤ 1.2.
//  (b) one frame of the screen during its 8-frame list move: the main task
//      pass with the 53 item sprites and 47 item texts moving (100 move
//      tasks and their number transitions), the six key tasks and the mode
//      task's step, without drawing. The move restarts every 8 frames (the
//      cursor between items 0 and 9), as a held key would. Its time as a
//      share of one core at 60 frames a second is the counter "core_share"
//      (target ≤ 1%). A second run leaves the frame that starts the move
//      (its 400 task registrations) out of the timing.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/screen_scene_bench.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/movie/movie.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "screens/option.h"
#include "screens/option_items.h"
#include "story/config.h"
#include "story/game_state.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

namespace {
using screen_bench::kMiB;

constexpr uint64_t kSizes[HEAP_COUNT] = {96 * kMiB, 96 * kMiB, 8 * kMiB, 96 * kMiB, 128 * kMiB};

struct Bench {
    screen_bench::ScreenScene scene{kSizes};
    bool ok = scene.ok;
};

// The screen as its build step leaves it, on image-less sprites.
OptionWork* Screen() {
    ModeStack[0] = GSL_OptionModeCB;
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    auto* o = static_cast<OptionWork*>(Lib_MemAlloc(2, sizeof(OptionWork), 8));
    if (!w || !o) return nullptr;
    std::memset(o, 0xFF, sizeof *o);
    o->heap = 2;
    o->cursor = o->previousCursor = o->scrollTop = o->angle = 0;
    o->barDrag = 0;
    o->dragApplied = o->barDragApplied = 0;
    w->words[0] = uint64_t(uintptr_t(o));
    for (uint32_t slot : {0u, 1u, 2u}) GSL_WorkLayerLoad(nullptr, slot, -1, nullptr, -1, 0, nullptr, nullptr);
    const uint32_t masks[6] = {0x1000, 0x4000, 0x2000, 0x8000, 0x1000, 0x4000};
    const int32_t intervals[6] = {1, 1, 5, 5, 5, 5};
    for (int i = 0; i < 6; ++i) o->keys[i] = GSL_SystemKeySet(masks[i], intervals[i]);
    GSL_OptionBuildItems();
    GSL_OptionDrawItems(1);
    w->step = OPTION_MAIN;
    return o;
}

// started: the frame that starts the move (100 move tasks, each with its
// number transitions) is timed too; 0: only the frames of the move itself.
void OptionFrames(benchmark::State& state, bool started) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL");
        return;
    }
    OptionWork* o = Screen();
    if (!o) {
        state.SkipWithError("no screen");
        return;
    }
    int64_t frame = 0, moves = 0;
    for (auto _ : state) {
        if (frame++ % 8 == 0) {
            if (!started) state.PauseTiming();
            o->cursor = o->cursor == 0 ? 9 : 0;
            GSL_OptionScroll();
            moves += o->moveTask >= 0;
            if (!started) state.ResumeTiming();
        }
        Lib_TaskPass(false);
    }
    state.counters["moves"] = double(moves);
    state.counters["core_share"] = benchmark::Counter(double(state.iterations()) / 60.0,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    GSL_WorkDeleteAll();
}
struct FontBench : Bench {
    std::filesystem::path old;
    bool fonts = false;
    FontBench() {
        ok = ok && !screen_bench::SampleDir().empty();
        if (!ok) return;
        old = std::filesystem::current_path();
        std::filesystem::current_path(screen_bench::SampleDir());
        Lib_PcArcOpen();
        Lib_MesSystemLoad();
        Lib_MesLoad();
        fonts = Lib_FontInit();
        ok = Lib_PcArcExists(0) && fonts;
    }
    ~FontBench() {
        GSL_WorkDeleteAll();
        if (FontLoadTask >= 0) Lib_TaskDel(uint32_t(FontLoadTask));
        FontLoadTask = -1;
        if (fonts) Lib_FontEnd();
        Lib_MesFree();
        Lib_MesSystemFree();
        Lib_PcArcClose();
        if (!old.empty()) std::filesystem::current_path(old);
    }
};

void Pass() {
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
}

void BM_LanguageSwitch(benchmark::State& state) {
    FontBench b;
    if (!b.ok || !Screen()) {
        state.SkipWithError("no headless GL, sample or fonts");
        return;
    }
    SystemDataBlock.language = 1;
    FontReloadPending = -1;
    GSL_ConfigApply(false);
    while (!GSL_ConfigFontWait()) Pass();
    int32_t language = 1;
    for (auto _ : state) {
        language = 3 - language;
        SystemDataBlock.language = int8_t(language);
        FontUserFace[0] = 0;
        SystemDataBlock.fontName[0] = 0;
        GSL_ConfigApply(false);
        while (!GSL_ConfigFontWait()) Pass();
    }
    state.SetLabel(TextLanguage.load() == language ? "switched" : "not switched");
}

void BM_FontSetAlone(benchmark::State& state) {
    FontBench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL, sample or fonts");
        return;
    }
    int32_t language = 1;
    for (auto _ : state) {
        language = 3 - language;
        char name[32];
        std::snprintf(name, sizeof name, "font_%02d.ttf", int(language));
        const int32_t task = Lib_FontSet(name, "font_add_00.ext");
        auto* w = task >= 0 ? static_cast<FontLoadWork*>(TaskTable.slots[task]->work) : nullptr;
        while (w && w->result == 0) Pass();
        if (task >= 0) Lib_TaskDel(uint32_t(task));
    }
}
BENCHMARK(BM_LanguageSwitch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FontSetAlone)->Unit(benchmark::kMillisecond);

void BM_OptionFrameDuringListMove(benchmark::State& state) { OptionFrames(state, true); }
void BM_OptionMoveFramesOnly(benchmark::State& state) { OptionFrames(state, false); }
BENCHMARK(BM_OptionFrameDuringListMove)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OptionMoveFramesOnly)->Unit(benchmark::kMicrosecond);
}  // namespace
