#include "app/frame_skip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/app_window.h"
#include "app/main_tasks.h"
#include "engine/movie/movie.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "platform/plat_window.h"
#include "tests/engine/render/sprite_env.h"
#include "tests/engine/text/text_gl_env.h"

namespace {

// The drawing tasks of one frame; true when the frame was presented.
bool DrawFrame() {
    const uint64_t before = FramePresentCount.load();
    Main_DrawBCB(nullptr);
    Main_DrawCB(nullptr);
    Main_DrawACB(nullptr);
    return FramePresentCount.load() != before;
}

// Presents made by `frames` frames.
int Presents(int frames) {
    int n = 0;
    for (int i = 0; i < frames; ++i) n += DrawFrame();
    return n;
}

void StartSkipping() {
    unsetenv("VN_FRAME_SKIP");
    MainInputDone = 1;
    Lib_MovieInit();
    Main_FrameSkipInit();
}

// Lit pixels of the frame target and the left edge of the light.
struct Light {
    int count = 0;
    uint32_t left = ~0u;
};
Light LightOf(const Image& img) {
    Light l;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            const Bgra p = img.at(x, y);
            if (p.r > 128 || p.g > 128 || p.b > 128) {
                ++l.count;
                if (x < l.left) l.left = x;
            }
        }
    return l;
}

// What a full draw of the frame gives; the next frame is drawn whole.
Image DrawnWhole() {
    FrameSkipOn = false;
    DrawFrame();
    FrameSkipOn = true;
    Main_FrameSkipInit();
    return GlTest::ReadFrame();
}

class FrameSkipTest : public SpriteEnv {
protected:
    void SetUp() override {
        SpriteEnv::SetUp();
        if (IsSkipped()) return;
        StartSkipping();
        slot_ = Lib_SpriteLoad(-1, nullptr, -1, 0);  // a blank full-frame sprite
        ASSERT_GE(slot_, 0);
        SpriteRecord& r = SpriteTable[slot_];
        r.visible = 1;
        r.scaleX = r.scaleY = 0.25f;  // a 320×180 rectangle in the middle
        Lib_SpriteSetColor(slot_, 0xFF0000FFu);
        ASSERT_TRUE(DrawFrame());
        ASSERT_EQ(Presents(3), 0) << "a static frame is drawn again";
    }
    void TearDown() override {
        if (!IsSkipped()) {
            Renderer* r = renderer();
            Lib_ResizeTarget(r, kTestWindowWidth, kTestWindowHeight);
            r->letterbox = 0;
        }
        FrameSkipOn = true;
        SpriteEnv::TearDown();
    }
    SpriteRecord& sprite() { return SpriteTable[slot_]; }
    int32_t slot_ = -1;
};

TEST_F(FrameSkipTest, ASpriteFieldWrittenDirectlyAndACameraMoveEachDrawOneFrame) {
    const Light before = LightOf(ReadFrame());
    ASSERT_EQ(before.left, 480u);
    const float time = FrameTimeCounter;
    EXPECT_EQ(Presents(2), 0);
    EXPECT_EQ(FrameTimeCounter, time + 2.0f);  // the programs' time runs on regardless

    sprite().posX = 100.0f;  // no setter: the field is written as other modules do
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(LightOf(ReadFrame()).left, 580u);
    EXPECT_EQ(Presents(3), 0);

    ActiveCamera.distance *= 2.0f;  // twice as far: a quarter of the area
    EXPECT_TRUE(DrawFrame());
    EXPECT_NEAR(LightOf(ReadFrame()).count, before.count / 4, before.count / 50);
    EXPECT_EQ(Presents(3), 0);

    // A scrolling sprite reads the frame time: drawn every frame.
    sprite().effectParams[13] = 1.0f;
    EXPECT_EQ(Presents(3), 3);
    sprite().effectParams[13] = 0.0f;
    DrawFrame();
    EXPECT_EQ(Presents(2), 0);
}

