// Sprite drawing and loading on the headless GL context (Mesa's software
// renderer here):
//  (a) CPU cost of Lib_SpriteDrawCB for 100 small sprites with mixed effects
//      (the GL work is finished outside the timing), and of the plan alone;
//  (b) a 1280×720 frame of 20 full-screen sprites, 8-bit palette against
//      32-bit, each frame finished (glFinish) inside the timing;
//  (c) a 1280×720 PNG from its bytes to a ready sprite (decode, premultiply,
//      upload) against libpng's own decode of the same bytes.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/sprite_scene_bench.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_draw.h"
#include "engine/render/sprite_image.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

using Scene = sprite_bench::SpriteScene;

// An EXT0 of w×h: 32-bit with a colour ramp, or 8-bit indices with a palette.
std::string Ext0(int32_t w, int32_t h, int bpp) {
    std::string f(256, '\0');
    std::memcpy(&f[0], "EXT0", 4);
    const int32_t head[6] = {w, h, w, h, -9999, -9999};
    std::memcpy(&f[12], head, sizeof head);
    f[36] = char(bpp);
    if (bpp == 8)
        for (int i = 0; i < 256; ++i) f += std::string{char(i), char(255 - i), char(i * 5), char(255)};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (bpp == 8) f += char((x + 3 * y) & 255);
            else f += std::string{char(x), char(y), char(x + y), char(255)};
        }
    return f;
}

int32_t Make(const std::string& bytes) {
    int32_t slot = Lib_SpriteGetFree(0);
    SpriteRecord* r = Lib_SpriteAt(slot);
    r->data = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size(), 256);
    std::memcpy(r->data, bytes.data(), bytes.size());
    r->dataSize = uint32_t(bytes.size());
    Lib_SpriteMakeTexture(slot);
    r->visible = 1;
    return slot;
}

// 100 sprites of 32×32 in five kinds: plain, monochrome, channel offset with
// a colour blend, palette, rotated and clipped with its own blend state.
std::vector<SpriteRecord*> MixedSprites() {
    const std::string rgba = Ext0(32, 32, 32), index = Ext0(32, 32, 8);
    std::vector<SpriteRecord*> out;
    for (int i = 0; i < 100; ++i) {
        SpriteRecord* r = Lib_SpriteAt(Make(i % 5 == 3 ? index : rgba));
        r->posX = float((i % 10) * 100 - 450);
        r->posY = float((i / 10) * 60 - 270);
        switch (i % 5) {
        case 1: r->effectParams[1] = 1.0f; break;
        case 2: r->effectParams[2] = 0.5f, r->effectParams[15] = 2.0f, r->effectParams[19] = 0.5f; break;
        case 4:
            r->rotZ = 30.0f;
            r->clipRect[0] = 100;
            r->effectParams[0] = 3.0f;
            break;
        default: break;
        }
        out.push_back(r);
    }
    return out;
}

void BM_SpriteDrawCallback(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    std::vector<SpriteRecord*> sprites = MixedSprites();
    Lib_FrameBind(*Lib_GetRenderer());
    for (auto _ : state) {
        for (SpriteRecord* r : sprites) Lib_SpriteDrawCB(reinterpret_cast<uint64_t>(r));
        state.PauseTiming();
        glFinish();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(sprites.size()));
    state.SetLabel("100 sprites, mixed effects; items = sprites");
}

void BM_SpriteDrawPlanOnly(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    std::vector<SpriteRecord*> sprites = MixedSprites();
    SpriteDrawPlan plan;
    for (auto _ : state) {
        for (SpriteRecord* r : sprites) {
            Lib_SpriteDrawPlan(r, &ActiveCamera, &plan);
            benchmark::DoNotOptimize(plan.cb.m_wvp[0]);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(sprites.size()));
    state.SetLabel("no GL calls; items = sprites");
}

void FullScreenFrame(benchmark::State& state, int bpp) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    const std::string picture = Ext0(int32_t(kFrameWidth), int32_t(kFrameHeight), bpp);
    for (int i = 0; i < 20; ++i) Lib_SpriteAt(Make(picture))->effectParams[0] = 0.0f;
    Renderer* renderer = *Lib_GetRenderer();
    for (auto _ : state) {
        Lib_FrameBind(renderer);
        Lib_DrawWalk();
        glFinish();
    }
    state.SetLabel(bpp == 8 ? "20 × 8-bit palette (PalettePS)" : "20 × 32-bit (SpritePlainPS)");
}

void BM_Frame20Palette8(benchmark::State& state) { FullScreenFrame(state, 8); }
void BM_Frame20Bgra32(benchmark::State& state) { FullScreenFrame(state, 32); }

// A 1280×720 RGBA PNG of smooth ramps with some noise, by libpng's writer.
std::vector<uint8_t> TestPng() {
    const uint32_t w = kFrameWidth, h = kFrameHeight;
    std::vector<uint8_t> rgba(size_t(w) * h * 4);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(x / 5 + (seed >> 29));
            p[1] = uint8_t(y / 3 + (seed >> 30));
            p[2] = uint8_t((x + y) / 8);
            p[3] = uint8_t(x < 64 ? x * 4 : 255);
        }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t bytes = 0;
    png_image_write_to_memory(&image, nullptr, &bytes, 0, rgba.data(), 0, nullptr);
    std::vector<uint8_t> out(bytes);
    png_image_write_to_memory(&image, out.data(), &bytes, 0, rgba.data(), 0, nullptr);
    out.resize(bytes);
    return out;
}

void BM_PngToReadySprite(benchmark::State& state) {
    Scene scene;
    if (!scene.ok) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    const std::vector<uint8_t> png = TestPng();
    const std::string bytes(png.begin(), png.end());
    for (auto _ : state) {
        int32_t slot = Make(bytes);
        if (Lib_SpriteGetState(slot) != 2) state.SkipWithError("the PNG did not load");
        state.PauseTiming();
        glFinish();
        Lib_SpriteFree(slot);
        state.ResumeTiming();
    }
    state.SetLabel("bytes in heap 4 -> decode, premultiply, upload, ready");
}

void BM_PngRawLibpng(benchmark::State& state) {
    const std::vector<uint8_t> png = TestPng();
    std::vector<uint8_t> out(size_t(kFrameWidth) * kFrameHeight * 4);
    for (auto _ : state) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, png.data(), png.size());
        image.format = PNG_FORMAT_BGRA;
        png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel("png_image_finish_read to straight BGRA");
}

BENCHMARK(BM_SpriteDrawCallback)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpriteDrawPlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame20Palette8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Frame20Bgra32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngToReadySprite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngRawLibpng)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
