// The text and wipe programs against a CPU transcription of what they compute,
// drawn with nearest sampling so that every sample lands inside a texel.
#include "shaders/text_programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/text/glyph_cache.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"
#include "tests/engine/render/gl_fixture.h"
#include "tests/engine/text/font_env.h"

namespace {

using Rgba = std::array<float, 4>;
constexpr uint32_t kTex = 16;                    // texture size
constexpr float kX = 100, kY = 80, kSize = 64;  // drawn 4 pixels a texel

struct Texture {
    uint32_t w = kTex, h = kTex;
    std::vector<Bgra> texels;
    Rgba At(float u, float v) const {
        int x = std::clamp(int(std::floor(u * float(w))), 0, int(w) - 1);
        int y = std::clamp(int(std::floor(v * float(h))), 0, int(h) - 1);
        const Bgra& t = texels[size_t(y) * w + x];
        return {t.r / 255.0f, t.g / 255.0f, t.b / 255.0f, t.a / 255.0f};
    }
};

// A soft disc of radius 4 texels in the centre.
Texture Disc() {
    Texture t;
    for (uint32_t y = 0; y < kTex; ++y)
        for (uint32_t x = 0; x < kTex; ++x) {
            float d = std::hypot(float(x) + 0.5f - 8.0f, float(y) + 0.5f - 8.0f);
            uint8_t c = uint8_t(std::clamp((4.5f - d) * 200.0f, 0.0f, 255.0f));
            t.texels.push_back(Bgra{uint8_t(x * 16), uint8_t(y * 16), c, c});
        }
    return t;
}

// TextCoveragePS / TextPicturePS as written, with col the vertex colour.
Rgba TextReference(const Texture& tex, bool picture, const ConstBuf& cb, const Rgba& col, float u, float v) {
    auto coverage = [&](float du, float dv) {
        Rgba t = tex.At(u + du, v + dv);
        return picture ? t[3] : t[0];
    };
    const float* w0 = cb.m_work[0];
    const float* w1 = cb.m_work[1];
    const float* w2 = cb.m_work[2];
    Rgba k;
    for (int i = 0; i < 4; ++i) k[i] = cb.m_rgba[i] + (1.0f - cb.m_rgba[i]) * col[i];
    float f = 1.0f, c = 0.0f, a;
    Rgba rgb = k;
    if (w2[1] != 0.0f) {
        for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j) c = std::max(c, coverage(i * 0.75f / w0[0], j * 0.75f / w0[1]));
        f = 1.5f;
        a = c * k[3];
    } else if (picture) {
        Rgba t = tex.At(u, v);
        for (int i = 0; i < 3; ++i) rgb[i] = t[i] * k[i];
        a = t[3] * k[3];
    } else {
        a = coverage(0, 0) * k[3];
    }
    if (w1[3] == 0.0f) return {rgb[0], rgb[1], rgb[2], a};
    float g = 0.0f;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j) g = std::max(g, coverage((i - 3) * f * w2[2] / w0[0], (j - 3) * f * w2[3] / w0[1]));
    Rgba out;
    for (int i = 0; i < 3; ++i) out[i] = rgb[i] * a + (1.0f - a) * w1[i];
    out[3] = (a * a + (1.0f - a) * g) * cb.m_rgba[3];  // m_rgba.a a second time
    return out;
}

// Counts the pixels of the drawn square that differ from the reference by
// more than one step.
int Mismatches(const Image& img, const std::function<Rgba(float, float)>& reference) {
    int bad = 0;
    for (uint32_t py = 0; py < kSize; ++py)
        for (uint32_t px = 0; px < kSize; ++px) {
            Rgba want = reference((px + 0.5f) / kSize, (py + 0.5f) / kSize);
            Bgra got = img.at(uint32_t(kX) + px, uint32_t(kY) + py);
            const int have[4] = {got.r, got.g, got.b, got.a};
            for (int i = 0; i < 4; ++i) {
                int expect = int(std::lround(std::clamp(want[i], 0.0f, 1.0f) * 255.0f));
                if (std::abs(have[i] - expect) > 1 && bad++ < 5)
                    ADD_FAILURE() << "pixel " << px << "," << py << " channel " << i << ": " << have[i] << " != " << expect;
            }
        }
    return bad;
}

