#include "engine/render/renderer.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/render/draw_list.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"
#include "tests/engine/render/gl_fixture.h"

namespace {

ConstBuf FlatColour(float r, float g, float b, float a) {
    ConstBuf cb;
    std::memset(&cb, 0, sizeof cb);
    GlTest::PixelRectMatrix(cb.m_wvp, 0, 0, kFrameWidth, kFrameHeight);
    cb.m_rgba[0] = r;
    cb.m_rgba[1] = g;
    cb.m_rgba[2] = b;
    cb.m_rgba[3] = a;
    return cb;
}

constexpr Bgra kBlack{0, 0, 0, 255};
constexpr Bgra kRed{0, 0, 255, 255};
constexpr Bgra kWhite{255, 255, 255, 255};

TEST(ComposeViewport, LetterboxAndStretch) {
    struct Case {
        uint32_t w, h;
        bool letterbox;
        ComposeRect want;
    } cases[] = {
        {1920, 1200, true, {0, 60, 1920, 1080}},    // taller than 16:9: bars top and bottom
        {1440, 1080, true, {0, 135, 1440, 810}},
        {2560, 1080, true, {320, 0, 1920, 1080}},   // wider: bars left and right
        {1366, 768, true, {0, 0, 1366, 768}},       // 768.375 truncates to the height
        {1280, 720, true, {0, 0, 1280, 720}},
        {1920, 1080, false, {0, 0, 1920, 1080}},
        {1920, 1200, false, {0, 0, 1920, 1200}},    // a window stretches
        {2560, 1080, false, {0, 0, 2560, 1080}},
    };
    for (const Case& c : cases) {
        ComposeRect got = Lib_ComposeViewport(c.w, c.h, c.letterbox);
        EXPECT_EQ(got.left, c.want.left) << c.w << "x" << c.h;
        EXPECT_EQ(got.top, c.want.top) << c.w << "x" << c.h;
        EXPECT_EQ(got.width, c.want.width) << c.w << "x" << c.h;
        EXPECT_EQ(got.height, c.want.height) << c.w << "x" << c.h;
    }
}

// The part of the window a partial present shows, for windows taller,
// shorter, wider and narrower than the frame: inside the window, covering
// the damage as the composition scales it (and, scaled, a pixel past it), and
// counted in GL's rows from the bottom (a damage at the frame's top lands at
// the picture's top rows).
TEST(ComposeViewport, TheDamageLandsInsideTheWindowWhereThePictureShowsIt) {
    struct Window {
        uint32_t w, h;
        bool letterbox;
    } windows[] = {{1280, 1000, true}, {1280, 540, true}, {1600, 720, true}, {960, 720, true},
                   {960, 540, false}, {1400, 787, false}};
    const ScissorRect damages[] = {{0, 0, 1280, 720}, {0, 0, 200, 40}, {1100, 650, 180, 70}, {640, 360, 1, 1}};
    for (const Window& win : windows) {
        const ComposeRect vp = Lib_ComposeViewport(win.w, win.h, win.letterbox);
        for (const ScissorRect& d : damages) {
            const PlatGLRect a = Lib_DamageInWindow(d, vp, win.h);
            const std::string where = std::to_string(win.w) + "x" + std::to_string(win.h) + " damage " +
                                      std::to_string(d.x) + "," + std::to_string(d.y);
            EXPECT_GE(a.x, vp.left) << where;
            EXPECT_LE(a.x + a.w, vp.left + vp.width) << where;
            EXPECT_GE(a.y, int32_t(win.h) - vp.top - vp.height) << where;
            EXPECT_LE(a.y + a.h, int32_t(win.h) - vp.top) << where;
            // The damage's corners, scaled into the window (top-left rows).
            // Scaled, the filter blends a damaged pixel into its neighbours:
            // the area reaches a pixel past them inside the picture.
            const double sx = double(vp.width) / 1280, sy = double(vp.height) / 720;
            const int32_t past = vp.width == 1280 && vp.height == 720 ? 0 : 1;
            const int32_t left = std::max(vp.left + int32_t(std::floor(d.x * sx)) - past, vp.left);
            const int32_t top = std::max(vp.top + int32_t(std::floor(d.y * sy)) - past, vp.top);
            const int32_t right = vp.left + int32_t(std::ceil((d.x + d.width) * sx)) + past;
            const int32_t bottom = vp.top + int32_t(std::ceil((d.y + d.height) * sy)) + past;
            EXPECT_LE(a.x, left) << where;
            EXPECT_GE(a.x + a.w, std::min(right, vp.left + vp.width)) << where;
            EXPECT_LE(a.y, int32_t(win.h) - std::min(bottom, vp.top + vp.height)) << where;
            EXPECT_GE(a.y + a.h, int32_t(win.h) - top) << where;
        }
    }
}

// Runs first in its own process (as ctest runs every test): without a
// context start-up fails cleanly, says why to its caller and nothing on
// stderr, and leaves no renderer behind.
TEST(GraphicsStartUp, FailsWithoutAContext) {
    if (Plat_GLHasContext()) GTEST_SKIP() << "this process already has a GL context";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Lib_GraphicsInit());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_STRNE(Lib_GraphicsError(), "");
    EXPECT_EQ(*Lib_GetRenderer(), nullptr);
    Lib_ScreenCompose(*Lib_GetRenderer());  // nothing to do, no crash
}

