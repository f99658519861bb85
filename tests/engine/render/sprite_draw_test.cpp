#include "engine/render/sprite_draw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "shaders/shader_set.h"
#include "tests/engine/render/sprite_env.h"

namespace {

constexpr float K = kWorldPerPixel;
using Pair = std::pair<int, int>;

class SpriteDrawTest : public SpriteEnv {
protected:
    void SetUp() override {
        SpriteEnv::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Picture("ext0 r.ext --size 200 100 --pattern solid --colour ff0000ff\n"
                            "ext0 i8.ext --size 8 8 --bpp 8 --pattern index\n"
                            "ext0 pad.ext --size 400 300 --texture 512 512 --pattern solid\n"
                            "ext0 pad8.ext --size 400 300 --texture 512 512 --bpp 8 --pattern solid\n"
                            "ext0 c.ext --size 16 9"));
    }
    void TearDown() override {
        ClearColour[2] = 0.0f;
        SpriteEnv::TearDown();
    }
    static SpriteRecord& Load(const char* file, float scaleX = 1.0f, float scaleY = 1.0f) {
        SpriteRecord& r = SpriteTable[FromFile(file)];
        r.visible = 1;
        r.scaleX = scaleX;
        r.scaleY = scaleY;
        return r;
    }
    static SpriteDrawPlan Plan(const SpriteRecord& r, const CameraRecord* camera = &ActiveCamera) {
        SpriteDrawPlan p{};
        if (!Lib_SpriteDrawPlan(&r, camera, &p)) p.group = p.variant = -1;
        return p;
    }
    static Pair Entry(const SpriteRecord& r) { return {Plan(r).group, Plan(r).variant}; }
};

TEST_F(SpriteDrawTest, GroupAndVariantChoice) {
    SpriteRecord& r = Load("r.ext");
    float* ep = r.effectParams;
    EXPECT_EQ(Entry(r), Pair(0, 5));
    ep[2] = 0.5f;
    EXPECT_EQ(Entry(r), Pair(0, 4));
    ep[2] = ep[3] = ep[4] = 0.0f;
    EXPECT_EQ(Entry(r), Pair(0, 0));
    ep[2] = ep[3] = ep[4] = 1.0f;
    ep[1] = 4.0f;
    EXPECT_EQ(Entry(r), Pair(0, 3));
    EXPECT_EQ(Plan(r).cb.m_color[1][1], 1.0f);
    ep[1] = 0.0f;
    ep[15] = 2.0f;  // a colour blend is not plain
    EXPECT_EQ(Entry(r), Pair(0, 4));
    ep[15] = 0.0f;

    SpriteRecord& blank = SpriteTable[Lib_SpriteLoad(0, nullptr, -1, 0)];
    blank.visible = 1;
    blank.effectParams[1] = 2.0f;
    EXPECT_EQ(Entry(blank), Pair(1, 0));
    SpriteRecord& pal = Load("i8.ext");
    pal.effectParams[1] = 1.0f;
    EXPECT_EQ(Entry(pal), Pair(3, 1));
    pal.effectParams[1] = 0.0f;
    pal.effectParams[2] = 0.5f;
    EXPECT_EQ(Entry(pal), Pair(3, 0));

    // A second sprite picks the empty group 2 only when it is a real slot,
    // and suppresses the draw while it is not ready.
    r.secondSprite = int32_t(&blank - SpriteTable);
    EXPECT_EQ(Plan(r).group, SHADER_GROUP_SECOND);
    for (int32_t none : {720, -7}) {
        r.secondSprite = none;
        EXPECT_EQ(Plan(r).group, SHADER_GROUP_SPRITE);
    }
    r.secondSprite = Lib_SpriteGetFree(0);
    EXPECT_EQ(Plan(r).group, -1);
    r.secondSprite = -1;
    r.visible = 0;
    EXPECT_EQ(Plan(r).group, -1);
}

