// The rule-image wipe, the save thumbnail composition and the loading icon,
// through the full main initialisation with rendered frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/files/file_loader.h"
#include "engine/render/sprite_load.h"
#include "engine/text/font.h"
#include "story/story_screen.h"
#include "tests/ui/screen_harness.h"
#include "ui/loading.h"
#include "ui/overlay.h"
#include "ui/wipe.h"

namespace {

// A rule 64×36: the top half an alpha ramp from left (0) to right (255), the
// bottom half opaque, so that a flipped rule shows.
std::string Rule(const char* format, int bpp = 32, int descriptor = 0x10) {
    return std::string("{\"format\": \"") + format + "\", \"bpp\": " + std::to_string(bpp) +
           ", \"descriptor\": " + std::to_string(descriptor) +
           ", \"size\": [64, 36], \"background\": \"#00000000\", \"shapes\": ["
           "{\"gradient\": [0, 0, 64, 18], \"from\": \"#ffffff00\", \"to\": \"#ffffffff\"},"
           "{\"rect\": [0, 18, 64, 18], \"colour\": \"#ffffffff\"}]}";
}

class WipeTest : public ScreenHarness {
protected:
    bool Data() {
        return Files({Bytes("src/r32.pict", Rule("ext0")), Bytes("src/r8.pict", Rule("ext0", 8)),
                      Bytes("src/r18.pict", Rule("tga", 32, 0)), Bytes("src/rpng.pict", Rule("png")),
                      Tool("image_data.py", "visual/wipe/r32.ext", "pict {} root/src/r32.pict"),
                      Tool("image_data.py", "visual/wipe/r8.ext", "pict {} root/src/r8.pict"),
                      Tool("image_data.py", "visual/wipe/r18.tga", "pict {} root/src/r18.pict"),
                      Tool("image_data.py", "visual/wipe/rpng.png", "pict {} root/src/rpng.pict"),
                      Bytes("visual/wipe/broken.ext", "EXT0 and nothing else"),
                      Tool("image_data.py", "visual/system/sys_system_05.ext",
                           "ext0 {} --size 520 832 --pattern solid --colour 20c0ffff"),
                      Tool("image_data.py", "visual/system/sys_system_03.ext", "ext0 {} --size 144 144")});
    }
    // The main tasks with an idle screen, the overlay cleared and a red
    // full-screen picture behind everything.
    void Start() {
        ASSERT_TRUE(Data());
        DrawFrames(true);  // a wipe starts from the scene a frame drew
        StartFull();
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        GSL_SystemDispColorSet(0x00000000u, 0);
        background = Lib_SpriteLoad(-1, nullptr, -1, 0);
        Lib_SpriteSetColor(background, 0xFF0000FFu);
        Lib_SpriteSetPrio(background, 100, 0);
        Lib_SpriteSetFlag(background, 1);
        Frame();
    }
    void TearDown() override {
        if (background >= 0) Lib_SpriteFree(background);
        ScreenHarness::TearDown();
    }
    // A held wipe of `path` once its capture shows.
    int32_t HeldWipe(const char* path, uint32_t flags = WIPE_HOLD) {
        const int32_t slot = GSL_SystemWipeSet(path, -1, 30, 5, 50, 0, flags);
        EXPECT_GE(slot, 0);
        FramesUntil([slot] { return GSL_SystemWipeStatus(slot) != WIPE_PREPARING; }, 10, "the capture");
        return slot;
    }
    // The frame with the capture (red) over a now blue background, at progress p.
    Image HalfWay(int32_t slot, float progress) {
        Lib_SpriteSetColor(background, 0xFFFF0000u);
        GSL_SystemWipeWork(slot)->progress = progress;
        Frame();
        return Render();
    }
    int32_t background = -1;
};

TEST_F(WipeTest, ProgressHoldKeepAndZeroFrames) {
    if (IsSkipped()) return;
    Start();
    const int32_t slot = HeldWipe("visual/wipe/r32.ext");
    ASSERT_EQ(GSL_SystemWipeStatus(slot), WIPE_RUNNING);
    WipeWork* w = GSL_SystemWipeWork(slot);
    const int32_t capture = w->capture;
    EXPECT_EQ(SpriteTable[capture].priority, 5);
    Frame(3);
    EXPECT_EQ(w->progress, 0.0f);  // held
    w->flags &= ~WIPE_HOLD;
    Frame();  // the step is taken
    std::vector<float> progress;
    for (int i = 0; i < 30 && GSL_SystemWipeStatus(slot) != WIPE_FINISHED; ++i) {
        Frame();
        progress.push_back(w->progress);
    }
    ASSERT_EQ(progress.size(), 30u);
    EXPECT_NEAR(progress[0], 512.0f / 30.0f, 1e-4f);
    EXPECT_LT(progress[28], 512.0f);
    EXPECT_EQ(progress[29], 512.0f);
    EXPECT_EQ(GSL_SystemWipeStatus(slot), WIPE_FINISHED);
    EXPECT_EQ(w->capture, -1);
    EXPECT_FALSE(SpriteTable[capture].flags & SPRITE_IN_USE);
    GSL_SystemWipeDel(slot);
    EXPECT_EQ(GSL_SystemWipeStatus(slot), WIPE_FINISHED);  // a bad slot

    // A kept capture stays until the wipe is deleted.
    const int32_t kept = HeldWipe("visual/wipe/r32.ext", WIPE_KEEP_CAPTURE);
    FramesUntil([kept] { return GSL_SystemWipeStatus(kept) == WIPE_FINISHED; }, 40, "the kept wipe");
    ASSERT_GE(GSL_SystemWipeWork(kept)->capture, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_SystemWipeWork(kept)->capture));
    GSL_SystemWipeDel(kept);
    // No frames: finished in one frame after the step.
    const int32_t instant = GSL_SystemWipeSet("visual/wipe/r32.ext", -1, 0, 5, 50, 0, 0);
    FramesUntil([instant] { return GSL_SystemWipeStatus(instant) == WIPE_RUNNING; }, 10, "the capture");
    Frame(2);
    EXPECT_EQ(GSL_SystemWipeWork(instant)->progress, 512.0f);
    EXPECT_EQ(GSL_SystemWipeStatus(instant), WIPE_FINISHED);
    GSL_SystemWipeDel(instant);
}

