#include "engine/text/text_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/engine/text/text_env.h"

namespace {

class TextDraw : public TextTest {
protected:
    // Passes drawn in each of n frames, and the finished byte after each.
    std::vector<size_t> Run(TextRecord* r, int frames, std::vector<int>* finished = nullptr) {
        std::vector<size_t> drawn;
        for (int i = 0; i < frames; ++i) {
            drawn.push_back(Frame(r).size());
            if (finished) finished->push_back(r->finished);
        }
        return drawn;
    }
    // The alpha (0..255) of the first pass in each of n frames.
    std::vector<int> Alphas(TextRecord* r, int frames) {
        std::vector<int> a;
        for (int i = 0; i < frames; ++i) a.push_back(int(std::lround(Frame(r).at(0).cb.m_rgba[3] * 255)));
        return a;
    }
};

TEST_F(TextDraw, RevealTimelines) {
    std::vector<int> finished;
    TextRecord* r = Make("ABC");
    EXPECT_EQ(Run(r, 1, &finished), std::vector<size_t>{3});
    EXPECT_EQ(finished, std::vector<int>{1});
    // Speed 3: the first character at once, then one more every 3 frames.
    Lib_TextStrSet(0, "ABC");
    r->speed = 3;
    finished.clear();
    EXPECT_EQ(Run(r, 10, &finished), (std::vector<size_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 3}));
    EXPECT_EQ(finished, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    // At 30 frames per second the clock grows by 2; above 60 it stands still.
    Lib_TextStrSet(0, "ABC");
    Lib_FrameRateSet(30);
    EXPECT_EQ(Run(r, 5), (std::vector<size_t>{1, 1, 2, 2, 3}));
    Lib_TextStrSet(0, "ABC");
    Lib_FrameRateSet(120);
    EXPECT_EQ(Run(r, 3), (std::vector<size_t>{1, 1, 1}));
}

TEST_F(TextDraw, FadeIn) {
    TextRecord* r = Make("A");
    r->fadeIn = 1;
    r->speed = 4;
    EXPECT_EQ(Alphas(r, 6), (std::vector<int>{63, 126, 189, 252, 255, 255}));
    Lib_TextStrSet(0, "A");
    r->colour = 0xC8FFFFFF;
    EXPECT_EQ(Alphas(r, 5), (std::vector<int>{63, 126, 189, 200, 200}));
    // Speed 0 fades over the fade length; a zero length shows at once.
    Lib_TextStrSet(0, "A");
    r->speed = 0;
    r->fadeLength = 2;
    r->colour = 0xFFFFFFFF;
    EXPECT_EQ(Alphas(r, 1), std::vector<int>{127});
    r->fadeLength = 0;
    EXPECT_EQ(Alphas(r, 1), std::vector<int>{255});
}

TEST_F(TextDraw, WaitHoldsTheReveal) {
    const uint64_t created = 0x100000000ull - 200000;  // the low 32 bits wrap
    text_env::now = created;
    TextRecord* r = Make("#Wait[120]AB");
    r->speed = 1;
    text_env::now = created + 500000;  // reached 30 frames after creation
    int held = 0;
    for (; held < 200 && Frame(r).empty(); ++held) EXPECT_EQ(r->finished, 0);
    EXPECT_EQ(held, 89);  // 90 frames with the releasing one
    EXPECT_EQ(r->startTime, uint32_t(created + 500000 + 89 * 16667));
    EXPECT_EQ(Frame(r).size(), 2u);
    EXPECT_EQ(r->finished, 1);
    Lib_TextStrSet(0, "#Wait[120]AB");
    r->speed = 0;  // no pause without a reveal speed
    EXPECT_EQ(Frame(r).size(), 2u);
}

TEST_F(TextDraw, ShadowAndBorderPasses) {
    const float k = kWorldPerPixel;
    TextRecord* r = Make("#Weight[20]A");
    r->outline = 0x80102030;
    r->colour = 0xF0FFFFFF;
    const uint32_t corners[4] = {1, 2, 3, 4};
    Lib_TextCornerColorSet(0, corners);
    r->renderFlags = TEXT_SHADOW | TEXT_BORDER8;  // the shadow wins
    auto p = Frame(r);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_NEAR(p[0].cb.m_wvp[12] - p[1].cb.m_wvp[12], 5 * k, 1e-5);
    EXPECT_NEAR(p[0].cb.m_wvp[13] - p[1].cb.m_wvp[13], -5 * k, 1e-5);
    // Outline colour with the glyph's alpha, shader outline off, shared quad;
    // then the glyph with the outline on (outline alpha set) and its own quad.
    EXPECT_EQ(std::vector<float>(p[0].cb.m_rgba, p[0].cb.m_rgba + 4),
              (std::vector<float>{0x30 / 255.0f, 0x20 / 255.0f, 0x10 / 255.0f, 0xF0 / 255.0f}));
    EXPECT_EQ(p[0].cb.m_work[1][3], 0.0f);
    EXPECT_EQ(p[0].vertexBuffer, 0u);
    EXPECT_EQ(p[1].cb.m_rgba[0], 1.0f);
    EXPECT_EQ(p[1].cb.m_work[1][3], 1.0f);
    EXPECT_EQ(p[1].vertexBuffer, r->cornerBuffer);

    r->renderFlags = TEXT_BORDER8;
    p = Frame(r);
    ASSERT_EQ(p.size(), 9u);
    const float d = (2.0f + 3.0f) * k;  // weight + 3 pixels
    const int dx[8] = {1, -1, 0, 0, 1, 1, -1, -1}, dy[8] = {0, 0, 1, -1, 1, -1, 1, -1};
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(p[i].cb.m_wvp[12] - p[8].cb.m_wvp[12], dx[i] * d, 1e-5) << i;
        EXPECT_NEAR(p[i].cb.m_wvp[13] - p[8].cb.m_wvp[13], dy[i] * d, 1e-5) << i;
    }
    r->renderFlags = TEXT_BORDER4 | TEXT_BORDER8;
    EXPECT_EQ(Frame(r).size(), 5u);
}

