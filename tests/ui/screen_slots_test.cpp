// The numbered slots of a screen context: loads, copies and their parents,
// sounds and the names kept for the restore.
#include <gtest/gtest.h>

#include <string>

#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
using ScreenSlotsTest = ScreenHarness;

TEST_F(ScreenSlotsTest, CopiesFollowTheirSourceAndWaitForItsLoad) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Tool("image_data.py", "visual/a.ext", "ext0 {} --size 16 8"),
                       Tool("image_data.py", "../parts/b.ext", "ext0 {} --size 8 8"),
                       Tool("vndata.py", "visual/parts.arc", "arc {} root/../parts/b.ext")}));
    const ModeFunction s = TestScreen(0);
    EXPECT_TRUE(GSL_WorkLayersReady(s));  // no context yet
    ScreenWork* w = MakeContext(s);
    ASSERT_NE(w, nullptr);

    // A copy of a loading picture is refused and leaves the destination alone.
    const int32_t pic = GSL_WorkLayerLoad(s, 4, -1, "visual/a.ext", -1, 0, "tag", nullptr);
    ASSERT_GE(pic, 0);
    const int32_t old = GSL_WorkLayerLoad(s, 9, -1, nullptr, -1, 0, nullptr, nullptr);
    EXPECT_FALSE(GSL_WorkLayersReady(s));
    EXPECT_EQ(GSL_WorkLayerCopy(s, 9, 4, -1), -1);
    EXPECT_EQ(GSL_WorkLayerGet(s, 9), old);
    EXPECT_EQ(w->layers[9].source, -1);
    EXPECT_EQ(GSL_WorkLayerCopy(s, 9, 8, -1), -2);  // empty source
    FramesUntil([&] { return GSL_WorkLayersReady(s); }, 10, "the picture");
    const int32_t copy = GSL_WorkLayerCopy(s, 9, 4, -1);
    EXPECT_GE(copy, 0);
    EXPECT_NE(copy, pic);
    EXPECT_EQ(w->layers[9].source, 4);
    EXPECT_STREQ(w->layers[9].file, "visual/a.ext");
    EXPECT_STREQ(w->layers[9].tag, "tag");

    // Freeing the source makes the first copy a source and re-parents the rest.
    for (uint32_t dst : {10u, 20u, 30u}) ASSERT_GE(GSL_WorkLayerCopy(s, dst, 4, -1), 0);
    GSL_WorkLayerFree(s, 4);
    EXPECT_EQ(GSL_WorkLayerGet(s, 4), -1);
    EXPECT_EQ(w->layers[9].source, -1);
    for (uint32_t dst : {10u, 20u, 30u}) EXPECT_EQ(w->layers[dst].source, 9) << dst;
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_WorkLayerGet(s, 20)));

    // A container member, the container queued for loading.
    const int32_t member = GSL_WorkLayerLoad(s, 50, -1, "b.ext", -1, 1, nullptr, "visual/parts.arc");
    ASSERT_GE(member, 0);
    EXPECT_STREQ(w->layers[50].container, "visual/parts.arc");
    FramesUntil([&] { return GSL_WorkLayersReady(s); }, 10, "the member");
    EXPECT_EQ(Lib_SpriteGetState(member), 2);
    EXPECT_EQ(SpriteTable[member].textureWidth, 8);
}

TEST_F(ScreenSlotsTest, SoundsKeepTheirRestoreKindOnlyWhenEndless) {
    if (IsSkipped()) return;
    const ModeFunction s = TestScreen(0);
    ScreenWork* w = MakeContext(s);
    EXPECT_EQ(GSL_WorkSoundSet(s, 3, {.file = "sound/se/a.wav", .extra = 7, .restore = SOUND_EFFECT, .releaseFade = 40,
                                      .repeat = 1}),
              3);
    EXPECT_EQ(w->sounds[3].restoreKind, -1);
    EXPECT_EQ(w->sounds[3].extra, 7);
    EXPECT_EQ(GSL_WorkSoundSet(s, 0, {.file = "sound/bgm/a.oggl", .releaseFade = 40}), 0);
    EXPECT_EQ(w->sounds[0].restoreKind, 1);
    EXPECT_EQ(w->sounds[0].releaseFade, 40u);
    EXPECT_EQ(GSL_WorkSoundSet(s, 23, {.file = "x"}), -1);
    GSL_WorkSoundStop(s, 0, 0);
    EXPECT_EQ(GSL_WorkSoundGet(s, 0), -1);
    EXPECT_EQ(w->sounds[0].restoreKind, -1);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 16u);
}

TEST_F(ScreenSlotsTest, LongNamesAreCutAndTerminated) {
    if (IsSkipped()) return;
    const ModeFunction s = TestScreen(0);
    ScreenWork* w = MakeContext(s);
    const std::string longName(300, 'a'), longTag(20, 't');
    // 254 bytes and a two-byte character: the character does not fit.
    const std::string wide = std::string(254, 'b') + "\xc3\xa9" + "cc";
    EXPECT_EQ(GSL_WorkLayerLoad(s, 1, -1, longName.c_str(), -1, 0, longTag.c_str(), wide.c_str()), -1);
    EXPECT_EQ(std::string(w->layers[1].file), longName.substr(0, 255));
    EXPECT_EQ(std::string(w->layers[1].tag), longTag.substr(0, 15));
    EXPECT_EQ(std::string(w->layers[1].container), wide.substr(0, 254));
    // A sound name of 256 bytes or more is refused; the slot records -1.
    EXPECT_EQ(GSL_WorkSoundSet(s, 2, {.file = longName.c_str()}), -1);
    EXPECT_EQ(GSL_WorkSoundGet(s, 2), -1);
    EXPECT_EQ(std::string(w->sounds[2].file), longName.substr(0, 255));
    EXPECT_EQ(GSL_WorkLayerLoad(s, 2, -1, "x", -1, 0, nullptr, nullptr) >= 0, true);
    EXPECT_STREQ(w->layers[2].tag, "");
    EXPECT_STREQ(w->layers[2].container, "");
    FailLoad("x");
    Frame();
}
}  // namespace