TEST_F(WipeTest, ConstantBlockBytes) {
    WipeWork w{};
    w.flags = WIPE_INVERT | WIPE_MIRROR_V | WIPE_KEEP_CAPTURE;
    w.progress = 128.0f;
    w.lowering = 0.5f;
    SpriteRecord r{};
    r.imageWidth = 1280;
    r.imageHeight = 720;
    r.posX = 10.0f;
    r.posY = -20.0f;
    r.posZ = 4.0f;
    r.scaleX = 0.5f;
    r.scaleY = 0.25f;
    CameraRecord camera{};
    Lib_MatrixIdentity(camera.view);
    Lib_MatrixIdentity(camera.lens);
    camera.view[14] = -50.0f;  // moved back
    camera.lens[0] = 2.0f;
    ConstBuf cb;
    std::memset(&cb, 0xAB, sizeof cb);
    GSL_SystemWipeConstBuf(&w, &r, &camera, &cb);
    constexpr float K = kWorldPerPixel;
    const float want[16] = {0.5f * 1280.0f * K * 2.0f, 0, 0, 0, 0, 0.25f * 720.0f * K, 0, 0, 0, 0, 0, 0,
                            10.0f * K * 2.0f, -20.0f * K, 4.0f * K - 50.0f, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(cb.m_wvp[i], want[i]) << i;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&cb);
    for (int i = 64; i < 128; ++i) EXPECT_EQ(bytes[i], 0) << i;
    const float work0[4] = {1.0f, 0.0f, 1.0f, 0.5f}, work1[4] = {0.0f, 0.0f, 0.5f, 0.0f};
    EXPECT_EQ(std::memcmp(cb.m_work[0], work0, 16), 0);
    EXPECT_EQ(std::memcmp(cb.m_work[1], work1, 16), 0);
    for (size_t i = 160; i < sizeof cb; ++i) EXPECT_EQ(bytes[i], 0) << i;
    w.flags = 0;
    GSL_SystemWipeConstBuf(&w, &r, &camera, &cb);
    EXPECT_EQ(cb.m_work[1][3], 1.0f);
}

