// The story stand-in on the mode stack, run by the real mode task: it starts
// the game state's script in task slot 0 of its context and leaves once the
// script has ended or its task is gone; and the start-up wiring through which
// the script engine sees the story's play mode and the special scenario.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "extras/extras_screens.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "story/story_standins.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"

namespace {

class StoryStandIn : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        NoStory();  // the stand-in makes its own context
        StartMinimal();
        below_ = 0;
        SetBody(0, [this] { ++below_; });
        Push(TestScreen(0));
        GSL_WorkCreate();
        Push(GSL_StoryModeCB);
    }
    int below_ = 0;
};

TEST_F(StoryStandIn, RunsTheOpeningScenarioAndLeaves) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "*top\n<label>\n<wait time:5>\n"}, {"other.txt", "<image 1>\n"}}));
    GameStateBlock.stage.flags = 1;
    std::strcpy(GameStateBlock.stage.name, "roll");
    GameStateBlock.stage.textSpeed = 9;
    // The opening scenario from its start, in task slot 0, once the sheet's
    // load has ended (here it fails: no data); the stage reset.
    ASSERT_TRUE(FramesUntil([&] { return Story() && Story()->step == 1; }, 10, "the script's start"));
    ScreenWork* story = Story();
    ASSERT_NE(story, nullptr);
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
    EXPECT_EQ(GameStateBlock.stage.flags, 0);
    EXPECT_EQ(GameStateBlock.stage.name[0], 0);
    EXPECT_EQ(GameStateBlock.stage.textSpeed, -1);
    const int32_t task = story->tasks[0];
    EXPECT_STREQ(GSL_ScriptTaskFileName(task), "00_init.txt");
    EXPECT_EQ(GSL_ScriptStoryState(), &GSL_ScriptTaskWork(task)->script);
    EXPECT_EQ(below_, 0);
    ASSERT_TRUE(FramesUntil([&] { return GSL_ScriptStatusGet(task) == int32_t(SCRIPT_ENDED); }, 5, "the end"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"label", "wait"}));
    // Gone with its task; the screen below runs again.
    ASSERT_TRUE(FramesUntil([&] { return Story() == nullptr; }, 10, "the story's end"));
    EXPECT_EQ(Story(), nullptr);
    EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
    EXPECT_TRUE(Tasks(GSL_ScriptCB).empty());
    Frame();
    EXPECT_EQ(below_, 1);
}

TEST_F(StoryStandIn, LoadsTheStorySheetBeforeTheScript) {
    ASSERT_TRUE(SampleData());
    ASSERT_TRUE(Scripts({{"00_init.txt", "<wait time:50>\n"}}));
    Frame();
    ASSERT_NE(Story(), nullptr);
    const int32_t sheet = GSL_WorkLayerGet(GSL_StoryModeCB, 31);
    ASSERT_GE(sheet, 0);
    EXPECT_LT(Story()->tasks[0], 0);  // no script while the sheet loads
    ASSERT_TRUE(FramesUntil([&] { return Story()->step == 1; }, 20, "the script's start"));
    EXPECT_TRUE(SpriteTable[sheet].flags & SPRITE_READY);
    EXPECT_EQ(SpriteTable[sheet].textureWidth, 1296);
    // Its own piece: the skip icon of the sheet; hidden.
    EXPECT_EQ(SpriteTable[sheet].srcRect[0], 544);
    EXPECT_EQ(SpriteTable[sheet].srcRect[1], 888);
    EXPECT_EQ(SpriteTable[sheet].srcRect[2], 56);
    EXPECT_EQ(SpriteTable[sheet].srcRect[3], 48);
    EXPECT_EQ(Lib_SpriteGetFlag(sheet), 0);
    EXPECT_GE(Story()->tasks[0], 0);
    // It leaves once its loads are over, after its tasks have let go of
    // what they hold (the harness checks that nothing stays behind).
    ASSERT_TRUE(FramesUntil([&] { return Story() == nullptr; }, 30, "the story's end"));
}

TEST_F(StoryStandIn, RunsANamedScriptAndLeavesWhenItsTaskIsGone) {
    // A named script is kept; a missing one ends its task at once.
    ASSERT_TRUE(Scripts({{"00_init.txt", "<image 1>\n"}}));
    std::strcpy(GameStateBlock.scriptName, "other.txt");
    ASSERT_TRUE(FramesUntil([&] { return Story() && Story()->step == 1; }, 10, "the script's start"));
    Frame();
    EXPECT_STREQ(GameStateBlock.scriptName, "other.txt");
    EXPECT_TRUE(Names().empty());
    EXPECT_TRUE(Logged("Lib_ArcGetData(other.txt)"));
    ASSERT_TRUE(FramesUntil([&] { return Story() == nullptr; }, 10, "the story's end"));
    EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
}

TEST_F(StoryStandIn, TheSkipTestSeesThePlayModeAndTheSpecialScenario) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "<wait>\n<keywait 5>\n"}}));
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    ASSERT_TRUE(FramesUntil([&] { return Story() && Story()->step == 1; }, 10, "the script's start"));
    Frame();
    ASSERT_NE(GSL_ScriptStoryState(), nullptr);
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
