// The screen widgets on the headless GL context (Mesa's software renderer
// here):
//  (a) a 1280×720 frame during a rule wipe (the capture drawn through the wipe
//      programs with a full-size rule) against the same frame drawing the
//      capture as a plain sprite; each frame finished (glFinish) inside the
//      timing. Target: wipe / plain ≤ 1.5.
//  (b) the 23 start-up preloads through their tasks (requests, loader passes,
//      the task pass that ends them, tags) against the same 23 requests made
//      and served directly; CPU time (the loader's pacing sleeps are wall
//      time only). Target: tasks / direct ≤ 1.05.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/sprite_scene_bench.h"
#include "app/app_window.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/file_loader.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "shaders/text_programs.h"
#include "ui/widget.h"
#include "ui/wipe.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// The sprite scene with the wipe programs made.
struct Scene : sprite_bench::SpriteScene {
    Scene() { ok = ok && (WipeShaders.program || Lib_WipeProgramsCreate()); }
};

// A full-screen 32-bit EXT0 sprite with a colour ramp, shown at `priority`.
int32_t Picture(int32_t priority) {
    const int32_t w = int32_t(kFrameWidth), h = int32_t(kFrameHeight);
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = char(32);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) f += std::string{char(x), char(y), char(x + y), char(255)};
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

void WipeFrame(benchmark::State& state, bool wipe) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    Picture(100);  // the new picture behind
    const int32_t capture = Picture(5);
    WipeWork work{};
    work.capture = capture;
    work.progress = 256.0f;
    std::vector<uint8_t> rule(size_t(kFrameWidth) * kFrameHeight * 4);
    for (size_t i = 0; i < rule.size(); i += 4) rule[i + 3] = uint8_t((i / 4) % kFrameWidth * 255 / kFrameWidth);
    work.ruleTexture = Lib_SpriteTexCreate(int32_t(kFrameWidth), int32_t(kFrameHeight), false, rule.data());
    if (wipe) Lib_SpriteSetDrawCB(capture, GSL_SystemWipeDraw, reinterpret_cast<uint64_t>(&work));
    Renderer* renderer = *Lib_GetRenderer();
    for (auto _ : state) {
        Lib_FrameBind(renderer);
        Lib_DrawWalk();
        glFinish();
    }
    Lib_SpriteFree(capture);
    uint32_t texture = work.ruleTexture;
    if (texture) {
        glDeleteTextures(1, &texture);
        --SpriteLiveObjects;
    }
    state.SetLabel(wipe ? "capture through the wipe programs" : "capture as a plain sprite");
}
void BM_FrameRuleWipe(benchmark::State& state) { WipeFrame(state, true); }
void BM_FramePlainCapture(benchmark::State& state) { WipeFrame(state, false); }
BENCHMARK(BM_FrameRuleWipe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramePlainCapture)->Unit(benchmark::kMillisecond);

// The start-up preloads: 23 files of 64 KiB on disk.
struct Files23 {
    std::filesystem::path dir, old;
    std::vector<std::string> names;
    bool ok = false;
    Files23() {
        char tmpl[] = "/tmp/vn_ui_bench_XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir = tmpl;
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        std::strcpy(UserId, "4242");
        std::filesystem::create_directories("user/4242/save");
        std::filesystem::create_directories("data");
        const std::string bytes(64 * 1024, 'x');
        for (int i = 0; i < 23; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "save/preload_%02d.bin", i);
            names.push_back(name);
            std::ofstream("user/4242/" + std::string(name), std::ios::binary) << bytes;
        }
        const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 8 * kMiB, 2 * kMiB, 32 * kMiB, 8 * kMiB};
        ok = Lib_MemInit(sizes) && Lib_TaskInit();
    }
    ~Files23() {
        Lib_CashReset();
        if (ok) Lib_MemRelease();
        if (!old.empty()) std::filesystem::current_path(old);
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
};

void BM_Preloads23Tasks(benchmark::State& state) {
    Files23 files;
    if (!files.ok) {
        state.SkipWithError("start-up failed");
        return;
    }
    for (auto _ : state) {
        for (const std::string& name : files.names) GSL_SystemLoadPrevSet(name.c_str(), 256, 2, nullptr);
        while (FileLoadTable.pending.load() > 0) Lib_FileLoadCB(nullptr);
        Lib_TaskPass(false);
        Lib_CashFreeGroup(2);  // read again next time
    }
    state.SetLabel("23 preload tasks");
}
void BM_Preloads23Direct(benchmark::State& state) {
    Files23 files;
    if (!files.ok) {
        state.SkipWithError("start-up failed");
        return;
    }
    void* data[23];
    uint32_t size[23];
    int32_t slots[23];
    for (auto _ : state) {
        for (size_t i = 0; i < files.names.size(); ++i)
            slots[i] = Lib_FileLoadReq(3, files.names[i].c_str(), &data[i], &size[i], 256);
        while (FileLoadTable.pending.load() > 0) Lib_FileLoadCB(nullptr);
        for (size_t i = 0; i < files.names.size(); ++i) {
            if (FileLoadTable.slots[slots[i]].state.load() == 1) Lib_FileCacheTag(files.names[i].c_str(), -1, 2, 2);
            Lib_FileLoadEnd(slots[i]);
        }
        Lib_CashFreeGroup(2);
    }
    state.SetLabel("23 direct requests");
}
BENCHMARK(BM_Preloads23Tasks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Preloads23Direct)->Unit(benchmark::kMicrosecond);

}  // namespace
