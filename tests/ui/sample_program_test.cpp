// The whole program on the sample game: the logo screen with its music,
// sheet and caption; the manual page pushed over it with its resources kept
// (decide) or released (S); cancel brings the logo back.
#include <gtest/gtest.h>


#include <string>

#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "tests/ui/screen_harness.h"
#include "story/story_screen.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/wipe.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyS = 0x1F, kKeyC = 0x2E;

struct Seen {
    int32_t sprite = -1, text = -1;
    std::string caption, sheetFile;
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
    const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    return GSL_ModeTop() == GSL_ManualModeCB && w && w->step == 2 &&
           Lib_SpriteGetState(GSL_WorkLayerGet(GSL_ManualModeCB, 0)) == 2;
}
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
const std::function<void(PlatInputState&)> kIdle = [](PlatInputState&) {};

TEST(SampleProgram, LogoAndManualPageOnDecideSAndCancel) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Seen seen;
    ProgramRun run;
    int code = run.Run({
        {"the logo with its sheet and music", LogoReady, Key(kKeyZ)},
        {"the manual page kept over the logo",
         [&] {
             if (!ManualReady()) return false;
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             seen.sprite = GSL_WorkLayerGet(GSL_LogoModeCB, 0);
             if (seen.sprite >= 0) seen.sheetFile = SpriteTable[seen.sprite].fileName;
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
         kIdle, 90},
        {"S", nullptr, Key(kKeyS)},
        {"the manual page with the logo released",
         [&] {
             if (!ManualReady()) return false;
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             // The page's pictures, texts and widgets may have taken the
             // logo's old slots: gone means no longer the logo's sheet or caption.
             const SpriteRecord& old = SpriteTable[seen.sprite];
             const bool sheetGone = !(old.flags & SPRITE_IN_USE) || seen.sheetFile != old.fileName;
             seen.releasedSuspended =
                 logo && logo->suspended == SCREEN_RELEASED && sheetGone &&
                 (!TextTable[seen.text] || seen.caption != TextTable[seen.text]->text);
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

uint32_t OverlayColour() {
    if (DispColorTask < 0 || !TaskTable.slots[DispColorTask]) return 0xDEADBEEF;
    return static_cast<const DispColorWork*>(TaskTable.slots[DispColorTask]->work)->current;
}
// The logo menu held still for the pictures: its input paused (it stays so
// across the pages pushed over the logo) and the current item at its own
// colour, so that no pulse shade is captured.
void MenuStill() {
    for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
        const TaskRecord* t = TaskTable.slots[slot];
        if (!t || t->dead || t->callback != GSL_InputCB) continue;
        GSL_InputPause(slot, 1);
        const auto* w = static_cast<const SelectInputWork*>(t->work);
        if (w->cursor >= 0 && w->cursor < kSelectItems)
            Lib_SpriteSetColor(GSL_WorkLayerGet(GSL_LogoModeCB, uint32_t(w->layers[w->cursor])), 0xFFFFFFFFu);
    }
}
bool LogoShown() {
    const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
    return LogoReady() && logo && logo->suspended == SCREEN_ACTIVE && OverlayColour() == 0 &&
           GSL_SystemDispColorCheck();
}
const WipeWork* RunningWipe() {
    for (TaskRecord* t : TaskTable.slots)
        if (t && !t->dead && t->callback == GSL_SystemWipeSetCB) return static_cast<const WipeWork*>(t->work);
    return nullptr;
}

// The logo fades in from black; a click on its sheet opens the page; S
// dissolves the logo into the page through the rule; C shows the thumbnail.
TEST(SampleProgram, FadeClickWipeAndThumbnail) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t startAlpha = 0;
    bool midWipe = false, thumbnail = false, capturedOnce = false;
    std::string midWhy, thumbWhy;
    ProgramRun run;
    int code = run.Run({
        {"the logo under the black overlay",
         [&] {
             if (GSL_ModeTop() != GSL_LogoModeCB) return false;
             startAlpha = OverlayColour() >> 24;
             return true;
         },
         nullptr},
        {"the logo faded in",
         [] {
             if (!LogoShown()) return false;
             MenuStill();
             return true;
         },
         [](PlatInputState& in) {
             in.mouseX = 640;
             in.mouseY = 360;
             in.mouseButtons[0] = kPlatDown;
         }},
        {"release on the sheet", nullptr, [](PlatInputState& in) {
             in.mouseX = 640;
             in.mouseY = 360;
         }},
        {"the page after the click", ManualReady, Key(kKeyX)},
        {"the logo back", LogoShown, Key(kKeyS), 120},
        {"half-way through the wipe",
         [&] {
             const WipeWork* w = RunningWipe();
             if (!w || w->progress < 256.0f || GSL_ModeTop() != GSL_ManualModeCB) return false;
             const auto got = ScreenHarness::MatchesReference("sample_mid_wipe");
             midWipe = got;
             midWhy = got.message();
             return true;
         },
         kIdle},
        {"the wipe over", [] { return ManualReady() && !RunningWipe(); }, Key(kKeyX)},
        {"the logo back again", LogoShown, Key(kKeyC), 120},
        {"the thumbnail in the corner",
         [&] {
             if (StoryCaptureSprite < 0 || !SpriteTable[StoryCaptureSprite].visible) return false;
             if (!capturedOnce) return capturedOnce = true, false;  // drawn once
             const auto got = ScreenHarness::MatchesReference("sample_thumbnail", Crop{0, 0, 320, 180});
             thumbnail = got;
             thumbWhy = got.message();
             return true;
         },
         kIdle},
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GE(startAlpha, 200u);
    EXPECT_TRUE(midWipe) << midWhy;
    EXPECT_TRUE(thumbnail) << thumbWhy;
}
}  // namespace