TEST_F(FrameSkipTest, AResizeAndAnExposeEachDrawOneFrame) {
    Renderer* r = renderer();
    ASSERT_TRUE(Lib_ResizeTarget(r, 1600, 900));
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(Presents(3), 0);
    r->letterbox = 1;  // full screen
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(Presents(3), 0);

    // The window lost its contents (UI thread): the picture is drawn again.
    Main_WndProc(PlatWindowEvent{PWE_EXPOSED, WindowRequest(0), 0, 0, 0, 0});
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(Presents(3), 0);
}

TEST_F(FrameSkipTest, AColourChangePresentsOnlyTheSpritesRectangle) {
    Renderer* r = renderer();
    ASSERT_TRUE(Lib_ResizeTarget(r, 1280, 720));  // one window pixel a frame pixel
    ASSERT_TRUE(DrawFrame());
    if (Plat_GLPresentMode() == PRESENT_SWAP) GTEST_SKIP() << "this context presents only whole windows";
    const uint64_t pixels = Plat_GLPresentedPixels(), presents = Plat_GLPresents();

    Lib_SpriteSetColor(slot_, 0xFF00FF00u);
    EXPECT_TRUE(DrawFrame());
    // The 320×180 rectangle, nothing else.
    EXPECT_EQ(Plat_GLPresents() - presents, 1u);
    EXPECT_EQ(Plat_GLPresentedPixels() - pixels, 320u * 180u);
    EXPECT_EQ(Presents(3), 0);

    // The window holds what drawing the whole frame gives.
    const Image part = ReadFramebuffer(0, 1280, 720);
    const Light green = LightOf(part);
    EXPECT_EQ(green.left, 480u);
    EXPECT_EQ(green.count, 320 * 180);
    FrameSkipOn = false;
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(ReadFramebuffer(0, 1280, 720).pixels, part.pixels);
}

void OwnDrawing(uint64_t) {}

TEST_F(FrameSkipTest, UnknownCallbacksPresentsElsewhereAndTheSwitchForceFrames) {
    // A callback the digest cannot see into is drawn every frame.
    const int32_t entry = Lib_DrawSet(OwnDrawing, 0, 10, 0, -1);
    ASSERT_GE(entry, 0);
    EXPECT_EQ(Presents(3), 3);
    Lib_DrawDel(uint32_t(entry), 0);
    DrawFrame();
    EXPECT_EQ(Presents(2), 0);

    // Something else presented (a movie): its picture is replaced once.
    Lib_FramePresent(renderer());
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(Presents(2), 0);

    setenv("VN_FRAME_SKIP", "0", 1);
    Main_FrameSkipInit();
    EXPECT_EQ(Presents(3), 3);
    unsetenv("VN_FRAME_SKIP");
}

