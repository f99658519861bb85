// Frame cost of full-screen textured quads on the headless GL context (Mesa's
// software renderer here): SpriteEffectPS with no effect switched on against
// SpritePlainPS, one quad and 20 quads a frame. Each frame is finished
// (glFinish) inside the timing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/render/renderer.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"

namespace {

bool StartGraphics() {
    static bool ready = [] {
        if (!Plat_GLHeadlessStart(kFrameWidth, kFrameHeight) || !Lib_GraphicsInit()) return false;
        std::vector<uint8_t> texels(size_t(kFrameWidth) * kFrameHeight * 4);
        for (size_t i = 0; i < texels.size(); ++i) texels[i] = (i % 4 == 3) ? 255 : uint8_t(i * 2654435761u >> 24);
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glActiveTexture(GL_TEXTURE0 + kUnitColorMap);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kFrameWidth, kFrameHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        Lib_SamplerBind0(Lib_GetGraphics()->samplers[0]);
        return true;
    }();
    return ready;
}

void FullScreenQuads(benchmark::State& state, int variant) {
    if (!StartGraphics()) {
        state.SkipWithError("no headless OpenGL context");
        return;
    }
    Renderer* r = *Lib_GetRenderer();
    ConstBuf cb;
    std::memset(&cb, 0, sizeof cb);
    cb.m_wvp[0] = cb.m_wvp[5] = 2.0f;  // the unit quad over the whole frame
    cb.m_wvp[10] = cb.m_wvp[15] = 1.0f;
    cb.m_crop[2] = cb.m_crop[3] = 1.0f;
    for (float& c : cb.m_rgba) c = 1.0f;
    cb.m_work[0][0] = cb.m_work[0][1] = cb.m_work[0][2] = 1.0f;
    cb.m_work[7][0] = kFrameWidth;
    cb.m_work[7][1] = kFrameHeight;
    const int quads = int(state.range(0));
    for (auto _ : state) {
        Lib_FrameBind(r);
        Lib_ClearCB(0);
        Lib_ShaderBind(SHADER_GROUP_SPRITE, variant);
        Lib_BlendSet(r, 0);
        for (int i = 0; i < quads; ++i) {
            Lib_ConstBufUpload(r, cb);
            Lib_QuadDraw();
        }
        glFinish();
    }
    state.SetLabel(variant == SHADER_PLAIN ? "SpritePlainPS" : "SpriteEffectPS tone none");
}

void BM_FrameEffectQuads(benchmark::State& state) { FullScreenQuads(state, SHADER_TONE_NONE); }
void BM_FramePlainQuads(benchmark::State& state) { FullScreenQuads(state, SHADER_PLAIN); }

BENCHMARK(BM_FrameEffectQuads)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramePlainQuads)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