TEST_F(WipeTest, RulesOfEveryKindDrawAlikeAndABrokenOneEndsTheWipe) {
    if (IsSkipped()) return;
    Start();
    const int32_t slot = HeldWipe("visual/wipe/r32.ext");
    const Image ref = HalfWay(slot, 256.0f);
    // Threshold 1: the capture's alpha is the rule's. Left blue, right red,
    // the bottom (opaque rule) red: the rule is upright.
    EXPECT_GT(ref.at(8, 100).b, 200);
    EXPECT_LT(ref.at(8, 100).r, 60);
    EXPECT_GT(ref.at(1270, 100).r, 200);
    EXPECT_GT(ref.at(640, 600).r, 240);
    EXPECT_LT(ref.at(640, 600).b, 16);
    EXPECT_TRUE(MatchesReference("wipe_halfway"));
    GSL_SystemWipeDel(slot);
    Lib_SpriteSetColor(background, 0xFF0000FFu);
    Frame();

    for (const char* path : {"visual/wipe/r8.ext", "visual/wipe/r18.tga", "visual/wipe/rpng.png"}) {
        const int32_t other = HeldWipe(path);
        ASSERT_EQ(GSL_SystemWipeStatus(other), WIPE_RUNNING) << path;
        const Image got = HalfWay(other, 256.0f);
        int worst = 0;
        for (auto [x, y] : {std::pair{8, 100}, {320, 100}, {640, 100}, {960, 100}, {1270, 100}, {640, 600}})
            worst = std::max({worst, std::abs(got.at(x, y).r - ref.at(x, y).r), std::abs(got.at(x, y).b - ref.at(x, y).b)});
        EXPECT_LE(worst, 8) << path;
        GSL_SystemWipeDel(other);
        Lib_SpriteSetColor(background, 0xFF0000FFu);
        Frame();
    }

    // No request slot: finished at once.
    std::vector<uint8_t> saved;
    for (FileLoadRequest& r : FileLoadTable.slots) saved.push_back(r.flags.fetch_or(1));
    const int32_t noSlot = GSL_SystemWipeSet("visual/wipe/r32.ext", -1, 30, 5, 50, 0, 0);
    for (size_t i = 0; i < saved.size(); ++i) FileLoadTable.slots[i].flags = saved[i];
    EXPECT_EQ(GSL_SystemWipeStatus(noSlot), WIPE_FINISHED);
    EXPECT_NE(GSL_SystemWipeWork(noSlot), nullptr);
    GSL_SystemWipeDel(noSlot);
    for (const char* path : {"visual/wipe/broken.ext", "visual/wipe/missing.ext"}) {
        const int32_t broken = GSL_SystemWipeSet(path, -1, 30, 5, 50, 0, 0);
        FramesUntil([broken] { return GSL_SystemWipeStatus(broken) == WIPE_FINISHED; }, 5, path);
        EXPECT_EQ(GSL_SystemWipeWork(broken)->capture, -1);
        GSL_SystemWipeDel(broken);
    }
}

// Each wipe owns its rule texture: deleting the first leaves the second
// drawing, and nothing is left behind (the harness counts GL objects).
TEST_F(WipeTest, TwoWipesInARow) {
    if (IsSkipped()) return;
    Start();
    const int32_t first = HeldWipe("visual/wipe/r32.ext");
    const int32_t second = HeldWipe("visual/wipe/r8.ext");
    const uint32_t secondRule = GSL_SystemWipeWork(second)->ruleTexture;
    EXPECT_NE(GSL_SystemWipeWork(first)->ruleTexture, secondRule);
    EXPECT_EQ(WipeRuleTexture, secondRule);
    GSL_SystemWipeDel(first);
    EXPECT_EQ(WipeRuleTexture, secondRule);
    const Image got = HalfWay(second, 256.0f);
    EXPECT_GT(got.at(1270, 100).r, 200);
    GSL_SystemWipeDel(second);
    EXPECT_EQ(WipeRuleTexture, 0u);
    // One left running is deleted with the main tasks.
    HeldWipe("visual/wipe/r32.ext");
}

