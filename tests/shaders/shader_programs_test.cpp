// Every built-in program against a CPU transcription of its algorithm, with
// IEEE float semantics (min/max drop a NaN operand, x/0 is ±inf or NaN) where
// the programs guard what GLSL leaves undefined.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "engine/core/debug_log.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"
#include "shaders/text_programs.h"
#include "tests/engine/render/gl_fixture.h"

namespace {

using Rgba = std::array<float, 4>;
constexpr uint32_t TW = 16, TH = 8;  // test image; drawn 1:1 so each pixel samples a texel centre
const Rgba kCanary = {0.2f, 0.4f, 0.6f, 0.8f};

struct Texture {
    uint32_t w, h;
    std::vector<Bgra> texels;
    Rgba nearest(float u, float v) const {
        int x = std::clamp(int(std::floor(u * float(w))), 0, int(w) - 1);
        int y = std::clamp(int(std::floor(v * float(h))), 0, int(h) - 1);
        const Bgra& t = texels[size_t(y) * w + x];
        return {t.r / 255.0f, t.g / 255.0f, t.b / 255.0f, t.a / 255.0f};
    }
};

// Channels include 0 and 255 (the divisions of blend modes 6 and 9), and
// alpha 0 (discard) in a few texels.
Texture SpriteImage() {
    Texture t{TW, TH, {}};
    for (uint32_t y = 0; y < TH; ++y) {
        for (uint32_t x = 0; x < TW; ++x) {
            uint32_t i = y * TW + x;
            Bgra p{uint8_t(i * 37 % 256), uint8_t(255 - i * 13 % 256), uint8_t(i * 71 % 256), uint8_t(255 - i * 29 % 200)};
            if (i % 11 == 3) p.a = 0;
            if (i % 7 == 0) p.r = 255, p.g = 0;
            if (i % 9 == 4) p.b = 0, p.r = 0, p.g = 0;
            t.texels.push_back(p);
        }
    }
    return t;
}

Texture MaskImage() {
    Texture t{4, 4, {}};
    for (uint32_t i = 0; i < 16; ++i) t.texels.push_back(Bgra{0, 0, 0, uint8_t(i % 5 == 1 ? 0 : 40 + i * 13)});
    return t;
}

float Div(float a, float b) {  // IEEE division, written out so that no sanitizer objects
    if (b != 0.0f) return a / b;
    if (a == 0.0f || std::isnan(a)) return std::numeric_limits<float>::quiet_NaN();
    return (std::signbit(a) != std::signbit(b)) ? -INFINITY : INFINITY;
}
float Sat(float x) { return std::fmin(std::fmax(x, 0.0f), 1.0f); }
float Contrast(float x, float c) { return 1.0f / (1.0f + std::exp2(1.44269502f * (-(5.0f + 5.0f * c) * (x - 0.5f)))); }
float Pow(float L, float e) { return std::exp2(e * std::log2(L)); }

// Tone (no channel offset here), contrast and brightness, as both pixel
// programs end.
void ToneAndLevels(float* rgb, int tone, const ConstBuf& cb) {
    float c = cb.m_color[1][0];
    float r[3];
    float L = 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2];
    if (tone == 1) {
        if (c != 0.0f) L = Contrast(L, c);
        r[0] = r[1] = r[2] = L;
    } else {
        for (int i = 0; i < 3; ++i) r[i] = tone == 3 ? 1.0f - rgb[i] : rgb[i];
        if (tone == 2) r[0] = L, r[1] = Pow(L, 1.1f), r[2] = Pow(L, 1.3f);
        if (c != 0.0f)
            for (float& x : r) x = Contrast(x, c);
    }
    for (int i = 0; i < 3; ++i) rgb[i] = Sat(r[i] + cb.m_color[0][3]);
}

