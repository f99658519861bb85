// Screen contexts:
//  (a) a keep-0 push and the whole restore (until the screen runs again) of a
//      context holding 120 layers from the named cache, 80 blank layers, 20
//      texts and 2 looping sounds, against loading the same sprites and texts
//      afresh into empty slots. The loader pass (the loader thread's work,
//      the same on both sides) is left out of the timing.
//  (b) GSL_WorkDeleteAll with the program's 50 MiB screen heap against a
//      memset of that region, with the resident memory the first reset adds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/screen_scene_bench.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/movie/movie.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "ui/mode.h"
#include "ui/screen_restore.h"
#include "ui/screen_slots.h"

namespace {
using screen_bench::kMiB;
constexpr int kFileLayers = 120, kBlankLayers = 80, kTexts = 20, kPictures = 10;

int g_runs = 0;
void ScreenA() { ++g_runs; }
void ScreenB() {}

std::string Ext0(int32_t w, int32_t h, uint8_t shade) {
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = 32;
    for (int32_t i = 0; i < w * h; ++i) f += std::string{char(shade), char(i), char(i >> 8), char(255)};
    return f;
}

struct Bench {
    bool ok = false;
    std::filesystem::path dir, old;
    std::unique_ptr<screen_bench::ScreenScene> scene;
    Bench() {
        char tmpl[] = "/tmp/vn_screen_bench_XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir = tmpl;
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        std::filesystem::create_directories("root/visual");
        std::filesystem::create_directories("data");
        for (int i = 0; i < kPictures; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "root/visual/p%02d.ext", i);
            std::ofstream(name, std::ios::binary) << Ext0(64, 64, uint8_t(i * 20));
        }
        if (std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_00.pcarc root >/dev/null") != 0) return;
        const uint64_t sizes[HEAP_COUNT] = {16 * kMiB, 16 * kMiB, 24 * kMiB, 64 * kMiB, 128 * kMiB};
        scene = std::make_unique<screen_bench::ScreenScene>(sizes, dir.string());
        ok = scene->ok;
    }
    ~Bench() {
        scene.reset();
        if (!old.empty()) {
            std::filesystem::current_path(old);
            std::filesystem::remove_all(dir);
        }
    }
};

// Fills the top screen's slots; the loads finish in the passes that follow.
void FillSlots() {
    for (int i = 0; i < kFileLayers; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "visual/p%02d.ext", i % kPictures);
        GSL_WorkLayerLoad(nullptr, uint32_t(i), -1, name, -1, 1, nullptr, nullptr);
    }
    for (int i = 0; i < kBlankLayers; ++i)
        GSL_WorkLayerLoad(nullptr, uint32_t(kFileLayers + i), -1, nullptr, -1, 0, nullptr, nullptr);
    for (int i = 0; i < kTexts; ++i) GSL_WorkTextSet(nullptr, uint32_t(i), -1, "A line of text on the screen");
}

void LoaderPass(benchmark::State& state) {
    state.PauseTiming();
    Lib_FileLoadCB(nullptr);
    state.ResumeTiming();
}

void BM_PushRestoreKeep0(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or data");
        return;
    }
    ModeStack[0] = ScreenA;
    GSL_WorkCreate();
    FillSlots();
    GSL_WorkSoundSet(nullptr, 0, {.file = "sound/bgm/a.oggl"});
    GSL_WorkSoundSet(nullptr, 1, {.file = "sound/bgm/b.oggl"});
    while (!GSL_WorkLayersReady(nullptr)) {
        Lib_FileLoadCB(nullptr);
        Lib_TaskPass(false);
    }
    for (auto _ : state) {
        GSL_ModePush(ScreenB, 0);
        GSL_ModePop();
        const int runs = g_runs;
        while (g_runs == runs) {
            LoaderPass(state);
            Lib_TaskPass(false);
        }
    }
    state.counters["layers"] = kFileLayers + kBlankLayers;
}

void BM_LoadAfresh(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or data");
        return;
    }
    ModeStack[0] = ScreenA;
    GSL_WorkCreate();
    for (auto _ : state) {
        FillSlots();
        GSL_WorkSoundSet(nullptr, 0, {.file = "sound/bgm/a.oggl"});
        GSL_WorkSoundSet(nullptr, 1, {.file = "sound/bgm/b.oggl"});
        while (!GSL_WorkLayersReady(nullptr)) {
            LoaderPass(state);
            Lib_TaskPass(false);
        }
        state.PauseTiming();
        for (int i = 0; i < kFileLayers + kBlankLayers; ++i) GSL_WorkLayerFree(nullptr, i);
        for (int i = 0; i < kTexts; ++i) GSL_WorkTextFree(nullptr, uint32_t(i));
        state.ResumeTiming();
    }
}

uint64_t ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return uint64_t(resident) * uint64_t(::sysconf(_SC_PAGESIZE));
}

struct ScreenHeap {
    bool ok = false;
    ScreenHeap() {
        uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 2 * kMiB, kHeapDefaultSizes[HEAP_SCREEN], 2 * kMiB, 2 * kMiB};
        ok = Lib_MemInit(sizes);
        Lib_TaskInit();
        for (ModeFunction& m : ModeStack) m = nullptr;
        for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
    }
    ~ScreenHeap() {
        if (ok) Lib_MemRelease();
    }
};

void BM_DeleteAll50MiB(benchmark::State& state) {
    ScreenHeap h;
    if (!h.ok) {
        state.SkipWithError("heaps not reserved");
        return;
    }
    const uint64_t before = ResidentBytes();
    GSL_WorkDeleteAll();
    state.counters["added_MiB"] = double(ResidentBytes() - before) / double(kMiB);
    for (auto _ : state) GSL_WorkDeleteAll();
}

void BM_Memset50MiB(benchmark::State& state) {
    ScreenHeap h;
    if (!h.ok) {
        state.SkipWithError("heaps not reserved");
        return;
    }
    MemHeap& heap = HeapTable.heaps[HEAP_SCREEN];
    for (auto _ : state) {
        std::memset(heap.base, 0, heap.size);
        benchmark::ClobberMemory();
    }
}
}  // namespace

BENCHMARK(BM_PushRestoreKeep0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAfresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteAll50MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memset50MiB)->Unit(benchmark::kMillisecond);