TEST_F(FrameSkipTest, AnOpaquePictureHidesWhatLiesUnderItButAHoleOrHalfAlphaShowsIt) {
    // The red rectangle below a blue picture of the whole frame, which has
    // one clear pixel in the middle of the rectangle.
    ASSERT_TRUE(Picture("ext0 holed.ext --size 1280 720 --pattern solid --colour 0000ffff --pixel 640 360 00000000\n"
                        "ext0 full.ext --size 1280 720 --pattern solid --colour 0000ffff"));
    Lib_SpriteSetPrio(slot_, 100, 0);
    int32_t above = FromFile("holed.ext");
    ASSERT_GE(above, 0);
    SpriteTable[above].visible = 1;
    DrawFrame();
    auto at = [](const Image& img, uint32_t x, uint32_t y) {
        const Bgra p = img.at(x, y);
        return (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b;
    };
    Image frame = ReadFrame();
    ASSERT_EQ(at(frame, 640, 360), 0xFF0000u);
    ASSERT_EQ(at(frame, 639, 360), 0x0000FFu);

    // Through the hole the rectangle's new colour shows. The rectangle
    // covers its own change: only the clear under it is passed over.
    const uint64_t hidden = FrameDamageCounted.hidden;
    Lib_SpriteSetColor(slot_, 0xFF00FF00u);
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(at(ReadFrame(), 640, 360), 0x00FF00u);
    EXPECT_EQ(FrameDamageCounted.hidden, hidden + 1);

    // Without the hole the clear and the rectangle are passed over, in the
    // whole frame and in a part, and the frame is the one drawn whole.
    Lib_SpriteFree(above);
    above = FromFile("full.ext");
    ASSERT_GE(above, 0);
    SpriteTable[above].visible = 1;
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(FrameDamageCounted.hidden, hidden + 3);
    Lib_SpriteSetColor(slot_, 0xFF0000FFu);
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(FrameDamageCounted.hidden, hidden + 5);
    frame = ReadFrame();
    EXPECT_EQ(at(frame, 640, 360), 0x0000FFu);
    EXPECT_EQ(frame.pixels, DrawnWhole().pixels);

    // At half alpha the picture hides nothing (its change is the whole
    // frame, which the rectangle does not cover).
    Lib_SpriteSetColor(above, 0x80FFFFFFu);
    EXPECT_TRUE(DrawFrame());
    frame = ReadFrame();
    EXPECT_EQ(FrameDamageCounted.hidden, hidden + 5);
    EXPECT_NE(at(frame, 640, 360), 0x0000FFu);
    EXPECT_EQ(frame.pixels, DrawnWhole().pixels);
    Lib_SpriteFree(above);
}

class FrameSkipTextTest : public TextGlEnv {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        if (!StartText("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                       "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"))
            GTEST_SKIP() << "DejaVu fonts not installed";
        StartSkipping();
    }
    void TearDown() override {
        FrameSkipOn = true;
        TextGlEnv::TearDown();
    }
};

TEST_F(FrameSkipTextTest, EachRevealStepDrawsAFrameThenThePictureIsKept) {
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "HHHH", &pos), 0);
    TextRecord* r = TextTable[0];
    r->speed = 3;  // a character every three frames
    int presents = 0, lastLight = 0, steps = 0;
    for (int frame = 0; frame < 40; ++frame) {
        if (!DrawFrame()) continue;
        ++presents;
        const int light = LightOf(ReadFrame()).count;
        steps += light > lastLight;
        lastLight = light;
    }
    EXPECT_EQ(r->finished, 1);
    EXPECT_EQ(steps, 4);  // every character showed up in a drawn frame
    EXPECT_GE(presents, 4 * 3);
    EXPECT_LE(presents, 4 * 3 + 3);
    EXPECT_EQ(Presents(3), 0);

    // The kept picture is the one a full draw gives.
    const Image kept = ReadFrame();
    FrameSkipOn = false;
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(ReadFrame().pixels, kept.pixels);
}

// A text beside the change is passed over, yet what its drawing leaves for
// the next drawer stays: here a sprite that keeps the bound blend state is
// drawn after it, over a picture added with another blend.
TEST_F(FrameSkipTextTest, AnUnchangedTextBesideTheChangeLeavesItsBlendForTheNextSprite) {
    const int32_t ground = Lib_SpriteLoad(-1, nullptr, -1, 0), mark = Lib_SpriteLoad(-1, nullptr, -1, 0);
    ASSERT_GE(ground, 0);
    ASSERT_GE(mark, 0);
    SpriteTable[ground].visible = 1;
    SpriteTable[ground].effectParams[0] = 1.0f;  // added to the black
    Lib_SpriteSetColor(ground, 0xFF404040u);
    Lib_SpriteSetPrio(ground, 30, -1);  // a higher priority is drawn first
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "HHHH", &pos), 0);
    TextRecord* text = TextTable[0];
    text->clipX = 0, text->clipY = 0, text->clipWidth = 1280, text->clipHeight = 360;  // the upper half
    Lib_TextPrioSet(0, 20);
    SpriteRecord& m = SpriteTable[mark];
    m.visible = 1;
    m.scaleX = m.scaleY = 0.1f;
    m.posY = -250.0f;  // low in the lower half
    m.effectParams[0] = -1.0f;  // keeps the blend state it finds
    Lib_SpriteSetColor(mark, 0x80FF0000u);
    Lib_SpriteSetPrio(mark, 10, -1);
    for (int frame = 0; frame < 40; ++frame) DrawFrame();
    ASSERT_EQ(text->finished, 1);
    ASSERT_EQ(Presents(2), 0);

    const Image whole = DrawnWhole();
    int lit = 0;
    for (uint32_t y = 0; y < 360; ++y)
        for (uint32_t x = 0; x < whole.width; ++x) lit += whole.at(x, y).r > 0x80;
    ASSERT_GT(lit, 0) << "the text is not drawn in the upper half";
    auto changeTheMark = [&] {
        DrawFrame();
        for (uint32_t colour : {0x80C00000u, 0x80FF0000u}) {
            Lib_SpriteSetColor(mark, colour);
            ASSERT_TRUE(DrawFrame());
            const Image part = ReadFrame();
            EXPECT_EQ(part.pixels, DrawnWhole().pixels);
            DrawFrame();
        }
    };
    changeTheMark();  // the text lies beside the change: passed over
    // Clipped to a window that holds the mark, the text is drawn, but none
    // of its glyphs lands in the change: it sets the same blend.
    text->clipHeight = 700;
    for (int frame = 0; frame < 3; ++frame) DrawFrame();
    changeTheMark();
    Lib_SpriteFree(mark);
    Lib_SpriteFree(ground);
}