float BlendChannel(float x, float B, float w, float m) {
    auto light = [&](bool low) { return low ? 2 * x * B : 1 - 2 * (1 - x) * (1 - B); };
    if (m == -1) return x * (1 - w) + B * w;
    if (m == 1) return std::fmin(x + B, 1.0f);
    if (m == 2) return x * B;
    if (m == 3) return x * (1 - w) + std::fmin(x + B, 1.0f) * w;
    if (m == 4) return x * (1 - w) + x * B * w;
    if (m == 5) return x * (1 - w) + (1 - (1 - x) * (1 - B)) * w;
    if (m == 6) return x * (1 - w) + std::fmax(1 - Div(1 - x, B), 0.0f) * w;
    if (m == 7) return x * (1 - w) + light(x < 0.5f) * w;
    if (m == 8) return x * (1 - w) + light(B < 0.5f) * w;
    if (m == 9) return std::fmin(Div(x, 1 - B * w), 1.0f);
    return x;
}

// SpriteEffectPS; nullopt when the pixel is discarded. `unsure` is set when
// the mask position lies too near an edge for the comparison to be fair.
std::optional<Rgba> RefSpriteEffect(const ConstBuf& cb, int tone, const Texture& img, const Texture& mask, float u,
                                    float v, bool* unsure) {
    const float W = cb.m_work[7][0], H = cb.m_work[7][1];
    if (cb.m_work[6][0] != 0.0f) {
        float x = u + cb.m_work[6][0] / W * (cb.m_work[6][2] - cb.m_work[6][1]);
        u = x - std::floor(x);
    }
    Rgba t = img.nearest(u, v);
    float rgb[3] = {t[0], t[1], t[2]}, a = t[3];
    if (cb.m_work[0][3] == 1.0f) a = 1.0f;
    if (a == 0.0f) return std::nullopt;
    if (cb.m_work[21][2] == 1.0f) {
        float dx = (u * W - cb.m_work[23][1]) * cb.m_work[22][2];
        float dy = (cb.m_work[23][2] - v * H) * cb.m_work[22][3];
        float r = std::sqrt(dx * dx + dy * dy);
        float th = std::atan2(dy, dx) + cb.m_work[23][0];
        float X = 640 + cb.m_work[22][0] - cb.m_work[21][0] + r * std::cos(th);
        float Y = 360 - cb.m_work[22][1] - cb.m_work[21][1] - r * std::sin(th);
        auto near = [](float p, float step) { return std::fabs(p / step - std::round(p / step)) * step < 0.05f; };
        if (near(X, 1280.0f / mask.w) || near(Y, 720.0f / mask.h)) *unsure = true;
        a = (X < 0 || X > 1280 || Y < 0 || Y > 720) ? 0.0f : a * mask.nearest(X / 1280, Y / 720)[3];
    }
    if (a == 0.0f) return std::nullopt;
    for (int i = 0; i < 3; ++i) rgb[i] = BlendChannel(rgb[i], cb.m_work[8][i], cb.m_work[8][3], cb.m_work[6][3]);
    if (tone != 0)
        for (int i = 0; i < 3; ++i) rgb[i] = Sat(rgb[i] + 1 - cb.m_work[0][i]);
    ToneAndLevels(rgb, tone == 4 ? 0 : tone, cb);
    return Rgba{rgb[0] * cb.m_rgba[0], rgb[1] * cb.m_rgba[1], rgb[2] * cb.m_rgba[2], a * cb.m_rgba[3]};
}

std::optional<Rgba> RefSpritePlain(const ConstBuf& cb, const Texture& img, float u, float v) {
    Rgba t = img.nearest(u, v);
    bool opaque = cb.m_work[0][3] == 1.0f;
    if (!opaque && t[3] == 0.0f) return std::nullopt;
    if (opaque) t[3] = 1.0f;
    for (int i = 0; i < 4; ++i) t[i] *= cb.m_rgba[i];
    return t;
}

