// The whole program on the sample game: the title with its music, picture
// and version label; the manual page pushed over it with its resources kept,
// the load screen with them released; cancel brings the title back. The
// title's fade-in, a click on an item, and the rule wipe of continue.
#include <gtest/gtest.h>


#include <cstring>
#include <string>
#include <utility>

#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "screens/manual.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "tests/program/program_title.h"
#include "ui/pointer.h"
#include "tests/ui/screen_harness.h"
#include "story/story_screen.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/wipe.h"

namespace {
using namespace program_title;

struct Seen {
    int32_t sprite = -1, text = -1;
    std::string caption, sheetFile;
    float volume = -1;
    bool keptUntouched = false, releasedSuspended = false, sheetBack = false, captionBack = false,
         musicBack = false;
    int driverFrames = 0;
};

// The title's picture (layer 15) and its version label (text 0).
bool TitleReady() {
    const int32_t h = GSL_WorkLayerGet(GSL_TitleModeCB, 15);
    return TitleMenuUp() && Lib_SpriteGetState(h) == 2 && Lib_SoundStateGet(0) == SOUND_PLAYING;
}
bool ManualReady() {
    const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    return GSL_ModeTop() == GSL_ManualModeCB && w && w->step == MANUAL_STEP_MAIN &&
           Lib_SpriteGetState(GSL_WorkLayerGet(GSL_ManualModeCB, 0)) == 2;
}
bool LoadReady() {
    const ScreenWork* w = GSL_WorkGet(GSL_LoadModeCB);
    return GSL_ModeTop() == GSL_LoadModeCB && w && w->step == SLOT_STEP_MAIN && GSL_SystemDispColorCheck();
}
std::function<void(PlatInputState&)> Button(uint32_t bit) {
    return [bit](PlatInputState& in) { Press(in, bit); };
}

// The manual keeps the title's resources (its item keeps them); the load
// screen has them released and reloaded.
TEST(SampleProgram, TitleKeptUnderTheManualAndReleasedUnderLoad) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Seen seen;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    steps.push_back({"the title with its picture and music", TitleReady, nullptr});
    MenuTo(steps, TITLE_ITEM_MANUAL);
    steps.push_back({"the manual", nullptr, Button(BUTTON_DECIDE)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the manual page kept over the title",
         [&] {
             if (!ManualReady()) return false;
             const ScreenWork* title = GSL_WorkGet(GSL_TitleModeCB);
             seen.sprite = GSL_WorkLayerGet(GSL_TitleModeCB, 15);
             if (seen.sprite >= 0) seen.sheetFile = SpriteTable[seen.sprite].fileName;
             seen.text = GSL_WorkTextGet(GSL_TitleModeCB, 0);
             if (seen.text >= 0 && TextTable[seen.text]) seen.caption = TextTable[seen.text]->text;
             seen.volume = SoundChannelTable[0].st.volume.load();
             seen.keptUntouched = title && title->suspended == SCREEN_KEPT && Lib_SpriteIsLive(seen.sprite) &&
                                  SpriteTable[seen.sprite].visible && Lib_SoundStateGet(0) == SOUND_PLAYING;
             return true;
         },
         kIdle});
    steps.push_back({"cancel", nullptr, Button(BUTTON_CANCEL)});
    steps.push_back({"the title back after one driver frame",
         [&] {
             if (GSL_ModeTop() == GSL_WorkRestoreCB) ++seen.driverFrames;
             const ScreenWork* title = GSL_WorkGet(GSL_TitleModeCB);
             return GSL_ModeTop() == GSL_TitleModeCB && title && title->suspended == SCREEN_ACTIVE;
         },
         kIdle, 90});
    steps.push_back({"the menu again", TitleReady, nullptr, 300});
    MenuTo(steps, TITLE_ITEM_LOAD);
    steps.push_back({"load", nullptr, Button(BUTTON_DECIDE)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the load screen with the title released",
         [&] {
             if (!LoadReady()) return false;
             const ScreenWork* title = GSL_WorkGet(GSL_TitleModeCB);
             // The screen's pictures and texts may have taken the title's
             // old slots: gone means no longer the title's picture or label.
             const SpriteRecord& old = SpriteTable[seen.sprite];
             const bool sheetGone = !(old.flags & SPRITE_IN_USE) || seen.sheetFile != old.fileName;
             seen.releasedSuspended =
                 title && title->suspended == SCREEN_RELEASED && sheetGone &&
                 (!TextTable[seen.text] || seen.caption != TextTable[seen.text]->text);
             return true;
         },
         kIdle, 300});
    steps.push_back({"cancel again", nullptr, Button(BUTTON_CANCEL)});
    steps.push_back({"the title reloaded",
         [&] {
             const ScreenWork* title = GSL_WorkGet(GSL_TitleModeCB);
             if (!TitleReady() || !title || title->suspended != SCREEN_ACTIVE) return false;
             const int32_t h = GSL_WorkLayerGet(GSL_TitleModeCB, 15);
             seen.sheetBack = h >= 0 && SpriteTable[h].fileName == seen.sheetFile && SpriteTable[h].visible;
             const int32_t t = GSL_WorkTextGet(GSL_TitleModeCB, 0);
             seen.captionBack = t >= 0 && TextTable[t] && seen.caption == TextTable[t]->text;
             seen.musicBack = SoundChannelTable[0].st.volume.load() == seen.volume;
             return true;
         },
         kIdle, 300});
    int code = run.Run(steps);
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
// The title's menu held still for the picture: its input paused and the
// current item at its own colour, so that no pulse shade is captured.
void MenuStill() {
    SelectInputWork* m = TitleInput();
    if (!m) return;
    GSL_InputPause(GSL_TitleHead(Title())->input, 1);
    if (m->cursor >= 0 && m->cursor < kTitleItems) Lib_SpriteSetColor(TitleItemSprite(m->cursor), 0xFFFFFFFFu);
}
// Pointer coordinates of the centre of title item `item`.
std::pair<int32_t, int32_t> ItemCentre(int32_t item) {
    int32_t r[4] = {-1, 0, 0, 0};
    GSL_ButtonCheck(nullptr, TitleItemSprite(item), r, 0, 0, 0, -1);
    return {(r[0] + r[2]) / 2, (r[1] + r[3]) / 2};
}
const WipeWork* RunningWipe() {
    for (TaskRecord* t : TaskTable.slots)
        if (t && !t->dead && t->callback == GSL_SystemWipeSetCB) return static_cast<const WipeWork*>(t->work);
    return nullptr;
}

// The title fades in from black; a click on the manual item opens the page;
// continue dissolves the title into the story through the rule.
TEST(SampleProgram, FadeClickAndContinueWipe) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t startAlpha = 0;
    bool midWipe = false;
    std::string midWhy;
    std::pair<int32_t, int32_t> manual{-1, -1};
    ProgramRun run;
    ScreenHarness::DrawFrames(true);  // the continue wipe starts from a drawn frame
    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps, [&] {
        startAlpha = OverlayColour() >> 24;
        // A quick save to continue, as the boot would have read it.
        QuickDataPresent = 1;
        std::memset(static_cast<void*>(&QuickDataCache), 0, sizeof QuickDataCache);
        std::strcpy(QuickDataCache.scriptName, "sub.txt");
    });
    steps.push_back({"the manual item under the pointer",
         [&] {
             manual = ItemCentre(13);
             return manual.first > 0;
         },
         [&](PlatInputState& in) {
             in.mouseX = manual.first;
             in.mouseY = manual.second;
             in.mouseButtons[0] = kPlatDown;
         }});
    steps.push_back({"release on the item", nullptr, [&](PlatInputState& in) {
             in.mouseX = manual.first;
             in.mouseY = manual.second;
         }});
    steps.push_back({"the page after the click", ManualReady, Button(BUTTON_CANCEL), 300});
    steps.push_back({"the title back", TitleMenuUp, nullptr, 300});
    MenuTo(steps, TITLE_ITEM_CONTINUE);
    steps.push_back({"continue", nullptr, Button(BUTTON_DECIDE)});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"half-way through the wipe",
         [&] {
             const WipeWork* w = RunningWipe();
             if (!w || w->progress < 256.0f) return false;
             MenuStill();
             const auto got = ScreenHarness::MatchesReference("sample_mid_wipe");
             midWipe = got;
             midWhy = got.message();
             return true;
         },
         kIdle, 300});
    steps.push_back({"the story after the wipe",
                     [] { return GSL_ModeTop() == GSL_StoryModeCB && !RunningWipe(); }, nullptr, 300});
    int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GE(startAlpha, 200u);
    EXPECT_TRUE(midWipe) << midWhy;
}
}  // namespace