TEST_F(SpriteDrawTest, PlacementRotationAndConstants) {
    SpriteRecord& r = Load("r.ext");  // 200 × 100, centre (100, 50)
    SpriteDrawPlan p = Plan(r);
    EXPECT_FLOAT_EQ(p.world[0], 200 * K);
    EXPECT_FLOAT_EQ(p.world[5], 100 * K);
    EXPECT_EQ(p.world[10] + p.world[12] + p.world[13], 0.0f);
    float viewed[16], wvp[16];
    Lib_MatrixMul(viewed, ActiveCamera.view, p.world);
    Lib_MatrixMul(wvp, ActiveCamera.lens, viewed);
    EXPECT_EQ(std::memcmp(wvp, p.cb.m_wvp, sizeof wvp), 0);

    r.centerX = r.centerY = 0.0f;  // top-left corner at the position
    p = Plan(r);
    EXPECT_FLOAT_EQ(p.world[12], 100 * K);
    EXPECT_FLOAT_EQ(p.world[13], -50 * K);
    r.centerY = 50.0f;
    r.rotZ = 90.0f;
    p = Plan(r);
    EXPECT_NEAR(p.world[12], 0.0f, 1e-4);
    EXPECT_NEAR(p.world[13], 100 * K, 1e-4);
    EXPECT_NEAR(p.world[1], 200 * K, 1e-4);  // the x axis turned onto y

    r.rotZ = 0.0f;
    r.posX = 10.0f;
    r.shiftY = 5.0f;
    r.scaleX = 2.0f;
    FrameTimeCounter = 42.0f;
    p = Plan(r);
    FrameTimeCounter = 0.0f;
    EXPECT_FLOAT_EQ(p.world[12], (10 + 200) * K);  // (100 − 0) × scale 2 + pos
    EXPECT_FLOAT_EQ(p.world[13], 5 * K);
    EXPECT_EQ(p.cb.m_work[6][2], 42.0f);
    const float work22[4] = {10.0f, 5.0f, 2.0f, 1.0f};
    EXPECT_EQ(std::memcmp(p.cb.m_work[22], work22, sizeof work22), 0);
}

// Pins the pivot correction for padded textures drawn whole: with the
// default centre it cancels the centring, so the picture's centre lies 56 px
// left of and 106 px above the position.
TEST_F(SpriteDrawTest, PaddedTexturePivot) {
    SpriteRecord& pad = Load("pad.ext");
    EXPECT_EQ(Lib_SpritePadPivot(&pad).x, -56.0f);
    EXPECT_EQ(Lib_SpritePadPivot(&pad).y, -106.0f);
    EXPECT_EQ(Plan(pad).world[12] + Plan(pad).world[13], 0.0f);
    pad.centerX = 10.0f;
    pad.centerY = 20.0f;
    EXPECT_FLOAT_EQ(Plan(pad).world[12], 190 * K);
    EXPECT_FLOAT_EQ(Plan(pad).world[13], -130 * K);
    const int32_t part[4] = {0, 0, 400, 300};
    Lib_SpriteSetRect(int32_t(&pad - SpriteTable), part);
    EXPECT_EQ(Lib_SpritePadPivot(&pad).x, 0.0f);

    // A padded palette picture shows its picture part only; the draw
    // rewrites the record's uvRect.
    SpriteRecord& pad8 = Load("pad8.ext");
    SpriteDrawPlan p = Plan(pad8);
    ASSERT_EQ(p.group, SHADER_GROUP_PALETTE);
    EXPECT_FLOAT_EQ(p.cb.m_crop[2], 400.0f / 512);
    EXPECT_FLOAT_EQ(p.world[12], -56 * K);
    EXPECT_FLOAT_EQ(p.world[13], 106 * K);
    Lib_SpriteDrawCB(reinterpret_cast<uint64_t>(&pad8));
    EXPECT_FLOAT_EQ(pad8.uvRect[3], 300.0f / 512);
}

// Through the walk: upright and placed, clipped, the scissor back to the
// whole frame for the next sprite, blend indices clamped.
TEST_F(SpriteDrawTest, WalkDrawsUprightClipsAndRestoresTheScissor) {
    SpriteRecord& c = Load("c.ext", 80.0f, 80.0f);  // 16 × 9 over the whole frame
    Lib_DrawWalk();
    Image frame = ReadFrame();
    for (uint32_t y : {0u, 8u}) {
        for (uint32_t x : {0u, 7u, 15u}) {
            const Bgra got = frame.at(80 * x + 40, 80 * y + 40), want = Coords(x, y);
            EXPECT_NEAR(got.r, want.r, 1) << x << "," << y;
            EXPECT_NEAR(got.g + got.b, want.g + want.b, 1) << x << "," << y;
        }
    }

    c.visible = 0;
    SpriteRecord& red = Load("r.ext", 6.4f, 7.2f);
    const int32_t clip[4] = {100, 50, 200, 100};
    std::memcpy(red.clipRect, clip, sizeof clip);
    ClearColour[2] = 1.0f;
    Lib_DrawWalk();
    EXPECT_TRUE(RectIs(ReadFrame(), {100, 50, 200, 100}, Bgra{0, 0, 255, 255}, Bgra{255, 0, 0, 255}));
    SpriteRecord& full = Load("r.ext", 6.4f, 7.2f);  // unclipped, drawn after the clipped one
    Lib_SpriteSetPrio(int32_t(&red - SpriteTable), 10, 0);
    Lib_DrawWalk();
    EXPECT_TRUE(RectIs(ReadFrame(), {0, 0, 1280, 720}, Bgra{0, 0, 255, 255}, Bgra{}));

    // A blend index outside 0..9 keeps the bound state (here additive).
    red.visible = 0;
    ClearColour[2] = 128.0f / 255.0f;
    for (float index : {12.0f, -1.0f, NAN, 0.9f}) {
        Lib_BlendSet(renderer(), 1);
        full.effectParams[0] = index;
        Lib_DrawWalk();
        const Bgra want = index == 0.9f ? Bgra{0, 0, 255, 255} : Bgra{128, 0, 255, 255};  // 0.9: state 0
        EXPECT_EQ(ReadFrame().at(640, 360), want) << index;
    }
}

