// The whole program on the sample: new game on the title starts the story,
// which fades in with the story sheet loaded; the message window opens with
// the name plate and the first message, confirms reveal and go on, Welm's
// voice plays on channel 11 and the long speech shows the scroll bar.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "script/game_blocks.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/widget.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C;

uint32_t OverlayColour() {
    if (DispColorTask < 0 || !TaskTable.slots[DispColorTask]) return 0xDEADBEEF;
    return static_cast<const DispColorWork*>(TaskTable.slots[DispColorTask]->work)->current;
}

TextRecord* StoryText(uint32_t slot) {
    const int32_t h = GSL_WorkTextGet(GSL_StoryModeCB, slot);
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

TEST(SampleProgram, TheMessageWindowShowsTheStory) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    struct Seen {
        int32_t task = -1;
        bool faded = false, plate = false, midFrame = false, voice = false, bar = false, ended = false;
        uint32_t window = 0;
        std::string midWhy;
    } seen;
    ProgramRun run;
    bool over = false;
    std::vector<ProgramRun::Step> steps = {
        {"the window open on the first message",
         [&] {
             if (GSL_ModeTop() != GSL_StoryModeCB) return false;
             seen.task = GSL_WorkTaskGet(GSL_StoryModeCB);
             const int32_t window = GSL_WorkLayerGet(GSL_StoryModeCB, 25);
             const TextRecord* text = StoryText(1);
             if (window < 0 || !text || !StoryText(0)) return false;
             seen.faded = OverlayColour() == 0;
             seen.window = Lib_SpriteGetColor(window);
             seen.plate = Lib_SpriteGetFlag(GSL_WorkLayerGet(GSL_StoryModeCB, 26)) == 1;
             return true;
         },
         nullptr},
        {"the first message half revealed",
         [&] {
             const TextRecord* text = StoryText(1);
             if (!text || text->finished || text->revealed < 8) return false;
             const auto got = ScreenHarness::MatchesReference("sample_message_window");
             seen.midFrame = bool(got);
             if (!got) seen.midWhy = got.message();
             return true;
         },
         nullptr},
    };
    // The reader confirms every other frame until Welm's voice and the long
    // speech's bar have come: the first confirm of a message completes its
    // reveal, the next goes on.
    auto watch = [&] {
        const int32_t status = GSL_ScriptStatusGet(seen.task);
        seen.ended = seen.ended || status == int32_t(SCRIPT_ENDED) || status < 0;
        over = over || seen.ended || (seen.voice && seen.bar);
        seen.voice = seen.voice || std::strcmp(SoundChannelTable[11].st.path, "sound/voice/v_welm_0001.ogg") == 0;
        seen.bar = seen.bar || (GameStateBlock.stage.scrollFlags & 2);
        return true;
    };
    // However many frames a loaded machine's loads take: the wait's deadline.
    steps.push_back(program_title::Worker(program_title::Drive(
        "the confirms to the voice and the bar", [&] { return watch() && over; }, program_title::Key(kKeyZ))));
    steps.push_back({"the voice and the bar", [&] { return watch() && seen.voice && seen.bar; }, nullptr});
    program_title::PrependNewGame(steps);
    const int code = run.Run(steps);

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(seen.faded);
    EXPECT_EQ(seen.window, 0xFFFFFFFFu);  // opened at once, at the default opacity
    EXPECT_TRUE(seen.plate);
    EXPECT_TRUE(seen.midFrame) << seen.midWhy;
    EXPECT_TRUE(seen.voice);
    EXPECT_TRUE(seen.bar);
    EXPECT_FALSE(seen.ended);
}
}  // namespace