class TextPrograms : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Lib_TextProgramsCreate(&coverage_, &picture_));
        glGenSamplers(1, &sampler_);
        glSamplerParameteri(sampler_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glSamplerParameteri(sampler_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glSamplerParameteri(sampler_, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glSamplerParameteri(sampler_, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glGenVertexArrays(1, &vao_);
        glGenBuffers(1, &vbo_);
        glGenBuffers(1, &ibo_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo_);
        const uint16_t indices[6] = {0, 1, 2, 1, 3, 2};
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, indices, GL_STATIC_DRAW);
        Lib_TextVertexLayout();
        glBindVertexArray(0);
    }
    void TearDown() override {
        glUseProgram(0);  // a program deleted while current would linger
        if (vao_) glDeleteVertexArrays(1, &vao_);
        if (vbo_) glDeleteBuffers(1, &vbo_);
        if (ibo_) glDeleteBuffers(1, &ibo_);
        if (sampler_) glDeleteSamplers(1, &sampler_);
        Lib_ShaderProgramRelease(&coverage_);
        Lib_ShaderProgramRelease(&picture_);
        GlTest::TearDown();
    }
    static ConstBuf Base(float width = kSize, float height = kSize) {
        ConstBuf cb{};
        PixelRectMatrix(cb.m_wvp, kX, kY, width, height);
        cb.m_crop[2] = cb.m_crop[3] = 1.0f;
        cb.m_rgba[0] = 0.2f, cb.m_rgba[1] = 0.6f, cb.m_rgba[2] = 1.0f, cb.m_rgba[3] = 0.5f;
        cb.m_work[0][0] = cb.m_work[0][1] = float(kTex);  // one step = one texel
        cb.m_work[2][2] = cb.m_work[2][3] = 1.0f;
        return cb;
    }
    void Draw(const ShaderProgram& p, uint32_t texture, const ConstBuf& cb, const Rgba& col) {
        TextVertex quad[4] = {
            {{-0.5f, -0.5f, 0}, {col[0], col[1], col[2], col[3]}, {0, 1}},
            {{0.5f, -0.5f, 0}, {col[0], col[1], col[2], col[3]}, {1, 1}},
            {{-0.5f, 0.5f, 0}, {col[0], col[1], col[2], col[3]}, {0, 0}},
            {{0.5f, 0.5f, 0}, {col[0], col[1], col[2], col[3]}, {1, 0}},
        };
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STREAM_DRAW);
        glUseProgram(p.program);
        glDisable(GL_BLEND);
        Lib_ConstBufUpload(renderer(), cb);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBindSampler(0, sampler_);
        glBindVertexArray(vao_);
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
        glBindVertexArray(0);
        glBindSampler(0, 0);
        glEnable(GL_BLEND);
    }
    // First covered column of a frame row, or -1.
    static int LeftEdge(const Image& img, uint32_t row) {
        for (uint32_t x = 0; x < kFrameWidth; ++x)
            if (img.at(x, row).a) return int(x);
        return -1;
    }

    ShaderProgram coverage_{}, picture_{};
    uint32_t sampler_ = 0, vao_ = 0, vbo_ = 0, ibo_ = 0;
};