Rgba RefPalette(const ConstBuf& cb, int tone, const Texture& index, const Texture& palette, float u, float v) {
    auto at = [&](float x, float y) { return palette.nearest(index.nearest(x, y)[0], 0.0f); };
    float sx = Div(1.0f, cb.m_work[2][0] - 1), sy = Div(1.0f, cb.m_work[2][1] - 1);
    const float* c = cb.m_crop;
    bool inside = c[0] < u && c[1] < v && u < c[0] + c[2] - sx && v < c[1] + c[3] - sy;
    Rgba p;
    if (inside) {
        float i = std::trunc(u / sx), j = std::trunc(v / sy);
        Rgba p00 = at(i * sx, j * sy), p10 = at((i + 1) * sx, j * sy);
        Rgba p01 = at(i * sx, (j + 1) * sy), p11 = at((i + 1) * sx, (j + 1) * sy);
        float fx = std::fabs(u - i * sx) / sx, fy = std::fabs(v - j * sy) / sy;
        for (int k = 0; k < 4; ++k)
            p[k] = (p00[k] * (1 - fx) + p10[k] * fx) * (1 - fy) + (p01[k] * (1 - fx) + p11[k] * fx) * fy;
    } else {
        p = at(u, v);
    }
    float rgb[3] = {p[0], p[1], p[2]};
    ToneAndLevels(rgb, tone, cb);
    return Rgba{rgb[0] * cb.m_rgba[0], rgb[1] * cb.m_rgba[1], rgb[2] * cb.m_rgba[2], p[3] * cb.m_rgba[3]};
}

class ShaderProgramTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        Lib_SamplerBind0(Lib_GetGraphics()->samplers[1]);  // nearest: one texel a pixel
        Lib_SamplerBind15(Lib_GetGraphics()->samplers[1]);
    }

    static ConstBuf Base() {
        ConstBuf cb;
        std::memset(&cb, 0, sizeof cb);
        PixelRectMatrix(cb.m_wvp, 0, 0, TW, TH);
        cb.m_crop[2] = cb.m_crop[3] = 1.0f;
        for (float& c : cb.m_rgba) c = 1.0f;
        cb.m_work[0][0] = cb.m_work[0][1] = cb.m_work[0][2] = 1.0f;
        cb.m_work[7][0] = TW;
        cb.m_work[7][1] = TH;
        return cb;
    }

    static void Bind(uint32_t unit, uint32_t texture) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, texture);
        glActiveTexture(GL_TEXTURE0);
    }

    // Draws the TW×TH quad over the canary and compares every pixel with the
    // reference (nullopt: the canary stays). Returns the pixels compared.
    template <typename Ref>
    static int Check(int group, int variant, const ConstBuf& cb, Ref ref, const std::string& what) {
        ClearFrame(kCanary[0], kCanary[1], kCanary[2], kCanary[3]);
        if (!DrawQuad(group, variant, cb, -1)) {
            ADD_FAILURE() << what << ": empty entry " << group << "," << variant;
            return 0;
        }
        Image f = ReadFrame();
        int compared = 0, failures = 0;
        for (uint32_t y = 0; y < TH; ++y) {
            for (uint32_t x = 0; x < TW; ++x) {
                bool unsure = false;
                std::optional<Rgba> want = ref((x + 0.5f) / TW, (y + 0.5f) / TH, &unsure);
                if (unsure) continue;
                Rgba w = want.value_or(kCanary);
                Bgra got = f.at(x, y);
                const int g[4] = {got.r, got.g, got.b, got.a};
                ++compared;
                for (int c = 0; c < 4; ++c) {
                    long expect = std::lround(Sat(w[c]) * 255.0f);
                    if (std::abs(g[c] - expect) > 1 && failures++ < 4)
                        ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel " << c << " got " << g[c]
                                      << " want " << expect << (want ? "" : " (discarded)");
                }
            }
        }
        return compared;
    }
};

TEST_F(ShaderProgramTest, TableHoldsExactlyTheBuiltInEntries) {
    const GraphicsResources* g = Lib_GetGraphics();
    for (int group = 0; group < kShaderGroups; ++group) {
        for (int v = 0; v < kShaderVariants; ++v) {
            const ShaderEntry& e = g->shaders[group][v];
            bool filled = (group == 0) || (group == 1 && v == 0) || (group == 3 && v <= 3);
            EXPECT_EQ(e.program != 0, filled) << group << "," << v;
            EXPECT_EQ(e.pixelShader != 0, filled) << group << "," << v;
            EXPECT_EQ(e.vertexShader != 0, filled && v == 0) << group << "," << v;
            EXPECT_EQ(Lib_ShaderBind(group, v), filled);
        }
    }
    EXPECT_NE(g->shaders[0][0].vertexShader, g->shaders[3][0].vertexShader);
    EXPECT_FALSE(Lib_ShaderBind(4, 0));
    EXPECT_FALSE(Lib_ShaderBind(0, -1));
    for (uint32_t s : g->samplers) EXPECT_TRUE(glIsSampler(s));
    EXPECT_TRUE(glIsVertexArray(g->inputLayout));

    // An empty entry draws nothing.
    ClearFrame(0, 0, 0, 0);
    EXPECT_FALSE(DrawQuad(SHADER_GROUP_SECOND, 0, Base(), 0));
    EXPECT_EQ(ReadFrame().at(1, 1), (Bgra{0, 0, 0, 0}));
}

