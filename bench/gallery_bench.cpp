// The gallery on the sample's data, category 5 fully unlocked (21 cells with
// badges and sway tasks, the bar, the number display):
//  (a) one main-step frame (every task of the pass, nothing drawn) with the
//      pointer moving over the grid, so that the hover scan runs to its end;
//      "core_share_60fps" is the frame's time as a share of 1/60 s;
//  (b) a category change's page build at scale 0 (21 thumbnails from the
//      cached container, badges and sway tasks) against making and freeing
//      the same 21 member sprites with Lib_SpriteLoadGroup2 alone.
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
#include "extras/gallery.h"
#include "extras/gallery_tables.h"
#include "platform/plat_gl.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "ui/mode.h"

namespace {
using screen_bench::kMiB;

constexpr uint64_t kSizes[HEAP_COUNT] = {16 * kMiB, 64 * kMiB, 24 * kMiB, 64 * kMiB, 128 * kMiB};

struct Bench {
    screen_bench::ScreenScene scene;
    bool ok = false;
    Bench() : scene(kSizes, screen_bench::SampleDir()) {
        if (!scene.ok || screen_bench::SampleDir().empty()) return;
        std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
        const GalleryCategory& c5 = GSL_GalleryGetTable()[5];
        int32_t total = 0;
        const int32_t* ids = GSL_GalleryPictureIds(&total);
        const int32_t first = c5.thumbnails[0].firstPicture;
        for (int32_t k = first; k < total; ++k) StoryAccessFlagGal(nullptr, ids[k], 1);
        ModeStack[0] = GSL_GalleryModeCB;
        for (int i = 0; i < 2000 && !Main(); ++i) Pass();
        if (!Main()) {
            const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
            std::fprintf(stderr, "gallery bench: stopped at %d/%d\n", w ? w->step : -1, w ? w->subState : -1);
            return;
        }
        GSL_GalleryHead(GSL_WorkGet(GSL_GalleryModeCB))->category = 5;
        GSL_GalleryDrawPage(1.0f, true);
        ok = true;
    }
    static bool Main() {
        const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
        return w && w->step == 2;
    }
    static void Pass() {
        Lib_FileLoadCB(nullptr);
        Lib_SoundWorkPass();
        Lib_TaskPass(false);
    }
};

void BM_GalleryMainFrame(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or sample data");
        return;
    }
    MouseInput.active = 1;
    MouseInput.clickPhase = 0;
    int32_t x = 100;
    for (auto _ : state) {
        // Over the gaps between the cells: no hit ends the scan early.
        x = x == 100 ? 1200 : 100;
        MouseInput.x = x;
        MouseInput.y = 700;
        Lib_TaskPass(false);
    }
    MouseInput.active = 0;
    // seconds per frame x 60
    state.counters["core_share_60fps"] = benchmark::Counter(
        1.0 / 60.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_GalleryPageBuild(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or sample data");
        return;
    }
    for (auto _ : state) GSL_GalleryDrawPage(0.0f, false);
    state.counters["cells"] = 21;
}

void BM_GalleryMembersAlone(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or sample data");
        return;
    }
    const GalleryCategory& c5 = GSL_GalleryGetTable()[5];
    char names[21][kSpriteMemberNameSize];
    for (int32_t i = 0; i < 21; ++i) GSL_GalleryThumbName(c5.firstThumbnail + i, names[i], sizeof names[i]);
    int32_t sprites[21];
    for (auto _ : state) {
        for (int32_t i = 0; i < 21; ++i) sprites[i] = Lib_SpriteLoadGroup2(-1, kGalleryThumbArc, names[i], -1, 0);
        for (int32_t s : sprites) Lib_SpriteFree(s);
    }
    state.counters["cells"] = 21;
}

BENCHMARK(BM_GalleryMainFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GalleryPageBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GalleryMembersAlone)->Unit(benchmark::kMicrosecond);
}  // namespace
