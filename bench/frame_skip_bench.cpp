// Cost of the drawing pass's decision on an unchanged frame: the reading of
// a busy screen's draw chain, sprite and text records, each entry's place
// and the comparison with the last present (no GL needed).
#include <benchmark/benchmark.h>

#include <memory>

#include "app/frame_skip.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_draw.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"

namespace {

void BM_FrameDamage(benchmark::State& state) {
    const int sprites = int(state.range(0)), texts = int(state.range(1));
    Lib_DrawClear();
    Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
    for (int i = 0; i < sprites; ++i) {
        SpriteRecord& r = SpriteTable[i];
        Lib_SpriteClear(&r);
        r.flags = SPRITE_IN_USE | SPRITE_READY;
        r.visible = 1;
        r.drawEntry = Lib_DrawSet(Lib_SpriteDrawCB, reinterpret_cast<uint64_t>(&r), i, 0, -1);
    }
    auto records = std::make_unique<TextRecord[]>(size_t(texts));
    for (int i = 0; i < texts; ++i)
        Lib_DrawSet(Lib_TextDrawCB, reinterpret_cast<uint64_t>(&records[size_t(i)]), 1000 + i, 0, -1);
    Main_FrameSkipInit();
    Main_FrameDamage();
    Main_FramePresented(true);
    for (auto _ : state) benchmark::DoNotOptimize(Main_FrameDamage());
    state.SetBytesProcessed(int64_t(state.iterations()) *
                            int64_t(sprites * sizeof(SpriteRecord) + texts * sizeof(TextRecord)));
    for (int i = 0; i < sprites; ++i) Lib_SpriteClear(&SpriteTable[i]);
    Lib_DrawClear();
}
// A title screen; a message screen with a backlog; every sprite slot and text slot.
BENCHMARK(BM_FrameDamage)->Args({10, 2})->Args({100, 20})->Args({720, 72})->Unit(benchmark::kMicrosecond);

}  // namespace