using RendererTest = GlTest;

TEST_F(RendererTest, StartUpPutsTheClearEntryAtTheHeadAndFillsTheRecord) {
    Renderer* r = renderer();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(DrawList.entries[kDrawHead].callback, &Lib_ClearCB);
    EXPECT_EQ(DrawList.entries[kDrawHead].priority, kDrawHeadPriority);
    EXPECT_EQ(DrawList.entries[kDrawHead].subPriority, -1);
    EXPECT_FLOAT_EQ(ActiveCamera.eye[2], 50.0f);
    EXPECT_NE(r->frameFramebuffer, 0u);
    EXPECT_NE(r->constBuffer, 0u);
    GLint size = 0;
    glBindBuffer(GL_UNIFORM_BUFFER, r->constBuffer);
    glGetBufferParameteriv(GL_UNIFORM_BUFFER, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 512);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_CLAMP));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_FALSE(glIsEnabled(GL_FRAMEBUFFER_SRGB));
}

// The draw list's walk clears first (the clear ignores any scissor), then
// draws the other entries in order.
TEST_F(RendererTest, WalkClearsFirstAndTheClearIgnoresTheScissor) {
    ClearFrame(1, 1, 1, 1);
    ClearColour[0] = 0.0f;
    ClearColour[1] = 0.0f;
    ClearColour[2] = 1.0f;
    const ScissorRect small{10, 10, 20, 20};
    Lib_SetScissor(&small);
    int32_t red = Lib_DrawSet(
        [](uint64_t) {
            ScissorRect full{-1, -1, -1, -1};
            Lib_SetScissor(&full);
            ConstBuf cb = FlatColour(1, 0, 0, 1);
            GlTest::PixelRectMatrix(cb.m_wvp, 0, 0, 640, 360);
            Lib_ShaderBind(SHADER_GROUP_FLAT, 0);
            Lib_BlendSet(*Lib_GetRenderer(), 0);
            Lib_ConstBufUpload(*Lib_GetRenderer(), cb);
            Lib_QuadDraw();
        },
        0, 5, 0, 0);
    ASSERT_GE(red, 1);
    Lib_DrawWalk();
    Lib_DrawDel(uint32_t(red), 0);
    ClearColour[2] = 0.0f;
    Image f = ReadFrame();
    EXPECT_EQ(f.at(0, 0), kRed);
    EXPECT_EQ(f.at(639, 359), kRed);
    EXPECT_EQ(f.at(640, 100), (Bgra{255, 0, 0, 255}));
    EXPECT_EQ(f.at(1279, 719), (Bgra{255, 0, 0, 255}));
}