TEST_F(TextDraw, ClipCameraAndPlacement) {
    TextRecord* r = Make("AB", 100, -50);
    Frame(r);
    EXPECT_EQ(text_env::events, "ppf");  // no clip: no scissor
    r->clipX = r->clipY = 100;
    r->clipWidth = 200;
    r->clipHeight = 50;
    text_env::events.clear();
    Frame(r);
    EXPECT_EQ(text_env::events, "fsppfs");  // every pass inside the clip
    ASSERT_EQ(text_env::scissors.size(), 2u);
    EXPECT_EQ(text_env::scissors[0].height, 50);
    EXPECT_EQ(text_env::scissors[1].width, 1280);

    // Draw mode 2: the default camera while drawing, the scene camera after.
    r->camera = nullptr;
    r->drawMode = 0;
    ConstBuf plain = Frame(r).at(0).cb;
    ActiveCamera.target[0] = 30.0f;
    Lib_CameraUpdate(&ActiveCamera);
    CameraRecord scene = ActiveCamera;
    r->drawMode = kTextDrawDefaultCamera;
    EXPECT_EQ(std::memcmp(Frame(r).at(0).cb.m_wvp, plain.m_wvp, sizeof plain.m_wvp), 0);
    EXPECT_EQ(std::memcmp(&ActiveCamera, &scene, sizeof scene), 0);

    // The scaled cell's top-left corner lands at (x + spacing + pen x, y + pen y).
    const float k = kWorldPerPixel;
    r->letterSpacing = 10;
    r->scaleX = 2.0f;
    r->scaleY = 3.0f;
    TextCursor c = Lib_TextCursorStart(r, 7, -20);
    c.cellWidth = 30;
    c.cellHeight = 40;
    GlyphQuad q = Lib_GlyphQuadPlace(&c, kGlyphNoOverride);
    EXPECT_NEAR((q.x - q.scaleX / 2) / k + 640, 100 + 10 + 7, 1e-3);
    EXPECT_NEAR((q.y + q.scaleY / 2) / k - 360, -50 - 20, 1e-3);
    EXPECT_NEAR(q.scaleY, 120 * k, 1e-6);
    q = Lib_GlyphQuadPlace(&c, 5.5f);
    EXPECT_NEAR((q.y + q.scaleY / 2) / k - 360, -50 + 5.5, 1e-3);
    // Letter spacing moves every glyph but does not widen the gaps.
    r->scaleX = r->scaleY = 1.0f;
    r->camera = &camera_;
    auto p = Frame(r);
    EXPECT_NEAR((p[1].cb.m_wvp[12] - p[0].cb.m_wvp[12]) / k, 32, 1e-3);
    EXPECT_EQ(Pen(p[0], r).first, 0);
}

}  // namespace
