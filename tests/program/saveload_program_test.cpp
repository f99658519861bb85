// The whole program on the sample: a save over the title (pushed where the
// in-game menu's save button will push it), the game read on, then the
// title's load item, which starts the story on the saved bytes.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine_state.h"
#include "ui/mode.h"
#include "screens/boot.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "tests/story/save_env.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/utility_dialog.h"

namespace {
using namespace program_title;
constexpr uint8_t kKeyZ = 0x2C;

std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}

std::string State() { return std::string(reinterpret_cast<const char*>(&GameStateBlock), sizeof(GameState)); }

TEST(SaveLoadProgram, SaveReadOnAndLoadBack) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    std::string saved, atSwitch, onDisk;
    int cursorAtLoad = -1, lastSlot = -1;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    ToTitleMenu(steps);
    steps.push_back({"the save screen over the title",
                     [] {
                         GSL_ModePush(GSL_SaveModeCB, 0);
                         return true;
                     },
                     nullptr});
    const std::vector<ProgramRun::Step> rest = {
        {"the save list", [] { return ListUp(GSL_SaveModeCB); }, Key(kKeyZ)},
        {"release", nullptr, kIdle},
        {"the save question",
         [&] {
             if (!Asking(GSL_SaveModeCB)) return false;
             GameStateBlock.gameVars[5] = 12;
             saved = State();
             return true;
         },
         Key(kKeyZ)},
        {"release", nullptr, kIdle},
        // The save screen waits for the save writer twice (the slot, then
        // the system data), in real time.
        {.label = "the title after the save",
         .until =
             [&] {
                 if (!TitleMenuUp()) return false;
                 lastSlot = SystemDataBlock.lastSlot;
                 // Reading on: the play time, the history and the variables move.
                 GameStateBlock.gameVars[5] = 40;
                 GameStateBlock.playMinutes = 33;
                 GameStateBlock.readLineCount += 3;
                 return true;
             },
         .worker = true},
    };
    steps.insert(steps.end(), rest.begin(), rest.end());
    MenuTo(steps, TITLE_ITEM_LOAD);
    const std::vector<ProgramRun::Step> load = {
        {"load", nullptr, [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }},
        {"release", nullptr, kIdle},
        {"the load list",
         [&] {
             if (!ListUp(GSL_LoadModeCB)) return false;
             cursorAtLoad = SlotListGet(GSL_WorkGet(GSL_LoadModeCB))->cursor;
             return true;
         },
         Key(kKeyZ)},
        {"release", nullptr, kIdle},
        {"the load question", [] { return Asking(GSL_LoadModeCB); }, Key(kKeyZ)},
        {"release", nullptr, kIdle},
        {"the story over a fresh title",
         [&] {
             if (!(ModeStack[0] == GSL_TitleModeCB && ModeStack[1] == GSL_StoryModeCB && !ModeStack[2]))
                 return false;
             atSwitch = State();
             const std::string image = SaveEnv::Inflated(std::string("user/") + UserId + "/save/save.cdf");
             if (image.size() == kSaveImageSize) onDisk = image.substr(SavePartOffset(0, 0), sizeof(GameState));
             return true;
         },
         kIdle, 1500, true},  // the story's pictures come through the file loader
    };
    steps.insert(steps.end(), load.begin(), load.end());
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(lastSlot, 0);
    EXPECT_EQ(cursorAtLoad, 0);
    ASSERT_EQ(saved.size(), sizeof(GameState));
    EXPECT_TRUE(atSwitch == saved);
    EXPECT_TRUE(onDisk == saved);
}

}  // namespace