TEST_F(RendererTest, ScissorLimitsDrawsFromTheTopLeft) {
    struct Case {
        ScissorRect rect;
        ComposeRect covered;
    } cases[] = {
        {{0, 0, 640, 360}, {0, 0, 640, 360}},
        {{100, 50, 10, 20}, {100, 50, 10, 20}},
        {{-5, -5, 30, 40}, {0, 0, 30, 40}},
        {{-1, -1, -1, -1}, {0, 0, 1280, 720}},
        {{1200, 700, -1, -1}, {1200, 700, 1280, 720}},
    };
    for (const Case& c : cases) {
        ClearFrame(0, 0, 0, 1);
        Lib_SetScissor(&c.rect);
        ASSERT_TRUE(DrawQuad(SHADER_GROUP_FLAT, 0, FlatColour(1, 1, 1, 1), 0));
        EXPECT_TRUE(RectIs(ReadFrame(), c.covered, kWhite, kBlack)) << "scissor " << c.rect.x << "," << c.rect.y;
    }
}

// Each blend state over a known destination, against its factor table.
TEST_F(RendererTest, BlendStatesFollowTheirFactors) {
    enum Factor { ZERO, ONE, SRC_ALPHA, INV_SRC_ALPHA, SRC_COLOR };
    struct Row {
        Factor sc, dc, sa, da;
    } table[10] = {
        {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO}, {ONE, ONE, ONE, ZERO},
        {ZERO, SRC_COLOR, ONE, ZERO},          {SRC_ALPHA, ONE, SRC_ALPHA, ONE},
        {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO}, {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO},
        {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO}, {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO},
        {SRC_ALPHA, INV_SRC_ALPHA, ONE, ZERO}, {SRC_ALPHA, ONE, SRC_ALPHA, ONE},
    };
    const float src[4] = {0.8f, 0.4f, 0.2f, 0.6f}, dst[4] = {0.2f, 0.5f, 0.7f, 0.3f};
    auto factor = [&](Factor f, int channel) {
        switch (f) {
            case ZERO: return 0.0f;
            case ONE: return 1.0f;
            case SRC_ALPHA: return src[3];
            case INV_SRC_ALPHA: return 1.0f - src[3];
            case SRC_COLOR: return src[channel];
        }
        return 0.0f;
    };
    for (int i = 0; i < kBlendStates; ++i) {
        ClearFrame(dst[0], dst[1], dst[2], dst[3]);
        ASSERT_TRUE(DrawQuad(SHADER_GROUP_FLAT, 0, FlatColour(src[0], src[1], src[2], src[3]), i));
        Bgra got = ReadFrame().at(300, 200);
        float want[4];
        for (int c = 0; c < 3; ++c) want[c] = src[c] * factor(table[i].sc, c) + dst[c] * factor(table[i].dc, c);
        want[3] = src[3] * factor(table[i].sa, 3) + dst[3] * factor(table[i].da, 3);
        const uint8_t gotRgba[4] = {got.r, got.g, got.b, got.a};
        for (int c = 0; c < 4; ++c) {
            float w = std::lround(std::fmin(want[c], 1.0f) * 255.0f);
            EXPECT_NEAR(gotRgba[c], w, 1.0) << "blend state " << i << " channel " << c;
        }
    }
}