std::string g_log;
TEST_F(ShaderProgramTest, CompileAndLinkErrorsAreLoggedWithTheProgramName) {
    g_log.clear();
    Lib_DebugSetSink([](const char* line) { g_log += line; });
    uint32_t bad = Lib_ShaderCompile("BrokenPS", true, 0, "void main() { target = no_such_value; }\n");
    uint32_t vs = Lib_ShaderCompile("OkVS", false, 0, "void main() { Emit(vec4(pos, 1.0)); }\n");
    uint32_t ps = Lib_ShaderCompile("UnresolvedPS", true, 0, "float Missing();\nvoid main() { target = vec4(Missing()); }\n");
    uint32_t linked = Lib_ProgramLink("UnresolvedProgram", vs, ps);
    Lib_DebugSetSink(nullptr);
    EXPECT_EQ(bad, 0u);
    EXPECT_NE(g_log.find("BrokenPS"), std::string::npos) << g_log;
    EXPECT_EQ(linked, 0u);
    EXPECT_NE(g_log.find("UnresolvedProgram"), std::string::npos) << g_log;
    glDeleteShader(vs);
    glDeleteShader(ps);
}

TEST_F(ShaderProgramTest, FlatColourAndPlainSprite) {
    Texture img = SpriteImage();
    Bind(kUnitColorMap, MakeTexture(TW, TH, img.texels.data()));
    ConstBuf cb = Base();
    cb.m_rgba[0] = 0.5f, cb.m_rgba[1] = 0.25f, cb.m_rgba[3] = 0.75f;
    Check(SHADER_GROUP_FLAT, 0, cb, [&](float, float, bool*) { return std::optional<Rgba>({0.5f, 0.25f, 1, 0.75f}); },
          "FlatColorPS");
    // The opaque flag counts only when exactly 1.0.
    for (float flag : {1.0f, std::nextafter(1.0f, 0.0f), std::nextafter(1.0f, 2.0f), 0.0f}) {
        cb.m_work[0][3] = flag;
        Check(SHADER_GROUP_SPRITE, SHADER_PLAIN, cb,
              [&](float u, float v, bool*) { return RefSpritePlain(cb, img, u, v); },
              "SpritePlainPS opaque " + std::to_string(flag));
    }
    // SpriteVS shrinks the quad to the crop's extent and maps u, v into it:
    // a 32×16 quad cropped to (0.25, 0.5)-(0.75, 1) covers its middle 16×8.
    cb = Base();
    PixelRectMatrix(cb.m_wvp, 0, 0, 2 * TW, 2 * TH);
    cb.m_crop[0] = 0.25f, cb.m_crop[1] = 0.5f, cb.m_crop[2] = 0.75f, cb.m_crop[3] = 1.0f;
    cb.m_work[0][3] = 1.0f;
    ClearFrame(0, 0, 0, 0);
    ASSERT_TRUE(DrawQuad(SHADER_GROUP_SPRITE, SHADER_PLAIN, cb, -1));
    Image f = ReadFrame();
    for (uint32_t y = 0; y < 2 * TH; ++y) {
        for (uint32_t x = 0; x < 2 * TW; ++x) {
            bool inside = x >= TW / 2 && x < TW * 3 / 2 && y >= TH / 2 && y < TH * 3 / 2;
            Rgba t = inside ? img.nearest(0.25f + (x - TW / 2 + 0.5f) / TW * 0.5f, 0.5f + (y - TH / 2 + 0.5f) / TH * 0.5f)
                            : Rgba{0, 0, 0, 0};
            Bgra want{uint8_t(std::lround(t[2] * 255)), uint8_t(std::lround(t[1] * 255)),
                      uint8_t(std::lround(t[0] * 255)), uint8_t(inside ? 255 : 0)};
            ASSERT_EQ(f.at(x, y), want) << "cropped pixel " << x << "," << y;
        }
    }
}