// GL reads a missing view as opaque black: a picture whose texture or
// palette view is 0 draws nothing, and one whose mask is switched on without
// a mask view is hidden. The samplers read a texture made without a mip
// chain (GL's default level range) as it is.
TEST_F(SpriteDrawTest, MissingViewsDrawNothingAndSamplersNeedNoMipChain) {
    SpriteRecord& red = Load("r.ext", 6.4f, 7.2f);  // over the whole frame
    ClearColour[2] = 1.0f;
    const Bgra blue{255, 0, 0, 255};
    auto centre = [] {
        Lib_DrawWalk();
        return ReadFrame().at(640, 360);
    };
    EXPECT_EQ(centre(), (Bgra{0, 0, 255, 255}));
    const uint32_t view = red.textureView;
    red.textureView = 0;
    EXPECT_EQ(centre(), blue);
    red.textureView = view;
    int maskData = 0;
    red.maskImage = &maskData;
    EXPECT_EQ(centre(), blue);
    red.maskImage = nullptr;

    GLuint plain = 0;
    glGenTextures(1, &plain);
    glBindTexture(GL_TEXTURE_2D, plain);
    const Bgra green{0, 255, 0, 255}, texels[4] = {green, green, green, green};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels);  // level 1 missing
    const uint32_t sampler = red.sampler;
    for (int32_t kind : {0, 1, 2}) {
        uint32_t made = 0;
        Lib_SamplerCreate(kind, &made);
        red.sampler = made;
        red.textureView = plain;
        EXPECT_EQ(centre(), green) << "kind " << kind;
        glDeleteSamplers(1, &made);
        --SpriteLiveObjects;
    }
    red.sampler = sampler;
    red.textureView = view;
    glDeleteTextures(1, &plain);

    red.visible = 0;
    SpriteRecord& pal = Load("i8.ext", 160.0f, 90.0f);
    EXPECT_NE(centre(), blue);
    const uint32_t palette = pal.paletteView;
    pal.paletteView = 0;
    EXPECT_EQ(centre(), blue);
    pal.paletteView = palette;
}

// The camera is chosen before the switch; the active camera comes back bit
// for bit.
TEST_F(SpriteDrawTest, CameraSwitchAndRestore) {
    SpriteRecord& r = Load("r.ext");
    ActiveCamera.distance = 80.0f;
    ActiveCamera.yaw = 10.0f;
    Lib_CameraUpdate(nullptr);
    const CameraRecord before = ActiveCamera;
    CameraRecord own = ActiveCamera, perspective, ortho;
    own.distance = 30.0f;
    Lib_CameraUpdate(&own);
    Lib_CameraReset(&perspective);
    Lib_CameraSwitch(0, 1, 1);
    ortho = ActiveCamera;
    Lib_CameraSwitch(0, 0, 0);

    const struct {
        CameraRecord* camera;
        uint32_t mode;
        const CameraRecord* used;
    } cases[] = {{&own, 2, &own}, {nullptr, 2, &perspective}, {nullptr, 4, &ortho}, {nullptr, 1, &before}};
    for (const auto& c : cases) {
        r.camera = c.camera;
        r.cameraMode = c.mode;
        Lib_SpriteDrawCB(reinterpret_cast<uint64_t>(&r));
        EXPECT_EQ(std::memcmp(&ActiveCamera, &before, sizeof before), 0) << c.mode;
        ConstBuf sent;
        glBindBuffer(GL_UNIFORM_BUFFER, renderer()->constBuffer);
        glGetBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof sent, &sent);
        EXPECT_EQ(std::memcmp(sent.m_wvp, Plan(r, c.used).cb.m_wvp, sizeof sent.m_wvp), 0) << c.mode;
    }
    Lib_CameraReset(&ActiveCamera);
}

}  // namespace