// A red quad in the top-left quarter of the virtual screen, placed through
// the default camera as sprites are, lands in the top-left of the frame and,
// after composition, of the 1920×1080 window.
TEST_F(RendererTest, TopLeftStaysTopLeftThroughCameraAndComposition) {
    Renderer* r = renderer();
    Lib_CameraReset(&ActiveCamera);
    ConstBuf cb = FlatColour(1, 0, 0, 1);
    float world[16] = {640 * kWorldPerPixel, 0, 0, 0, 0, 360 * kWorldPerPixel, 0, 0, 0, 0, 1, 0,
                       -320 * kWorldPerPixel, 180 * kWorldPerPixel, 0, 1};
    float t[16];
    Lib_MatrixMul(t, ActiveCamera.view, world);
    Lib_MatrixMul(cb.m_wvp, ActiveCamera.lens, t);
    ClearFrame(0, 0, 0, 1);
    ASSERT_TRUE(DrawQuad(SHADER_GROUP_FLAT, 0, cb, 0));
    Image f = ReadFrame();
    EXPECT_EQ(f.at(2, 2), kRed);
    EXPECT_EQ(f.at(637, 357), kRed);
    EXPECT_EQ(f.at(643, 100), kBlack);
    EXPECT_EQ(f.at(100, 363), kBlack);

    ASSERT_TRUE(Lib_ResizeTarget(r, kTestWindowWidth, kTestWindowHeight));
    Lib_ScreenCompose(r);
    Image w = ReadFramebuffer(0, kTestWindowWidth, kTestWindowHeight);
    EXPECT_EQ(w.at(3, 3), kRed);
    EXPECT_EQ(w.at(955, 535), kRed);
    EXPECT_EQ(w.at(965, 100), kBlack);
    EXPECT_EQ(w.at(100, 545), kBlack);
    EXPECT_EQ(w.at(1900, 1060), kBlack);
    EXPECT_EQ(r->viewport[2], 1920.0f);
}

// Resizes through full-screen and windowed sizes; each composition fills the
// picture area and paints stale pixels outside it black.
TEST_F(RendererTest, ResizeSequenceComposesLetterboxedOrStretched) {
    Renderer* r = renderer();
    ClearFrame(1, 1, 1, 1);
    struct Step {
        uint32_t w, h;
        bool letterbox;
        ComposeRect picture;
    } steps[] = {
        {1280, 720, false, {0, 0, 1280, 720}},    {1920, 1080, true, {0, 0, 1920, 1080}},
        {1920, 1200, true, {0, 60, 1920, 1080}},  {1440, 1080, true, {0, 135, 1440, 810}},
        {2560, 1080, true, {320, 0, 1920, 1080}}, {1920, 1200, false, {0, 0, 1920, 1200}},
        {1280, 720, true, {0, 0, 1280, 720}},
    };
    for (const Step& s : steps) {
        uint32_t target = MakeTarget(s.w, s.h);
        glBindFramebuffer(GL_FRAMEBUFFER, target);
        const GLfloat stale[4] = {1, 0, 0, 1};
        glDisable(GL_SCISSOR_TEST);
        glClearBufferfv(GL_COLOR, 0, stale);
        ASSERT_TRUE(Lib_ResizeTarget(r, s.w, s.h));
        EXPECT_EQ(r->clientWidth, s.w);
        EXPECT_EQ(r->clientHeight, s.h);
        r->windowFramebuffer = target;
        r->letterbox = s.letterbox;
        Lib_ScreenCompose(r);
        EXPECT_TRUE(RectIs(ReadFramebuffer(target, s.w, s.h), s.picture, kWhite, kBlack))
            << s.w << "x" << s.h << (s.letterbox ? " full screen" : " window");
        Lib_FrameBind(r);
    }
    r->windowFramebuffer = 0;
}