// Every blend mode through every tone member of SpriteEffectPS, with the
// colours that reach the divisions by zero of modes 6 and 9.
TEST_F(ShaderProgramTest, SpriteEffectBlendModesAndTones) {
    Texture img = SpriteImage(), mask = MaskImage();
    Bind(kUnitColorMap, MakeTexture(TW, TH, img.texels.data()));
    struct Colour {
        float r, g, b, w;
    } colours[] = {{0.25f, 0.6f, 0.9f, 0.7f}, {0.0f, 0.5f, 1.0f, 1.0f}, {1.0f, 1.0f, 0.0f, 1.0f}};
    const float modes[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -2, 2.5f};
    for (int tone = 0; tone <= 4; ++tone) {
        for (const Colour& c : colours) {
            for (float m : modes) {
                ConstBuf cb = Base();
                cb.m_work[0][0] = 0.9f, cb.m_work[0][1] = 1.2f;  // channel offset: red up, green down
                cb.m_work[6][3] = m;
                cb.m_work[8][0] = c.r, cb.m_work[8][1] = c.g, cb.m_work[8][2] = c.b, cb.m_work[8][3] = c.w;
                Check(SHADER_GROUP_SPRITE, tone, cb,
                      [&](float u, float v, bool* unsure) { return RefSpriteEffect(cb, tone, img, mask, u, v, unsure); },
                      "tone " + std::to_string(tone) + " mode " + std::to_string(m) + " colour " +
                          std::to_string(c.r));
            }
        }
    }
}

// Contrast (off at 0, k = 0 at -1) and brightness on every tone member of
// both programs, black included (sepia's power of 0).
TEST_F(ShaderProgramTest, ContrastAndBrightnessOnEveryTone) {
    Texture img = SpriteImage(), mask = MaskImage();
    Bind(kUnitColorMap, MakeTexture(TW, TH, img.texels.data()));
    const float levels[][2] = {{0, 0}, {0.6f, 0.15f}, {-1, 0}, {0.3f, -0.2f}, {4, 0}, {-0.5f, 0.4f}};
    for (int tone = 0; tone <= 4; ++tone) {
        for (const auto& l : levels) {
            ConstBuf cb = Base();
            cb.m_color[1][0] = l[0];
            cb.m_color[0][3] = l[1];
            cb.m_rgba[2] = 0.5f;
            Check(SHADER_GROUP_SPRITE, tone, cb,
                  [&](float u, float v, bool* unsure) { return RefSpriteEffect(cb, tone, img, mask, u, v, unsure); },
                  "tone " + std::to_string(tone) + " contrast " + std::to_string(l[0]));
        }
    }
}

TEST_F(ShaderProgramTest, SpriteEffectDiscardScrollAndMask) {
    Texture img = SpriteImage(), mask = MaskImage();
    uint32_t image = MakeTexture(TW, TH, img.texels.data()), maskTexture = MakeTexture(mask.w, mask.h, mask.texels.data());
    Bind(kUnitColorMap, image);
    Bind(kUnitColorMap15, maskTexture);
    struct Case {
        const char* name;
        float opaque, speed, from, to, maskOn;
    } cases[] = {
        {"plain", 0, 0, 0, 0, 0},
        {"opaque", 1.0f, 0, 0, 0, 0},
        {"almost opaque", std::nextafter(1.0f, 0.0f), 0, 0, 0, 0},
        {"scroll", 0, 1.0f, 2.0f, 5.25f, 0},
        {"scroll back", 0, -3.0f, 10.0f, 11.5f, 0},
        {"scroll off", 0, 0.0f, 2.0f, 5.25f, 0},
        {"mask", 0, 0, 0, 0, 1.0f},
        {"mask opaque scrolled", 1.0f, 1.0f, 0.0f, 3.25f, 1.0f},
        {"mask switch not exactly 1", 0, 0, 0, 0, std::nextafter(1.0f, 2.0f)},
    };
    int compared = 0;
    for (const Case& c : cases) {
        ConstBuf cb = Base();
        cb.m_work[0][3] = c.opaque;
        cb.m_work[6][0] = c.speed, cb.m_work[6][1] = c.from, cb.m_work[6][2] = c.to;
        cb.m_work[21][0] = 35.0f, cb.m_work[21][1] = -20.0f, cb.m_work[21][2] = c.maskOn;
        cb.m_work[22][0] = 60.0f, cb.m_work[22][1] = -30.0f, cb.m_work[22][2] = 95.0f, cb.m_work[22][3] = 110.0f;
        cb.m_work[23][0] = 0.4f, cb.m_work[23][1] = 6.5f, cb.m_work[23][2] = 3.5f;  // pivot on a texel centre
        compared += Check(SHADER_GROUP_SPRITE, SHADER_TONE_NONE, cb,
                          [&](float u, float v, bool* unsure) { return RefSpriteEffect(cb, 0, img, mask, u, v, unsure); },
                          c.name);
    }
    EXPECT_GT(compared, int(TW * TH) * 8);  // few pixels lie on a mask edge
}

