// A program start, a screen test and a program start again in one process,
// with no reset written here: the second start finds the state a fresh
// process has, whatever the screen test left behind.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "screens/boot.h"
#include "script/script_host.h"
#include "story/quick_save.h"
#include "tests/program/program_title.h"
#include "tests/screens/option_env.h"
#include "tests/ui/screen_harness.h"

namespace {

using namespace program_title;

// What a start saw once the boot flow had handed over.
struct StartSeen {
    bool booted = false;
    uint8_t windowFlags = 0xFF;
    uint8_t titleFlags = 0;
    uint8_t quickSave = 1;
    uint32_t playMode = 1;
    int32_t menuItems = -1;
};

StartSeen StartToTheMenu() {
    StartSeen seen;
    std::vector<ProgramRun::Step> steps;
    steps.push_back({"the boot flow handed over", [&seen] {
                         if (!ModeStack[0] || ModeStack[0] == GSL_BootModeCB) return false;
                         seen.booted = true;
                         seen.windowFlags = WindowFlags.load();
                         seen.titleFlags = TitleFlags;
                         seen.quickSave = QuickDataPresent;
                         seen.playMode = StoryPlayMode;
                         return true;
                     }});
    ToTitleMenu(steps);
    steps.push_back({"the menu counted", [&seen] {
                         const SelectInputWork* m = TitleInput();
                         if (!m) return false;
                         seen.menuItems = m->count;
                         return true;
                     }});
    ProgramRun run;
    EXPECT_EQ(run.Run(steps), 0);
    EXPECT_EQ(run.failed, "");
    return seen;
}

// A screen test as the suites run one: the option screen opened over a test
// screen and left open (F2 ignored), with a quick save marked, auto play on,
// the title's flags spent and a language chosen, none of it put back.
class OptionsLeftOpen : public OptionEnv {
public:
    void TestBody() override {
        Open();
        QuickDataPresent = 1;
        StoryPlayMode = PLAY_AUTO;
        TitleFlags = 0;
        TextLanguage = 2;
        EXPECT_TRUE(WindowFlags.load() & WINDOW_F2_IGNORED);
    }
    void RunWhole() {
        SetUpTestSuite();
        SetUp();
        if (!IsSkipped() && !HasFatalFailure()) TestBody();
        TearDown();
    }
};

TEST(RunStateProgram, AStartAfterAScreenTestIsAsTheFirst) {
    const StartSeen first = StartToTheMenu();
    ASSERT_TRUE(first.booted);
    OptionsLeftOpen screenTest;
    screenTest.RunWhole();
    if (IsSkipped()) return;
    const StartSeen second = StartToTheMenu();
    ASSERT_TRUE(second.booted);
    EXPECT_EQ(second.windowFlags, first.windowFlags) << "F2 is heard and the window starts windowed";
    EXPECT_TRUE(second.titleFlags & TITLE_MOVIE_NEXT) << "the opening movie comes first";
    EXPECT_EQ(second.quickSave, 0) << "no quick save is known";
    EXPECT_EQ(second.playMode, 0u) << "the story starts without auto play";
    EXPECT_EQ(second.menuItems, first.menuItems) << "the title's menu is the first start's";
}

}  // namespace
