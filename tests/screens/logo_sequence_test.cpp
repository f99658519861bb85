// The logo sequence: its timeline with no input, the skip during the brand
// call, and a missing picture that still reaches the title.
#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "engine/sound/sound.h"
#include "screens/logo.h"
#include "screens/system_screens.h"
#include "story/story_services.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

namespace {
using LogoSequence = ScreenHarness;

const ScreenWork* Logo() { return GSL_WorkGet(GSL_LogoModeCB); }
int32_t Index() { return Logo() ? GSL_WorkWord(Logo(), 0) : -1; }
bool At(int32_t n, int32_t subState) {
    const ScreenWork* w = Logo();
    return w && w->step == 2 && Index() == n && w->subState == subState;
}

bool Pictures(bool publisher) {
    if (publisher)
        return ScreenHarness::Files({Tool("image_data.py", "visual/system/sys_logo_caution_\xE8\x8B\xB1.ext", "ext0 {} --size 16 16"),
                                     Tool("image_data.py", "visual/system/sys_logo_holder.ext", "ext0 {} --size 16 16"),
                                     Tool("image_data.py", "visual/system/sys_logo_pub.ext", "ext0 {} --size 16 16")});
    return ScreenHarness::Files({Tool("image_data.py", "visual/system/sys_logo_caution_\xE8\x8B\xB1.ext", "ext0 {} --size 16 16"),
                                 Tool("image_data.py", "visual/system/sys_logo_holder.ext", "ext0 {} --size 16 16")});
}

void Begin(LogoSequence* h) {
    h->StartFull();
    ModeStack[0] = GSL_LogoModeCB;  // in the boot flow's place
    SystemDataBlock.language = 1;
}

TEST_F(LogoSequence, WithNoInputEachLogoHoldsItsTimeAndTheTitleFollows) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Pictures(true));
    Begin(this);
    EXPECT_EQ(GSL_LogoGetDuration(0), 5000000u);
    EXPECT_EQ(GSL_LogoGetDuration(-1), 0u);
    EXPECT_EQ(GSL_LogoGetDuration(4), 0u);
    // A press before the overlay has cleared does nothing.
    FramesUntil([] { return At(0, 10); }, 60, "logo 0 up");
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    int frames = 0;
    FramesUntil([&] { ++frames; return At(0, 12); }, 120, "logo 0 waiting");
    EXPECT_GE(frames, 55) << "the overlay clears over 60 frames";
    EXPECT_LE(frames, 64);
    const int32_t logo0 = GSL_WorkLayerGet(GSL_LogoModeCB, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(logo0)) << "the caution picture in the interface language";
    int held = 0;
    FramesUntil([&] { ++held; return At(0, 13); }, 400, "logo 0 fading out");
    EXPECT_GE(held, 299) << "held at least 5 s";
    int fade = 0;
    FramesUntil([&] { ++fade; return At(1, 14); }, 100, "logo 1 fading in");
    EXPECT_EQ(fade - 1, 64);  // the first look comes before any frame
    fade = 0;
    FramesUntil([&] { ++fade; return At(1, 0); }, 100, "logo 1 in");
    EXPECT_EQ(fade - 1, 64);  // the first look comes before any frame
    bool logo2Shown = false;
    FramesUntil([&] {
        const int32_t h = GSL_WorkLayerGet(GSL_LogoModeCB, 2);
        logo2Shown |= h >= 0 && Lib_SpriteAt(h) && Lib_SpriteAt(h)->visible;
        return At(3, 14);
    }, 400, "logo 3 fading in");
    EXPECT_FALSE(logo2Shown);
    FramesUntil([] { return GSL_ModeTop() == GSL_TitleModeCB; }, 400, "the title");
    EXPECT_EQ(GSL_ModeCount(), 1);
    EXPECT_EQ(GSL_WorkGet(GSL_LogoModeCB), nullptr);
    ModeStack[0] = nullptr;  // the title is a stand-in here
}

// The skipped brand call is cut at the end of the logo's fade-out, without
// a fade of its own.
TEST_F(LogoSequence, DecideDuringTheBrandCallFadesTheLogoOutAtOnce) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Pictures(true));
    ASSERT_TRUE(Files({Tool("sound_data.py", "sound/voice_system/brand.ogg",
                            "ogg {} --rate 22050 --frames 220500 --tone 441 --quality 0")}));
    Begin(this);
    FramesUntil([] { return At(1, 12); }, 600, "logo 1 waiting");
    SoundChannel& voice = SoundChannelTable[22];  // a long brand call, still speaking
    ASSERT_TRUE(Lib_SoundRequest(voice, "sound/voice_system/brand.ogg", 0, 0, nullptr));
    GSL_WorkGet(GSL_LogoModeCB)->sounds[22].handle = 22;
    ASSERT_TRUE(FramesUntil([&] { return (voice.st.state.load() & SOUND_PLAYING) != 0; }, 60, "the call"));
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    EXPECT_TRUE(At(1, 13));
    int fade = 0;
    FramesUntil([&] { ++fade; return Index() == 3; }, 100, "logo 3");
    EXPECT_EQ(fade - 1, 64);  // the first look comes before any frame
    int silent = 0;
    FramesUntil([&] { ++silent; return !(voice.st.flags.load() & SOUND_IN_USE); }, 60, "the call stopped");
    EXPECT_LT(silent, 8) << "stopped, not faded out over the default 16 frames";
    FramesUntil([] { return GSL_ModeTop() == GSL_TitleModeCB; }, 600, "the title");
    ModeStack[0] = nullptr;
}

TEST_F(LogoSequence, AMissingPictureStillReachesTheTitle) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Pictures(false));
    Begin(this);
    FramesUntil([] { return At(3, 12); }, 1200, "logo 3 waiting");
    EXPECT_FALSE(Lib_SpriteIsLive(GSL_WorkLayerGet(GSL_LogoModeCB, 3)));
    FramesUntil([] { return GSL_ModeTop() == GSL_TitleModeCB; }, 400, "the title");
    ModeStack[0] = nullptr;
}
}  // namespace