// At 1280×720 the composition copies the frame pixel for pixel, opaque
// whatever the frame's alpha.
TEST_F(RendererTest, ComposingAt1280x720CopiesTheFrame) {
    Renderer* r = renderer();
    std::vector<Bgra> pattern(size_t(kFrameWidth) * kFrameHeight);
    for (uint32_t y = 0; y < kFrameHeight; ++y)
        for (uint32_t x = 0; x < kFrameWidth; ++x)
            pattern[size_t(y) * kFrameWidth + x] = Bgra{uint8_t(x * 7 + y), uint8_t(y * 3), uint8_t(x ^ y), uint8_t(x + y)};
    glBindTexture(GL_TEXTURE_2D, r->frameTexture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kFrameWidth, kFrameHeight, GL_BGRA, GL_UNSIGNED_BYTE, pattern.data());
    uint32_t target = MakeTarget(kFrameWidth, kFrameHeight);
    ASSERT_TRUE(Lib_ResizeTarget(r, kFrameWidth, kFrameHeight));
    r->windowFramebuffer = target;
    Lib_ScreenCompose(r);
    r->windowFramebuffer = 0;
    Image img = ReadFramebuffer(target, kFrameWidth, kFrameHeight);
    int bad = 0;
    for (size_t i = 0; i < pattern.size() && bad < 5; ++i) {
        const Bgra &a = img.pixels[i], &b = pattern[i];
        if (a.b != b.b || a.g != b.g || a.r != b.r || a.a != 255)
            ADD_FAILURE() << "pixel " << i % kFrameWidth << "," << i / kFrameWidth << " " << a << " want " << b, ++bad;
    }
}

// The window as its server has it, changing under the composition.
int32_t g_windowSize[2] = {0, 0};
bool WindowSize(int32_t* w, int32_t* h) {
    *w = g_windowSize[0];
    *h = g_windowSize[1];
    return true;
}

// The window changes size by one side, the other or both, with no resize of
// the target asked for: the next composition lays the picture into it.
TEST_F(RendererTest, TheCompositionTakesTheWindowsNewSizeWhenEitherSideChanges) {
    Renderer* r = renderer();
    g_windowSize[0] = 1920;
    g_windowSize[1] = 1080;
    Plat_GLSizeQuerySet(WindowSize);
    ASSERT_TRUE(Lib_ResizeTarget(r, 0, 0));
    r->letterbox = 1;
    const struct {
        int32_t w, h;
        ComposeRect picture;
    } sizes[] = {{1920, 900, {160, 0, 1600, 900}}, {1700, 900, {50, 0, 1600, 900}}, {1440, 1080, {0, 135, 1440, 810}}};
    for (const auto& s : sizes) {
        g_windowSize[0] = s.w;
        g_windowSize[1] = s.h;
        Plat_GLWindowChanged();
        Lib_ScreenCompose(r);
        EXPECT_EQ(r->clientWidth, uint32_t(s.w));
        EXPECT_EQ(r->clientHeight, uint32_t(s.h));
        const float want[4] = {float(s.picture.left), float(s.picture.top), float(s.picture.width),
                               float(s.picture.height)};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(r->viewport[i], want[i]) << s.w << "x" << s.h << " [" << i << "]";
    }
    Plat_GLSizeQuerySet(nullptr);
    ASSERT_TRUE(Lib_ResizeTarget(r, 0, 0));
}

TEST_F(RendererTest, ResizeRecordsOnlyUsableSizes) {
    Renderer* r = renderer();
    ASSERT_TRUE(Lib_ResizeTarget(r, 1920, 1080));
    ASSERT_TRUE(Lib_ResizeTarget(r, 1920, 1200));  // same width, new height
    EXPECT_EQ(r->clientHeight, 1200u);
    EXPECT_FALSE(Lib_ResizeTarget(r, 1u << 20, 1u << 20));
    EXPECT_EQ(r->clientWidth, 1920u);
    EXPECT_EQ(r->clientHeight, 1200u);
    // A zero half asks the window for its drawable size.
    ASSERT_TRUE(Lib_ResizeTarget(r, 0, 700));
    EXPECT_EQ(r->clientWidth, kTestWindowWidth);
    EXPECT_EQ(r->clientHeight, kTestWindowHeight);
}

}  // namespace
