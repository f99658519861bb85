// Program starts, a run that quits early and a screen test in one process,
// with no reset written here: each start finds the state a fresh process
// has, whatever the run or the screen test before it left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/main_tasks.h"
#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "screens/boot.h"
#include "script/script_host.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "tests/program/program_title.h"
#include "tests/screens/option_env.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"
#include "ui/screen_restore.h"
#include "ui/widget.h"

namespace {

using namespace program_title;

// What a start saw once the boot flow had handed over, and at its title.
struct StartSeen {
    bool booted = false;
    uint8_t windowFlags = 0xFF;
    uint8_t titleFlags = 0;
    uint8_t quickSave = 1;
    uint32_t playMode = 1;
    uint32_t frameRate = 0, framePeriod = 0;
    uint32_t restorePhase = 0xFF;
    uint32_t menuActive = 0xFF;
    bool movieSkippable = false;  // at the title's first frame
    int32_t menuItems = -1;
    bool storyWaits = false;
};

// The title's flags once its first frame has run (the steps, at the end of
// the frame, let every title skip its movie).
int g_titleFlags = -1;
void SeeTheTitle() {
    if (g_titleFlags < 0 && Title()) g_titleFlags = TitleFlags;
}

// A start over the user files in `user`: to the title's menu, and with
// `newGame` on into the story until its first line waits for the player.
StartSeen Start(const std::filesystem::path& user, bool newGame = false) {
    StartSeen seen;
    std::vector<ProgramRun::Step> steps;
    steps.push_back({"the boot flow handed over", [&seen] {
                         if (!ModeStack[0] || ModeStack[0] == GSL_BootModeCB) return false;
                         seen.booted = true;
                         seen.windowFlags = WindowFlags.load();
                         seen.titleFlags = TitleFlags;
                         seen.quickSave = QuickDataPresent;
                         seen.playMode = StoryPlayMode;
                         seen.frameRate = FrameRateConfig;
                         seen.framePeriod = FramePeriodUs;
                         seen.restorePhase = WorkRestorePhase;
                         seen.menuActive = MenuActiveFlag;
                         return true;
                     }});
    ToTitleMenu(steps);
    steps.push_back({"the menu counted", [&seen] {
                         const SelectInputWork* m = TitleInput();
                         if (!m) return false;
                         seen.menuItems = m->count;
                         return true;
                     }});
    if (newGame) {
        steps.push_back({"new game", [] { return TitleMenuUp() && TitleInput()->cursor == TITLE_ITEM_NEW_GAME; },
                         [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }});
        steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
        steps.push_back({"the story's first line waits", [&seen] { return seen.storyWaits = StoryWaiting(); },
                         nullptr, 1800});
    }
    ProgramRun run;
    run.userFiles = user;
    g_titleFlags = -1;
    Main_DrawTestHook = SeeTheTitle;
    EXPECT_EQ(run.Run(steps), 0);
    Main_DrawTestHook = nullptr;
    EXPECT_EQ(run.failed, "");
    seen.movieSkippable = g_titleFlags >= 0 && (g_titleFlags & TITLE_MOVIE_SKIPPABLE);
    return seen;
}

// A start that quits as soon as its title shows, while a preload of the
// title's still loads. Says whether one did. On a busy machine the loader
// may deliver the title's own preload within the frame that asked for it,
// so the quitting frame asks for it again, as the title does.
bool QuitAtTheTitle(const std::filesystem::path& user) {
    bool pending = false;
    std::vector<ProgramRun::Step> steps;
    steps.push_back(Drive("the title shows",
                          [&pending] {
                              if (!Title()) return false;
                              if (PreloadPending == 0) GSL_SystemLoadPrevSet("visual/thumb/thumb.arc", 256, 0, nullptr);
                              pending = PreloadPending > 0;
                              return true;
                          },
                          [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }, 1800));
    ProgramRun run;
    run.userFiles = user;
    EXPECT_EQ(run.Run(steps), 0);
    return pending;
}

// A screen test as the suites run one: the option screen opened over a test
// screen and left open (F2 ignored), with every piece of run-wide state it
// can reach left away from a fresh process's, none of it put back.
class OptionsLeftOpen : public OptionEnv {
public:
    void TestBody() override {
        Open();
        QuickDataPresent = 1;
        StoryPlayMode = PLAY_AUTO;
        TitleFlags = 0;
        TextLanguage = 2;
        SystemDataFresh = 1;
        PreloadPending = 2;
        PreloadReleaseQuota = 2;
        MenuActiveFlag = 1;
        SaveQuickGDGuard = -2;
        WorkRestorePhase = 1;
        Lib_FrameRateSet(30);
        EXPECT_TRUE(WindowFlags.load() & WINDOW_F2_IGNORED);
    }
    void RunWhole() {
        SetUpTestSuite();
        SetUp();
        if (!IsSkipped() && !HasFatalFailure()) TestBody();
        TearDown();
    }
};

TEST(RunStateProgram, StartsAfterOtherRunsAreAsTheFirst) {
    const std::filesystem::path user =
        std::filesystem::temp_directory_path() / ("vn_run_state_" + std::to_string(::getpid()));
    std::filesystem::remove_all(user);
    const StartSeen first = Start(user);
    ASSERT_TRUE(first.booted);
    EXPECT_FALSE(first.movieSkippable) << "the first title over new system data plays its movie whole";
    const bool quitWhileLoading = QuitAtTheTitle(user);
    OptionsLeftOpen screenTest;
    screenTest.RunWhole();
    if (IsSkipped()) {
        std::filesystem::remove_all(user);
        return;
    }
    const StartSeen second = Start(user, true);
    std::filesystem::remove_all(user);
    ASSERT_TRUE(second.booted);
    EXPECT_TRUE(quitWhileLoading) << "the run quit before the title's preloads ended";
    EXPECT_TRUE(second.movieSkippable) << "a start over existing system data may skip the opening movie";
    EXPECT_TRUE(second.storyWaits) << "a new game starts";
    EXPECT_EQ(second.windowFlags, first.windowFlags) << "F2 is heard and the window starts windowed";
    EXPECT_TRUE(second.titleFlags & TITLE_MOVIE_NEXT) << "the opening movie comes first";
    EXPECT_EQ(second.quickSave, 0) << "no quick save is known";
    EXPECT_EQ(second.playMode, 0u) << "the story starts without auto play";
    EXPECT_EQ(second.frameRate, first.frameRate) << "texts reveal at the first start's pace";
    EXPECT_EQ(second.framePeriod, first.framePeriod);
    EXPECT_EQ(second.restorePhase, first.restorePhase) << "a screen coming back reloads what it released";
    EXPECT_EQ(second.menuActive, first.menuActive) << "no choice is open";
    EXPECT_EQ(second.menuItems, first.menuItems) << "the title's menu is the first start's";
}

}  // namespace