TEST_F(WipeTest, ThumbnailComposition) {
    if (IsSkipped()) return;
    Start();
    Lib_SpriteSetColor(background, 0xFF30A0F0u);
    const int32_t language = InterfaceLanguage;
    InterfaceLanguage = 2;
    StoryCaptureSprite = -2;
    const int32_t slot = GSL_SystemSaveIcon0Set(50);
    ASSERT_GE(slot, 0);
    auto* w = reinterpret_cast<SaveIconWork*>(TaskTable.slots[slot]->work);
    std::vector<int> states;
    for (int i = 0; i < 30 && TaskTable.slots[slot] && !TaskTable.slots[slot]->dead; ++i) {
        if (states.empty() || states.back() != w->state) states.push_back(w->state);
        if (w->state == 11 && Lib_SpriteIsLive(w->frame)) {
            const SpriteRecord& f = SpriteTable[w->frame];
            EXPECT_EQ(f.priority, 20000002);
            EXPECT_FLOAT_EQ(f.scaleX, 0.26f);
            EXPECT_NEAR(f.posX, -568.66f, 1e-3f);
            EXPECT_NEAR(f.posY, 333.96f, 1e-3f);
            EXPECT_EQ(f.cameraMode, 2u);
            EXPECT_EQ(f.srcRect[1], 8 + 416);  // language 2: item 3's y
            EXPECT_EQ(SpriteTable[w->backdrop].priority, 20000000);
            EXPECT_EQ(SpriteTable[w->backdrop].color, 0xFF000000u);
        }
        if ((w->state == 12 || w->state == 13) && w->first >= 0) {
            EXPECT_EQ(SpriteTable[w->first].priority, 20000003);
            EXPECT_EQ(SpriteTable[w->first].posX, -480.0f);
            EXPECT_EQ(SpriteTable[w->first].posY, 270.0f);
        }
        Frame();
    }
    // One state a pass: two a frame at most, and every wait held.
    EXPECT_TRUE(std::is_sorted(states.begin(), states.end()));
    EXPECT_EQ(states.back(), 13);
    InterfaceLanguage = language;
    ASSERT_GE(StoryCaptureSprite, 0);
    EXPECT_EQ(Lib_SpriteGetState(StoryCaptureSprite), 2);
    // The composition, shown whole in front of everything.
    Lib_SpriteSetFlag(StoryCaptureSprite, 1);
    Lib_SpriteSetPrio(StoryCaptureSprite, 1, 0);
    Frame();
    EXPECT_TRUE(MatchesReference("thumbnail_corner", Crop{0, 0, 320, 180}));
    Lib_SpriteFree(StoryCaptureSprite);
    StoryCaptureSprite = -1;
}

TEST_F(WipeTest, ThumbnailEndsWhenItsSpritesFail) {
    if (IsSkipped()) return;
    Start();
    StoryCaptureSprite = -2;
    const int32_t slot = GSL_SystemSaveIcon0Set(50);
    Frame();  // state 1: the frame sprite requested
    ASSERT_TRUE(FailLoad("visual/system/sys_system_05.ext"));
    Frame(2);
    // No sprite slot left for the captures.
    std::vector<int32_t> filler;
    for (int32_t s; (s = Lib_SpriteLoad(-1, nullptr, -1, 0)) >= 0;) filler.push_back(s);
    FramesUntil([slot] { return !TaskTable.slots[slot] || TaskTable.slots[slot]->dead; }, 20, "the end");
    EXPECT_EQ(StoryCaptureSprite, -1);
    EXPECT_NE(Log().find("save thumbnail"), std::string::npos);
    for (int32_t s : filler) Lib_SpriteFree(s);
}

TEST_F(WipeTest, LoadingIconTurnsAndBreathes) {
    if (IsSkipped()) return;
    Start();
    const int32_t slot = GSL_SystemLoadingSet(7, 1);
    ASSERT_GE(slot, 0);
    EXPECT_FALSE(GSL_SystemLoadingCheck(slot));
    FramesUntil([slot] { return GSL_SystemLoadingCheck(slot); }, 10, "the icon");
    const auto* w = reinterpret_cast<LoadingWork*>(TaskTable.slots[slot]->work);
    const SpriteRecord& icon = SpriteTable[w->icon];
    EXPECT_EQ(icon.posX, 534.0f);
    EXPECT_EQ(icon.posY, -266.0f);
    EXPECT_EQ(icon.priority, 7);
    EXPECT_EQ(icon.cameraMode, 2u);
    EXPECT_EQ(icon.srcRect[0], 8);
    EXPECT_EQ(icon.srcRect[2], 128);
    EXPECT_TRUE(icon.visible);
    const float z0 = icon.rotZ;
    std::vector<float> scale{icon.scaleX};
    for (int i = 0; i < 42; ++i) {
        Frame();
        scale.push_back(icon.scaleX);
    }
    EXPECT_FLOAT_EQ(icon.rotZ, z0 - 84.0f + (z0 - 84.0f < 0.0f ? 360.0f : 0.0f));
    EXPECT_NEAR(scale[0], 0.99f, 1e-5f);
    EXPECT_NEAR(scale[20], 0.79f, 1e-5f);
    EXPECT_NEAR(scale[41], 1.0f, 1e-5f);
    EXPECT_TRUE(GSL_SystemLoadingCheck(-1));
    GSL_SystemLoadingDel(slot);
    EXPECT_TRUE(GSL_SystemLoadingCheck(slot));
}

}  // namespace
