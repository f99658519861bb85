// The whole program on the sample game: the title's menu moved by keys and by
// the pointer with its sounds, the cursor item's pulse, and the manual page
// opened from it and closed; nothing stays behind.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <string>

#include "engine/input/input.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "screens/boot.h"
#include "screens/manual.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"

namespace {
using namespace program_title;

std::function<void(PlatInputState&)> Button(uint32_t bit) {
    return [bit](PlatInputState& in) { Press(in, bit); };
}

int Sprites() {
    int n = 0;
    for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
    return n;
}
int Texts() {
    int n = 0;
    for (const TextRecord* t : TextTable) n += t ? 1 : 0;
    return n;
}
bool MenuAt(int32_t item) { return TitleMenuUp() && TitleInput()->cursor == item; }
// The system sound played last: the rotation runs 0, 1, 2, 0 over channels 19-21.
bool SeLast(const char* name) {
    const int32_t last = (SystemSeRotation + 2) % 3;
    return std::string(SoundChannelTable[19 + last].st.path) == name;
}
// Pointer coordinates of the centre of title item `item`.
std::pair<int32_t, int32_t> ItemCentre(int32_t item) {
    int32_t r[4] = {-1, 0, 0, 0};
    GSL_ButtonCheck(nullptr, TitleItemSprite(item), r, 0, 0, 0, -1);
    return {(r[0] + r[2]) / 2, (r[1] + r[3]) / 2};
}

TEST(TitleMenuProgram, KeysPointerPulseAndManual) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    int sprites = -1, texts = -1, spritesAfter = -2, textsAfter = -2;
    std::set<uint32_t> shades;
    std::pair<int32_t, int32_t> load{-1, -1}, manual{-1, -1};
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    steps.push_back({"the menu on new game",
         [&] {
             if (!MenuAt(0)) return false;
             sprites = Sprites();
             texts = Texts();
             return true;
         },
         Button(BUTTON_DOWN)});
    steps.push_back({"down moves to load with the move sound", [] { return MenuAt(3) && SeLast("move.wav"); }, kIdle});
    // The cursor item pulses: its shade changes from frame to frame.
    for (int i = 0; i < 12; ++i)
        steps.push_back({"the pulse",
                         [&] {
                             shades.insert(Lib_SpriteGetColor(TitleItemSprite(3)));
                             return true;
                         },
                         kIdle});
    steps.push_back({"the pointer over manual",
         [&] {
             manual = ItemCentre(13);
             load = ItemCentre(3);
             return MenuAt(3) && manual.first > 0;
         },
         [&](PlatInputState& in) {
             in.mouseX = manual.first;
             in.mouseY = manual.second;
         }});
    steps.push_back({"the cursor follows with the move sound", [] { return MenuAt(13) && SeLast("move.wav"); },
         [&](PlatInputState& in) {
             in.mouseX = load.first;
             in.mouseY = load.second;
         }});
    steps.push_back({"and back to load", [] { return MenuAt(3); }, Button(BUTTON_UP)});
    steps.push_back({"up to new game", [] { return MenuAt(0); }, kIdle});
    MenuTo(steps, TITLE_ITEM_MANUAL);
    steps.push_back({"the manual", nullptr, Button(BUTTON_DECIDE)});
    steps.push_back({"let go", [] { return true; }, kIdle});
    steps.push_back({"the manual up, its opening wipe over",
         [] {
             const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
             return GSL_ModeTop() == GSL_ManualModeCB && w && w->step == MANUAL_STEP_MAIN;
         },
         Button(BUTTON_CANCEL), 300});
    steps.push_back({"the title again", [] { return MenuAt(13); }, kIdle, 300});
    MenuTo(steps, TITLE_ITEM_NEW_GAME);
    steps.push_back({"on new game",
         [&] {
             if (!MenuAt(0)) return false;
             spritesAfter = Sprites();
             textsAfter = Texts();
             return true;
         },
         kIdle});
    int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GE(shades.size(), 3u);
    EXPECT_EQ(spritesAfter, sprites);
    EXPECT_EQ(textsAfter, texts);
}
}  // namespace
