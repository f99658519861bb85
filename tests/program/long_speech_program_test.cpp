// The whole program on the sample: the opening's long speech runs past the
// message window's three lines, so the window shows its scroll bar, drawn
// from the window's own knob and track pieces. With VN_WRITE_DOCS set the
// page is written to docs/screens/long_speech.png.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/text/text_object.h"
#include "script/game_blocks.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"

namespace {
using namespace program_title;

constexpr uint8_t kKeyZ = 0x2C;

bool BarShown() { return GameStateBlock.stage.scrollFlags & 2; }
bool SpeechShown() {
    const TextRecord* t = ScreenHarness::Text(GSL_StoryModeCB, 1);
    return StoryWaiting() && t && t->finished && BarShown();
}

TEST(LongSpeechProgram, TheLongSpeechShowsTheWindowsScrollBar) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    bool shown = false;
    std::string picture;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps = {
        Drive("the long speech", SpeechShown, Key(kKeyZ), 3000, 8),
        {"its page", [&, frames = 0]() mutable {
             if (++frames < 40) return false;  // the wait icon blinks in
             shown = BarShown();
             const auto got = ScreenHarness::MatchesReference("long_speech_scroll_bar", Crop{1180, 480, 100, 240});
             picture = got ? "" : got.message();
             if (std::getenv("VN_WRITE_DOCS"))
                 ScreenHarness::WritePicture(VN_SOURCE_DIR "/docs/screens/long_speech.png");
             return true;
         },
         kIdle},
    };
    PrependNewGame(steps);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(shown);
    EXPECT_EQ(picture, "");
}
}  // namespace
