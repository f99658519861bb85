#include "app/main_tasks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/core/task.h"
#include "engine/movie/movie.h"
#include "screens/logo.h"
#include "ui/mode.h"

namespace {
std::vector<std::string> g_called;
void screenA() { g_called.push_back("A"); }
void screenB() { g_called.push_back("B"); }

// A kept (suspend state 1) context of a screen in table entry `index`:
// nothing to reload.
std::unique_ptr<ScreenWork> keptContext(ModeFunction screen, int index) {
    auto work = std::make_unique<ScreenWork>();
    ScreenWorkTable[index] = work.get();
    GSL_WorkInit(index, screen);
    work->suspended = SCREEN_KEPT;
    return work;
}

class MainModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        Main_RunStateReset();  // an empty mode stack and work table
        // No tasks: the restore looks at the task table (left stale by
        // earlier tests whose heaps are gone).
        for (auto& t : TaskTable.slots) t = nullptr;
        g_called.clear();
        Lib_MovieInit();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(MainModeTest, EmptyStackGetsTheLogoSequenceUncalledAndTheTopRuns) {
    Main_ModeCB(nullptr);
    EXPECT_EQ(ModeStack[0], GSL_LogoModeCB);
    EXPECT_TRUE(g_called.empty());

    ModeStack[0] = screenA;
    ModeStack[1] = screenB;
    Main_ModeCB(nullptr);
    EXPECT_EQ(g_called, std::vector<std::string>{"B"});
}

TEST_F(MainModeTest, SuspendedTopIsRestoredBeforeItRunsAgain) {
    auto context = keptContext(screenB, 3);
    ScreenWork& work = *context;
    ModeStack[0] = screenA;
    ModeStack[1] = screenB;

    Main_ModeCB(nullptr);  // pushes the restore, calls nothing
    EXPECT_TRUE(g_called.empty());
    EXPECT_EQ(ModeStack[2], GSL_WorkRestoreCB);
    Main_ModeCB(nullptr);  // the restore runs as the top and leaves
    EXPECT_EQ(ModeStack[2], nullptr);
    EXPECT_EQ(work.suspended, 0);
    Main_ModeCB(nullptr);
    EXPECT_EQ(g_called, std::vector<std::string>{"B"});
}

TEST_F(MainModeTest, FullStackWithSuspendedTopRestoresInPlace) {
    auto context = keptContext(screenB, 0);
    ScreenWork& work = *context;
    for (auto& e : ModeStack) e = screenA;
    ModeStack[kModeStackSize - 1] = screenB;

    Main_ModeCB(nullptr);
    EXPECT_EQ(work.suspended, 0);
    // Restored in place: the top is the screen itself and stays.
    EXPECT_EQ(ModeStack[kModeStackSize - 1], screenB);
    EXPECT_EQ(ModeStack[kModeStackSize - 2], screenA);
    Main_ModeCB(nullptr);
    EXPECT_EQ(g_called, std::vector<std::string>{"B"});
}

TEST_F(MainModeTest, ActiveMovieStopsDrawingButTheScreenStillRuns) {
    ModeStack[0] = screenA;
    MovieSpriteSlot = 5;
    MovieState = MOVIE_PAUSED;
    float before = FrameTimeCounter;
    Main_ModeCB(nullptr);
    EXPECT_EQ(Main_DrawBCB(nullptr), 0);
    EXPECT_EQ(Main_DrawCB(nullptr), 0);
    EXPECT_EQ(Main_DrawACB(nullptr), 0);
    EXPECT_EQ(g_called, std::vector<std::string>{"A"});
    EXPECT_EQ(FrameTimeCounter, before);  // nothing was presented
}

TEST(MainFrameTime, CountsPresentsWrapsAndHolds) {
    Lib_MovieInit();
    Lib_RunStateReset();
    FrameTimeCounter = 99998.0f;
    Main_DrawACB(nullptr);
    EXPECT_EQ(FrameTimeCounter, 99999.0f);
    Main_DrawACB(nullptr);
    EXPECT_EQ(FrameTimeCounter, 0.0f);
    FrameTimeHold = 1;
    Main_DrawACB(nullptr);
    EXPECT_EQ(FrameTimeCounter, 0.0f);
    Lib_RunStateReset();
}
}  // namespace
