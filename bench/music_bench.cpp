// The music room and the special-scenario menu on the sample's data, every
// track and entry unlocked; one main-step frame each (every task of the
// pass, nothing drawn), "core_share_60fps" being the frame's time as a share
// of 1/60 s:
//  (a) the music room with a track playing on channel 0, the icon task, the
//      16 titles following their buttons and the pointer over the list;
//  (b) the special menu with the pointer moving over the grid.
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
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "engine/files/message_table.h"
#include "extras/extras_screens.h"
#include "extras/music_room.h"
#include "extras/special_menu.h"
#include "platform/plat_gl.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "ui/mode.h"

namespace {
using screen_bench::kMiB;

constexpr uint64_t kSizes[HEAP_COUNT] = {16 * kMiB, 64 * kMiB, 24 * kMiB, 64 * kMiB, 128 * kMiB};

template <ModeFunction kScreen>
struct Bench {
    screen_bench::ScreenScene scene;
    bool ok = false;
    Bench() : scene(kSizes, screen_bench::SampleDir()) {
        if (!scene.ok || screen_bench::SampleDir().empty()) return;
        Lib_MesSystemLoad();
        Lib_MesLoad();
        std::memset(SystemDataBlock.musicUnlock, 0xFF, sizeof SystemDataBlock.musicUnlock);
        for (int32_t i = 0; i < 15; ++i) SystemDataBlock.systemVars[i] = 1;
        ModeStack[0] = kScreen;
        for (int i = 0; i < 2000 && !Main(); ++i) Pass();
        if (!Main()) {
            const ScreenWork* w = GSL_WorkGet(kScreen);
            std::fprintf(stderr, "music bench: stopped at %d/%d\n", w ? w->step : -1, w ? w->subState : -1);
            return;
        }
        ok = true;
    }
    static bool Main() {
        const ScreenWork* w = GSL_WorkGet(kScreen);
        return w && w->step == 2;
    }
    static void Pass() {
        Lib_FileLoadCB(nullptr);
        Lib_SoundWorkPass();
        Lib_TaskPass(false);
    }
};

template <ModeFunction kScreen>
void MainFrame(benchmark::State& state, int32_t y0, int32_t y1) {
    Bench<kScreen> b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or sample data");
        return;
    }
    if (kScreen == GSL_MusicRoomModeCB) {
        MusicHead* h = GSL_MusicHead(GSL_WorkGet(kScreen));
        h->cursor = 0;
        GSL_MusicPlay(h);
        for (int i = 0; i < 10; ++i) Bench<kScreen>::Pass();
    }
    MouseInput.active = 1;
    MouseInput.clickPhase = 0;
    int32_t y = y0;
    for (auto _ : state) {
        // Over the gaps of the list: no hit ends the scan early.
        y = y == y0 ? y1 : y0;
        MouseInput.x = 640;
        MouseInput.y = y;
        Lib_TaskPass(false);
    }
    MouseInput.active = 0;
    state.counters["core_share_60fps"] = benchmark::Counter(
        1.0 / 60.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_MusicRoomMainFrame(benchmark::State& state) { MainFrame<GSL_MusicRoomModeCB>(state, 110, 610); }
void BM_SpecialMenuMainFrame(benchmark::State& state) { MainFrame<GSL_SpecialModeCB>(state, 100, 600); }

BENCHMARK(BM_MusicRoomMainFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpecialMenuMainFrame)->Unit(benchmark::kMicrosecond);
}  // namespace
