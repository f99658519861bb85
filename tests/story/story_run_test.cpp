// The story screen on the mode stack, run by the real mode task: it starts
// the game state's script in task slot 0 of its context and leaves for the
// system-data save screen once the script has ended or its task is gone; and
// the skip test reading the story's play mode and the special scenario.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "extras/extras_screens.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "story/system_save.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"

namespace {

class StoryRun : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        NoStory();  // the story screen makes its own context
        StartMinimal();
        below_ = 0;
        SetBody(0, [this] { ++below_; });
        Push(TestScreen(0));
        GSL_WorkCreate();
        Push(GSL_StoryModeCB);
    }
    void TearDown() override {
        // What outlives the story screen by design: its cover and its guide.
        Lib_SpriteFree(StoryCoverSprite);
        GSL_StoryGuideDel();
        StageEnv::TearDown();
    }
    int below_ = 0;
};

TEST_F(StoryRun, RunsTheOpeningScenarioAndLeaves) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "*top\n<label>\n<wait time:5>\n"}, {"other.txt", "<image 1>\n"}}));
    GameStateBlock.stage.flags = 1;
    std::strcpy(GameStateBlock.stage.name, "roll");
    GameStateBlock.stage.textSpeed = 9;
    ASSERT_TRUE(FramesUntil([&] { return Story() && Story()->tasks[0] >= 0; }, 30, "the script task"));
    // The opening scenario from its start, in task slot 0; the stage's fields
    // reset (its flag byte and chapter name belong to the game state).
    ScreenWork* story = Story();
    ASSERT_NE(story, nullptr);
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
    EXPECT_EQ(GameStateBlock.stage.flags, 1);
    EXPECT_STREQ(GameStateBlock.stage.name, "roll");
    EXPECT_EQ(GameStateBlock.stage.textSpeed, -1);
    const int32_t task = story->tasks[0];
    EXPECT_STREQ(GSL_ScriptTaskFileName(task), "00_init.txt");
    EXPECT_EQ(GSL_ScriptStoryState(), &GSL_ScriptTaskWork(task)->script);
    EXPECT_EQ(below_, 0);
    ASSERT_TRUE(FramesUntil([&] { return GSL_ScriptStatusGet(task) == int32_t(SCRIPT_ENDED); }, 30, "the end"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"label", "wait"}));
    // Gone with its task; the system-data save screen asks over the screen below.
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SystemSaveModeCB; }, 120, "the save question"));
    EXPECT_EQ(Story(), nullptr);
    EXPECT_EQ(ModeStack[0], TestScreen(0));
    EXPECT_TRUE(Tasks(GSL_ScriptCB).empty());
    EXPECT_EQ(below_, 0);
    GSL_WorkDelete(GSL_SystemSaveModeCB);
    GSL_ModePop();
    Frame();
    EXPECT_EQ(below_, 1);
}

TEST_F(StoryRun, LoadsTheStorySheetBeforeTheScript) {
    ASSERT_TRUE(SampleData());
    ASSERT_TRUE(Scripts({{"00_init.txt", "<wait time:50>\n"}}));
    // No script while the sheet loads; once it runs, the sheet is in.
    ASSERT_TRUE(FramesUntil([&] { return Story() && GSL_WorkLayerGet(GSL_StoryModeCB, 31) >= 0; }, 30, "the sheet"));
    const int32_t sheet = GSL_WorkLayerGet(GSL_StoryModeCB, 31);
    if (!(SpriteTable[sheet].flags & SPRITE_READY)) {
        EXPECT_LT(Story()->tasks[0], 0);
    }
    ASSERT_TRUE(FramesUntil([&] { return Story()->tasks[0] >= 0; }, 60, "the script's start"));
    EXPECT_TRUE(SpriteTable[sheet].flags & SPRITE_READY);
    EXPECT_EQ(SpriteTable[sheet].textureWidth, 1296);
    // It leaves once its loads are over, after its tasks have let go of
    // what they hold (the harness checks that nothing stays behind).
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SystemSaveModeCB; }, 120, "the save question"));
    EXPECT_EQ(Story(), nullptr);
    GSL_WorkDelete(GSL_SystemSaveModeCB);
    GSL_ModePop();
}

TEST_F(StoryRun, RunsANamedScriptAndLeavesWhenItsTaskIsGone) {
    // A named script is kept; a missing one ends its task at once.
    ASSERT_TRUE(Scripts({{"00_init.txt", "<image 1>\n"}}));
    std::strcpy(GameStateBlock.scriptName, "other.txt");
    ASSERT_TRUE(FramesUntil([this] { return Logged("Lib_ArcGetData(other.txt)"); }, 30, "the failed load"));
    EXPECT_STREQ(GameStateBlock.scriptName, "other.txt");
    EXPECT_TRUE(Names().empty());
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SystemSaveModeCB; }, 120, "the save question"));
    EXPECT_EQ(Story(), nullptr);
    EXPECT_EQ(ModeStack[0], TestScreen(0));
    GSL_WorkDelete(GSL_SystemSaveModeCB);
    GSL_ModePop();
}

TEST_F(StoryRun, TheSkipTestSeesThePlayModeAndTheSpecialScenario) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "<wait>\n<keywait 5>\n"}}));
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    ASSERT_TRUE(FramesUntil([] { return GSL_ScriptStoryState() != nullptr; }, 30, "the script"));
    EXPECT_FALSE(GSL_IsSkip());  // skip mode off
    StoryPlayMode = 1;
    EXPECT_FALSE(GSL_IsSkip());  // the next line is unread
    SystemDataBlock.readText[0] = 1 << 5;
    EXPECT_TRUE(GSL_IsSkip());
    SystemDataBlock.readText[0] = 0;
    SpecialScenarioFlag = 1;
    EXPECT_TRUE(GSL_IsSkip());
    EXPECT_EQ(GSL_WaitFrames(500), 0u);
    SpecialScenarioFlag = 0;
    StoryPlayMode = 0;
    EXPECT_EQ(GSL_WaitFrames(500), 30u);
}

}  // namespace
