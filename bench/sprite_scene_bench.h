// Heaps, a headless renderer, an empty draw list and sprite table for the
// benchmarks that draw sprites; every sprite and the heaps are freed at the end.
#pragma once

#include <cstdint>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl.h"

namespace sprite_bench {

struct SpriteScene {
    bool ok = false;
    SpriteScene() {
        if (!Plat_GLHeadlessStart(kFrameWidth, kFrameHeight)) return;
        if (!*Lib_GetRenderer() && !Lib_GraphicsInit()) return;
        constexpr uint64_t kMiB = 1024 * 1024;
        const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 8 * kMiB, 2 * kMiB, 8 * kMiB, 256 * kMiB};
        ok = Lib_MemInit(sizes);
        Lib_DrawClear();
        Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
        for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
        Lib_CameraReset(&ActiveCamera);
    }
    ~SpriteScene() {
        for (int32_t i = 0; i < kSpriteSlots; ++i) {
            SpriteTable[i].flags |= SPRITE_FAILED;
            Lib_SpriteFree(i);
        }
        if (ok) Lib_MemRelease();
    }
};

}  // namespace sprite_bench
