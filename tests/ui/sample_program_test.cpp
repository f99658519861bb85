// The whole program on the sample game: the logo screen with its music,
// sheet and caption; the manual page pushed over it with its resources kept
// (decide) or released (S); cancel brings the logo back.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyS = 0x1F;

struct Seen {
    int32_t sprite = -1, text = -1;
    std::string caption;
    float volume = -1;
    bool keptUntouched = false, releasedSuspended = false, sheetBack = false, captionBack = false,
         musicBack = false;
    int driverFrames = 0;
};

bool LogoReady() {
    const int32_t h = GSL_WorkLayerGet(GSL_LogoModeCB, 0);
    return GSL_ModeTop() == GSL_LogoModeCB && Lib_SpriteGetState(h) == 2 && Lib_SoundStateGet(0) == SOUND_PLAYING;
}
bool ManualReady() {
    return GSL_ModeTop() == GSL_ManualModeCB && Lib_SpriteGetState(GSL_WorkLayerGet(GSL_ManualModeCB, 0)) == 2;
}
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
const std::function<void(PlatInputState&)> kIdle = [](PlatInputState&) {};

TEST(SampleProgram, LogoAndManualPageOnDecideSAndCancel) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    static void* keep[] = {dlopen("libEGL.so.1", RTLD_NOW | RTLD_NODELETE),
                           dlopen("libudev.so.1", RTLD_NOW | RTLD_NODELETE),
                           dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE)};
    (void)keep;
    Seen seen;
    ProgramRun run;
    int code = run.Run({
        {"the logo with its sheet and music", LogoReady, Key(kKeyZ)},
        {"the manual page kept over the logo",
         [&] {
             if (!ManualReady()) return false;
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             seen.sprite = GSL_WorkLayerGet(GSL_LogoModeCB, 0);
             seen.text = GSL_WorkTextGet(GSL_LogoModeCB, 0);
             if (seen.text >= 0 && TextTable[seen.text]) seen.caption = TextTable[seen.text]->text;
             seen.volume = SoundChannelTable[0].st.volume.load();
             seen.keptUntouched = logo && logo->suspended == SCREEN_KEPT && Lib_SpriteIsLive(seen.sprite) &&
                                  SpriteTable[seen.sprite].visible && Lib_SoundStateGet(0) == SOUND_PLAYING;
             return true;
         },
         kIdle},
        {"cancel", nullptr, Key(kKeyX)},
        {"the logo back after one driver frame",
         [&] {
             if (GSL_ModeTop() == GSL_WorkRestoreCB) ++seen.driverFrames;
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             return GSL_ModeTop() == GSL_LogoModeCB && logo && logo->suspended == SCREEN_ACTIVE;
         },
         kIdle, 30},
        {"S", nullptr, Key(kKeyS)},
        {"the manual page with the logo released",
         [&] {
             if (!ManualReady()) return false;
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             // The page may have taken the logo's old sprite slot.
             const bool sheetGone = !(SpriteTable[seen.sprite].flags & SPRITE_IN_USE) ||
                                    GSL_WorkLayerGet(GSL_ManualModeCB, 0) == seen.sprite;
             seen.releasedSuspended =
                 logo && logo->suspended == SCREEN_RELEASED && sheetGone && !TextTable[seen.text];
             return true;
         },
         kIdle},
        {"cancel again", nullptr, Key(kKeyX)},
        {"the logo reloaded",
         [&] {
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             if (!LogoReady() || !logo || logo->suspended != SCREEN_ACTIVE) return false;
             seen.sheetBack = GSL_WorkLayerGet(GSL_LogoModeCB, 0) == seen.sprite && SpriteTable[seen.sprite].visible;
             const int32_t t = GSL_WorkTextGet(GSL_LogoModeCB, 0);
             seen.captionBack = t >= 0 && TextTable[t] && seen.caption == TextTable[t]->text;
             seen.musicBack = SoundChannelTable[0].st.volume.load() == seen.volume;
             return true;
         },
         kIdle},
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(seen.keptUntouched);
    EXPECT_FALSE(seen.caption.empty());
    EXPECT_EQ(seen.driverFrames, 1);
    EXPECT_TRUE(seen.releasedSuspended);
    EXPECT_TRUE(seen.sheetBack);
    EXPECT_TRUE(seen.captionBack);
    EXPECT_TRUE(seen.musicBack);
}
}  // namespace