// PalettePS: its own filter strictly inside the rectangle, the plain lookup
// on the right and bottom edges, and no filter for a one-texel-wide image.
TEST_F(ShaderProgramTest, PaletteFilterInsideAndOnTheEdge) {
    Texture index{TW, TH, {}}, palette{256, 1, {}};
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < TW * TH; ++i) {
        uint8_t k = uint8_t((i * 59 + 7) % 256);
        bytes.push_back(k);
        index.texels.push_back(Bgra{0, 0, k, 255});
    }
    for (uint32_t i = 0; i < 256; ++i)
        palette.texels.push_back(Bgra{uint8_t(i * 13 + 40), uint8_t(i * 91), uint8_t(i * 37), uint8_t(i < 20 ? i * 5 : 255)});
    uint32_t indexTexture = MakeIndexTexture(TW, TH, bytes.data()), paletteTexture = MakeTexture(256, 1, palette.texels.data());
    Bind(kUnitColorMap, indexTexture);
    Bind(kUnitPalette, paletteTexture);
    const float sizes[][2] = {{TW, TH}, {1, TH}, {TW, 1}};
    const float levels[][2] = {{0, 0}, {0.5f, 0.1f}};
    for (int tone = 0; tone <= 3; ++tone) {
        for (const auto& s : sizes) {
            for (const auto& l : levels) {
                ConstBuf cb = Base();
                cb.m_work[2][0] = s[0], cb.m_work[2][1] = s[1];
                cb.m_color[1][0] = l[0], cb.m_color[0][3] = l[1];
                cb.m_rgba[1] = 0.8f;
                Check(SHADER_GROUP_PALETTE, tone, cb,
                      [&](float u, float v, bool*) { return std::optional<Rgba>(RefPalette(cb, tone, index, palette, u, v)); },
                      "palette tone " + std::to_string(tone) + " width " + std::to_string(s[0]));
            }
        }
    }
    // The filter changes the inside pixels only.
    ConstBuf cb = Base();
    cb.m_work[2][0] = TW, cb.m_work[2][1] = TH;
    Rgba filtered = RefPalette(cb, 0, index, palette, 5.5f / TW, 2.5f / TH);
    Rgba plain = palette.nearest(index.nearest(5.5f / TW, 2.5f / TH)[0], 0);
    EXPECT_GT(std::fabs(filtered[0] - plain[0]) + std::fabs(filtered[1] - plain[1]), 0.05f);
    EXPECT_EQ(RefPalette(cb, 0, index, palette, 15.5f / TW, 2.5f / TH), palette.nearest(index.nearest(15.5f / TW, 2.5f / TH)[0], 0));
}

}  // namespace

// The wipe programs made again while the old ones are still bound (a wipe
// was the last thing drawn): the new set binds and leaves no GL error.
TEST_F(ShaderProgramTest, WipeProgramsMadeAgainWhileTheOldAreBound) {
    ASSERT_TRUE(Lib_WipeProgramsCreate());
    glUseProgram(WipeShaders.program);
    ASSERT_TRUE(Lib_WipeProgramsCreate());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glUseProgram(WipeShaders.program);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glUseProgram(0);
    Lib_WipeProgramsRelease();
}
