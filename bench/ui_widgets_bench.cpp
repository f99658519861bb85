// One frame of a menu's widgets without drawing: a 16-item selection input
// (the pointer scan over every item, its two key-repeat tasks and the colour
// pulse of the current item), a window frame, a scroll bar with its knob
// hover and arrow button checks and a page-number display, stepped by one
// task pass, as a share of one core at 60 frames a second (target: 0.5%).
// The sheets are made in memory; the headless GL context only builds their
// textures.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "app/app_window.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/file_loader.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"
#include "engine/render/sprite_load.h"
#include "platform/plat_gl.h"
#include "ui/number_display.h"
#include "ui/scroll_bar.h"
#include "ui/select_input.h"
#include "ui/window_frame.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A 32-bit EXT0 picture of w×h built straight into a sprite.
int32_t Sheet(int32_t w, int32_t h) {
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = char(32);
    f.append(size_t(w) * size_t(h) * 4u, char(0x7F));
    const int32_t slot = Lib_SpriteGetFree(0);
    SpriteRecord* r = Lib_SpriteAt(slot);
    r->data = Lib_MemAlloc(HEAP_GRAPHICS, f.size(), 256);
    std::memcpy(r->data, f.data(), f.size());
    r->dataSize = uint32_t(f.size());
    Lib_SpriteMakeTexture(slot);
    return slot;
}

// Swaps a widget's pending sheet load for a copy of a sheet made in memory.
void Settle(int32_t* part, int32_t sheet) {
    for (int32_t i = 0; i < kTaskSlots; ++i) {
        TaskRecord* t = TaskTable.slots[i];
        if (!t || t->callback != Lib_SpriteLoadCB || !t->work) continue;
        auto* load = static_cast<SpriteLoadWork*>(t->work);
        if (load->slot != *part) continue;
        if (load->request >= 0) Lib_FileLoadEnd(load->request);
        Lib_TaskDel(uint32_t(i));
    }
    if (*part >= 0) {
        SpriteTable[*part].flags |= SPRITE_FAILED;
        Lib_SpriteFree(*part);
    }
    *part = Lib_SpriteCopy(-1, sheet);
}

void BM_MenuWidgetsFrame(benchmark::State& state) {
    if (!Plat_GLHeadlessStart(kFrameWidth, kFrameHeight) || (!*Lib_GetRenderer() && !Lib_GraphicsInit())) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 8 * kMiB, 2 * kMiB, 8 * kMiB, 16 * kMiB};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heap or scheduler start-up failed");
        return;
    }
    Lib_DrawClear();
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
    const int32_t system = Sheet(208, 760), digits = Sheet(176, 192);

    const float centre[2] = {0.0f, 0.0f}, scale[2] = {4.0f, 3.0f};
    const int32_t win = GSL_SystemWinSet(centre, scale, 700, 1);
    const float barAt[2] = {300.0f, 0.0f}, barSize[2] = {1.0f, 6.0f};
    const int32_t bar = GSL_SystemBarSet(barAt, barSize, 500, 1, 0, 20, -1, -1);
    const float numAt[3] = {0.0f, -110.0f, 0.0f};
    const int32_t num = GSL_SystemNumSet(numAt, -1);
    const int32_t input = GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0);
    if (SelectInputWork* in = GSL_InputWork(input)) {
        in->count = kSelectItems;
        for (int32_t i = 0; i < kSelectItems; ++i) {
            const int32_t item = Lib_SpriteCopy(-1, system);
            const int32_t rect[4] = {48, 656 + 32 * (i % 3), 32, 32};
            Lib_SpriteSetRect(item, rect);
            Lib_SpriteSetFlag(item, 1);
            SpriteRecord* r = Lib_SpriteAt(item);
            r->posX = -200.0f;
            r->posY = 300.0f - 36.0f * float(i);
            in->sprites[i] = item;
        }
    }
    if (win < 0 || bar < 0 || num < 0 || input < 0) {
        state.SkipWithError("widget creation failed");
        Lib_MemRelease();
        return;
    }
    Settle(&GSL_SystemWinWork(win)->parts[0], system);
    Settle(&GSL_SystemBarWork(bar)->parts[0], system);
    Settle(&GSL_SystemNumWork(num)->sheet, digits);
    GSL_SystemNumSetValue(num, 3);
    GSL_SystemNumWork(num)->second = 16;
    for (int i = 0; i < 3; ++i) Lib_TaskPass(false);  // laid out, digits built
    if (GSL_SystemWinCheck(win) != 1 || GSL_SystemWinCheck(bar) != 1 || !GSL_SystemNumWork(num)->done ||
        !GSL_SystemBarScroll(bar, 5) || GSL_InputWork(input)->state != 1) {
        state.SkipWithError("the widgets did not lay themselves out");
        Lib_MemRelease();
        return;
    }

    for (auto _ : state) {
        benchmark::DoNotOptimize(Lib_TaskPass(false));
        benchmark::ClobberMemory();
    }
    state.counters["core_pct_at_60fps"] = benchmark::Counter(
        1.0 / 6000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    for (int32_t i = 0; i < kSpriteSlots; ++i) {
        SpriteTable[i].flags |= SPRITE_FAILED;
        Lib_SpriteFree(i);
    }
    Lib_MemRelease();
}
BENCHMARK(BM_MenuWidgetsFrame);

}  // namespace