TEST_F(TextPrograms, CoverageProgramMatchesItsDefinition) {
    Texture disc = Disc();
    std::vector<uint8_t> red;
    for (const Bgra& t : disc.texels) red.push_back(t.r);
    uint32_t tex = MakeIndexTexture(kTex, kTex, red.data());
    struct Case {
        const char* name;
        Rgba col;
        bool thicken, outline;
    } cases[] = {
        {"plain, colour 0", {0, 0, 0, 0}, false, false},
        {"plain, grey vertex colour", {0.5f, 0.25f, 0.0f, 1.0f}, false, false},
        {"outline", {0, 0, 0, 0}, false, true},
        {"thickened outline", {0, 0, 0, 0}, true, true},
        {"thickened", {0.3f, 0.3f, 0.3f, 0.3f}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConstBuf cb = Base();
        cb.m_work[1][0] = 1.0f, cb.m_work[1][3] = c.outline ? 1.0f : 0.0f;
        cb.m_work[2][1] = c.thicken ? 1.0f : 0.0f;
        ClearFrame(0, 0, 0, 0);
        Draw(coverage_, tex, cb, c.col);
        Image img = ReadFrame();
        EXPECT_EQ(Mismatches(img, [&](float u, float v) { return TextReference(disc, false, cb, c.col, u, v); }), 0);
        if (!c.outline || c.thicken) continue;
        // Without a vertex colour the text colour is m_rgba; the outline ring
        // lies outside the coverage and its alpha carries m_rgba.a twice.
        Bgra centre = img.at(uint32_t(kX + kSize / 2), uint32_t(kY + kSize / 2));
        EXPECT_NEAR(centre.r, 153, 1);  // 0.2 * 0.5 + (1 - 0.5) * 1
        EXPECT_NEAR(centre.a, 96, 1);   // (0.5 * 0.5 + 0.5 * 1) * 0.5
        Bgra ring = img.at(uint32_t(kX + 2 * 4 + 1), uint32_t(kY + kSize / 2));  // 2 texels outside the disc
        EXPECT_EQ(ring.r, 255);
        EXPECT_EQ(ring.g + ring.b, 0);
        EXPECT_NEAR(ring.a, 128, 1);  // (0 + 1 * 1) * 0.5
    }
}

TEST_F(TextPrograms, PictureProgramMatchesItsDefinition) {
    Texture disc = Disc();
    uint32_t tex = MakeTexture(kTex, kTex, disc.texels.data());
    for (bool thicken : {false, true})
        for (bool outline : {false, true}) {
            SCOPED_TRACE(testing::Message() << "thicken " << thicken << " outline " << outline);
            ConstBuf cb = Base();
            cb.m_work[1][1] = 1.0f, cb.m_work[1][3] = outline ? 2.0f : 0.0f;
            cb.m_work[2][1] = thicken ? 1.0f : 0.0f;
            Rgba col = {0.5f, 0.5f, 0.0f, 0.0f};
            ClearFrame(0, 0, 0, 0);
            Draw(picture_, tex, cb, col);
            EXPECT_EQ(Mismatches(ReadFrame(), [&](float u, float v) { return TextReference(disc, true, cb, col, u, v); }), 0);
        }
}

TEST_F(TextPrograms, SlantMovesTheUpperHalfRightAndTheLowerHalfLeft) {
    std::vector<uint8_t> full(kTex * kTex, 255);
    uint32_t tex = MakeIndexTexture(kTex, kTex, full.data());
    const float width = 64, height = 32;
    ConstBuf cb = Base(width, height);
    cb.m_work[0][0] = width, cb.m_work[0][1] = height;
    cb.m_work[2][0] = 0.0f;
    Draw(coverage_, tex, cb, {0, 0, 0, 0});
    Image img = ReadFrame();
    for (uint32_t r = 0; r < uint32_t(height); ++r) EXPECT_EQ(LeftEdge(img, uint32_t(kY) + r), int(kX)) << r;
    ClearFrame(0, 0, 0, 0);
    cb.m_work[2][0] = 0.2f;
    Draw(coverage_, tex, cb, {0, 0, 0, 0});
    img = ReadFrame();
    const float shift = std::tan(0.2f) * height;  // tan(slant) * height / width, in units of the width
    for (uint32_t r = 0; r < uint32_t(height); ++r) {
        float at = shift * (1.0f - 2.0f * (float(r) + 0.5f) / height);
        EXPECT_NEAR(LeftEdge(img, uint32_t(kY) + r), kX + at, 1.0) << r;
    }
    EXPECT_EQ(LeftEdge(img, uint32_t(kY)) - int(kX), int(kX) - LeftEdge(img, uint32_t(kY + height) - 1));
}

TEST_F(TextPrograms, WipeProgramThresholdsTheRule) {
    ASSERT_TRUE(Lib_WipeProgramsCreate());
    Texture image, rule;
    for (uint32_t y = 0; y < kTex; ++y)
        for (uint32_t x = 0; x < kTex; ++x) {
            image.texels.push_back(Bgra{uint8_t(x * 16), uint8_t(y * 16), uint8_t(255 - x * 8), 7});
            rule.texels.push_back(Bgra{0, 0, 0, uint8_t(x * 15 + y)});  // a ramp along x, slightly along y
        }
    uint32_t imageTex = MakeTexture(kTex, kTex, image.texels.data()), ruleTex = MakeTexture(kTex, kTex, rule.texels.data());
    struct Case {
        float invert, mirrorU, mirrorV, t, edge, reversed;
    } cases[] = {
        {0, 0, 0, 0.0f, 0.25f, 0}, {0, 0, 0, 0.5f, 0.1f, 0}, {0, 0, 0, 0.5f, 0.1f, 1},
        {1, 0, 0, 0.3f, 0.0f, 0},  {0, 1, 0, 0.43f, 0.2f, 0}, {0, 0, 1, 0.43f, 0.2f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.invert << c.mirrorU << c.mirrorV << " t " << c.t << " edge " << c.edge
                                        << " reversed " << c.reversed);
        ConstBuf cb{};
        PixelRectMatrix(cb.m_wvp, kX, kY, kSize, kSize);
        cb.m_work[0][0] = c.invert, cb.m_work[0][1] = c.mirrorU, cb.m_work[0][2] = c.mirrorV, cb.m_work[0][3] = c.t;
        cb.m_work[1][2] = c.edge, cb.m_work[1][3] = c.reversed;
        cb.m_rgba[0] = cb.m_rgba[3] = 0.25f;  // not applied
        ClearFrame(0, 0, 0, 0);
        glUseProgram(WipeShaders.program);
        glDisable(GL_BLEND);
        Lib_ConstBufUpload(renderer(), cb);
        glActiveTexture(GL_TEXTURE0 + kUnitWipeImage);
        glBindTexture(GL_TEXTURE_2D, imageTex);
        glActiveTexture(GL_TEXTURE0 + kUnitWipeRule);
        glBindTexture(GL_TEXTURE_2D, ruleTex);
        glActiveTexture(GL_TEXTURE0);
        glBindSampler(kUnitWipeImage, sampler_);
        glBindSampler(kUnitWipeRule, sampler_);
        Lib_QuadDraw();
        glBindSampler(kUnitWipeRule, 0);
        glEnable(GL_BLEND);
        Image img = ReadFrame();
        EXPECT_EQ(Mismatches(img,
                             [&](float u, float v) {
                                 float r = rule.At(c.mirrorU == 1 ? 1 - u : u, c.mirrorV == 1 ? 1 - v : v)[3];
                                 if (c.invert == 1) r = 1 - r;
                                 float a = c.reversed;
                                 if (c.t >= r) {
                                     a = std::min(c.t - r + c.edge, 1.0f);
                                     if (c.reversed == 1) a = 1 - a;
                                 }
                                 Rgba px = image.At(u, v);
                                 return Rgba{px[0], px[1], px[2], a};
                             }),
                  0);
    }
    // A rule value above t gives exactly m_work[1].w (1 in the last case).
    EXPECT_EQ(ReadFrame().at(uint32_t(kX + kSize) - 1, uint32_t(kY)).a, 255);
    Lib_WipeProgramsRelease();
    EXPECT_EQ(WipeShaders.program, 0u);
}

// Start-up with a GL context, and real glyphs uploaded as the atlas holds them.
TEST_F(TextPrograms, RendererStartsAndUploadsGlyphsAsTheAtlasHoldsThem) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 2 * mib, 96 * mib};
    ASSERT_TRUE(Lib_MemInit(sizes));
    int32_t language = TextLanguage.load();
    ASSERT_TRUE(Lib_FontInit());
    EXPECT_EQ(TextRenderState.ready, 1);
    EXPECT_NE(TextRenderState.coverage.program, 0u);
    EXPECT_NE(TextRenderState.picture.program, 0u);
    EXPECT_NE(TextRenderState.sampler, 0u);
    std::string sans = font_env::ReadFile(font_env::kDejaVuSans);
    if (!sans.empty()) {
        for (int i : {0, 1, 2}) {
            uint32_t size = i == 1 ? kAddGlyphHeader + kAddGlyphCellBytes : uint32_t(sans.size());
            TextRenderState.images[i] = Lib_MemAlloc(HEAP_GRAPHICS, size, 0x4000);
            std::memset(TextRenderState.images[i], 0x40, size);
            TextRenderState.sizes[i] = size;
        }
        for (int i : {0, 2}) std::memcpy(TextRenderState.images[i], sans.data(), sans.size());
        Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
        for (uint32_t code : {uint32_t('g'), uint32_t('W'), 0x20u}) {
            GlyphInfo g = Lib_GlyphMake(code, -1, 0);
            ASSERT_NE(g.view, 0u);
            std::vector<uint8_t> texels(size_t(g.bitmapWidth) * g.bitmapHeight);
            glBindTexture(GL_TEXTURE_2D, g.view);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, texels.data());
            glPixelStorei(GL_PACK_ALIGNMENT, 4);
            EXPECT_EQ(std::memcmp(texels.data(), g.pixels, texels.size()), 0) << code;
        }
        GlyphInfo add = Lib_GlyphMake(0, 0, 0);
        std::vector<uint8_t> cell(kAddGlyphCellBytes);
        glBindTexture(GL_TEXTURE_2D, add.view);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, cell.data());
        EXPECT_EQ(std::memcmp(cell.data(), add.pixels, cell.size()), 0);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    Lib_FontEnd();
    EXPECT_EQ(TextRenderState.coverage.program, 0u);
    EXPECT_EQ(TextRenderState.ready, 0);
    TextLanguage = language;
    Lib_MemRelease();
}

}  // namespace