// A change beside a text whose damage ends inside a glyph: the glyph is
// drawn in that frame, so its pixels inside the damage are there as in a
// frame drawn whole.
TEST_F(FrameSkipTextTest, AGlyphAcrossTheRightEdgeOfTheChangeIsDrawnInIt) {
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "HHHH", &pos), 0);
    TextRecord* text = TextTable[0];
    Lib_TextPrioSet(0, 20);
    for (int frame = 0; frame < 40; ++frame) DrawFrame();
    ASSERT_EQ(text->finished, 1);
    // Where the text's light lies, and the middle of the second glyph's bar.
    const Image alone = DrawnWhole();
    uint32_t top = ~0u, bottom = 0, left = ~0u;
    std::vector<bool> litColumn(alone.width);
    for (uint32_t y = 0; y < alone.height; ++y)
        for (uint32_t x = 0; x < alone.width; ++x)
            if (alone.at(x, y).g > 128) {
                top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x);
                litColumn[x] = true;
            }
    ASSERT_LT(left, alone.width) << "the text is not drawn";
    uint32_t x = left, runs = 0, runStart = 0, cut = 0;
    for (; x < alone.width && runs < 2; ++x)
        if (litColumn[x] && !litColumn[x - 1]) ++runs, runStart = x;
    while (x < alone.width && litColumn[x]) ++x;
    cut = (runStart + x) / 2;
    ASSERT_GE(x - runStart, 8u) << "no glyph wide enough to cut";
    // A mark drawn before the text, from left of it to the middle of that glyph.
    const int32_t mark = Lib_SpriteLoad(-1, nullptr, -1, 0);
    ASSERT_GE(mark, 0);
    SpriteRecord& m = SpriteTable[mark];
    const float x0 = float(left) - 24.0f, x1 = float(cut), y0 = float(top) - 8.0f, y1 = float(bottom) + 8.0f;
    m.visible = 1;
    m.scaleX = (x1 - x0) / 1280.0f, m.scaleY = (y1 - y0) / 720.0f;
    m.posX = (x0 + x1) / 2 - 640.0f, m.posY = 360.0f - (y0 + y1) / 2;
    Lib_SpriteSetColor(mark, 0xFF800000u);
    Lib_SpriteSetPrio(mark, 30, -1);  // a higher priority is drawn first
    for (int frame = 0; frame < 3; ++frame) DrawFrame();
    ASSERT_EQ(Presents(2), 0);
    for (uint32_t colour : {0xFF0000A0u, 0xFF800000u}) {
        Lib_SpriteSetColor(mark, colour);
        const uint64_t partial = FrameDamageCounted.partial;
        ASSERT_TRUE(DrawFrame());
        EXPECT_EQ(FrameDamageCounted.partial, partial + 1) << "drawn in part";
        const Image part = ReadFrame();
        const Image whole = DrawnWhole();
        int differ = 0;
        for (size_t i = 0; i < part.pixels.size(); ++i) differ += std::memcmp(&part.pixels[i], &whole.pixels[i], 4) != 0;
        EXPECT_EQ(differ, 0) << "the mark ends at column " << cut;
        DrawFrame();
    }
    Lib_SpriteFree(mark);
}

}  // namespace
