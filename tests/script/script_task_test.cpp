#include "script/script_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "script/syntax.h"
#include "script/vars.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"
#include "story/story_screen.h"

namespace {

using Names_ = std::vector<std::string>;

int32_t Idle(void*) { return 0; }

class ScriptTask : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        g_test = this;
        // The interpreter's own tests: music and waits pass at once.
        for (int32_t index : {101, 102, 132}) Handler(index, GSL_CommandEmpty);
    }

public:
    static ScriptTask* g_test;
};
ScriptTask* ScriptTask::g_test = nullptr;

// The frame count of the running test, for handlers.
int FrameNow() { return ScriptTask::g_test->frame; }

std::vector<uint32_t> g_status;

TEST_F(ScriptTask, ATaskRunsTagsUntilTheEndAndEndsWhenAskedAndIdle) {
    Scripts({{"00_init.txt",
              "; opening\n*top\n<label>\n<playbgm title,true,80>\n<end>\n<imagex 1>\n<10 NAME_1>\n<wait time:500>\n"}});
    Handler(132, [](CommandContext* c) {
        g_status.push_back(c->script->status);
        c->script->status |= SCRIPT_TEXT | SCRIPT_PLAYER_WAIT;
    });
    g_status.clear();
    GameStateBlock.stage.textSpeed = 5;
    ASSERT_GE(Start("00_init.txt", 0, 77), 0);
    EXPECT_EQ(GameStateBlock.stage.textSpeed, -1);  // the stage was reset
    EXPECT_EQ(TaskTable.slots[slot]->priority, 34000);
    EXPECT_EQ(TaskTable.slots[slot]->group, 400);
    EXPECT_EQ(TaskTable.slots[slot]->flags, 0);
    EXPECT_STREQ(GSL_ScriptTaskFileName(slot), "00_init.txt");
    EXPECT_EQ(Work()->script.restartOffset, 77u);
    EXPECT_EQ(Work()->secondSlot, -1);

    // Frame 1: the text is found and the restore is done: status 1 for one frame.
    Frame();
    EXPECT_EQ(Work()->state, SCRIPT_TASK_START);
    EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_READY));
    EXPECT_TRUE(executed.empty());

    // Frame 2: every tag runs; unknown names and a literal <end> are passed over.
    Frame();
    EXPECT_EQ(Names(), (Names_{"label", "playbgm", "name", "wait"}));
    for (const auto& e : executed) EXPECT_EQ(e.frame, 2);
    EXPECT_EQ(executed[1].args, (Names_{"title", "true", "80"}));
    EXPECT_EQ(executed[1].offset, 26u);
    EXPECT_EQ(executed[0].status, SCRIPT_STARTED);
    EXPECT_EQ(g_status, std::vector<uint32_t>{SCRIPT_STARTED});
    EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));  // exactly 32
    EXPECT_EQ(Work()->state, SCRIPT_TASK_DONE);

    // It lives on until a finish request comes and no story sprite is loading.
    Frame(3);
    EXPECT_TRUE(Alive());
    SpriteRecord& loading = LayerSprite(5, SPRITE_IN_USE);
    LayerSprite(29, SPRITE_IN_USE | SPRITE_FAILED);
    LayerSprite(30, SPRITE_IN_USE);  // not a story layer the task waits for
    const int32_t breakable = Lib_TaskSet("Other", Idle, 100, 400, TASK_FLAG_BREAKABLE);
    const int32_t second = Lib_TaskSet("Second", Idle, 100, 300, 0);
    Work()->secondSlot = second;
    Finish();
    Frame();
    EXPECT_TRUE(Alive());
    EXPECT_FALSE(GSL_ScriptTaskEnd(slot));
    loading.flags |= SPRITE_READY;
    Frame();
    EXPECT_FALSE(Alive());
    EXPECT_EQ(GSL_ScriptStatusGet(slot), -1);
    EXPECT_EQ(TaskTable.slots[breakable]->finishRequest, 1);
    EXPECT_EQ(TaskTable.slots[second], nullptr);
}

TEST_F(ScriptTask, StartOffsetAndEndingFromOutside) {
    Scripts({{"00_init.txt", "<wait>\n<label>\n"}});
    SpriteRecord& loading = LayerSprite(5, SPRITE_IN_USE);  // loading, but the story goes
    NoStory();
    Start("00_init.txt", 8);
    Frame(2);
    // A start offset past 0 is a saved position: the restore re-runs the
    // script from the restart offset (0) up to it.
    EXPECT_EQ(Names(), (Names_{"wait", "label"}));
    EXPECT_TRUE(executed[0].status & SCRIPT_REPLAY_RUN);
    EXPECT_EQ(executed[1].status, SCRIPT_STARTED);
    // Without a story screen nothing holds the end back.
    EXPECT_TRUE(GSL_ScriptTaskEnd(slot));
    EXPECT_FALSE(Alive());
    EXPECT_FALSE(GSL_ScriptTaskEnd(slot));
    EXPECT_FALSE(GSL_ScriptTaskEnd(-1));
    EXPECT_FALSE(GSL_ScriptTaskEnd(kTaskSlots));
    EXPECT_EQ(GSL_ScriptTaskFileName(slot), nullptr);
    // Only script tasks are ended.
    const int32_t other = Lib_TaskSet("Other", Idle, 100, 400, 0);
    EXPECT_FALSE(GSL_ScriptTaskEnd(other));
    EXPECT_NE(TaskTable.slots[other], nullptr);
    loading.flags |= SPRITE_READY;  // its picture arrives: the screen's late free takes it
    Frame();
}

struct Waiting {
    int32_t frames;
    char buffer[64];
};
struct Call {
    int frame;
    const char* arg;
    uint32_t step;
    int32_t frames;
};
std::vector<Call> g_calls;
bool g_clean = false;

TEST_F(ScriptTask, AWaitingHandlerKeepsItsArgumentsAndFields) {
    Scripts({{"00_init.txt", "<wait 1,2>\n<image 2>\n"}});
    g_calls.clear();
    g_clean = false;
    Handler(132, [](CommandContext* c) {
        Waiting* w = GSL_CommandPrivate<Waiting>(c);
        g_calls.push_back({FrameNow(), c->args[0], c->step, w->frames});
        if (c->step == 0) {
            c->script->status |= SCRIPT_BUSY;
            std::strcpy(w->buffer, "kept");
        }
        EXPECT_STREQ(w->buffer, "kept");
        if (++w->frames == 3) {
            c->step = CMD_STEP_LAST;
            c->script->status &= ~SCRIPT_BUSY;
        } else {
            ++c->step;
        }
    });
    Handler(33, [](CommandContext* c) {
        g_clean = c->step == 0 && c->argCount == 1 && GSL_CommandPrivate<Waiting>(c)->frames == 0 &&
                  GSL_CommandPrivate<Waiting>(c)->buffer[0] == 0 && c->args[1] == nullptr;
    });
    Start("00_init.txt");
    Frame(4);
    ASSERT_EQ(g_calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_calls[size_t(i)].frame, 2 + i);
        EXPECT_EQ(g_calls[size_t(i)].arg, g_calls[0].arg);
        EXPECT_EQ(g_calls[size_t(i)].step, uint32_t(i));
        EXPECT_EQ(g_calls[size_t(i)].frames, i);
    }
    EXPECT_TRUE(g_clean);
    EXPECT_EQ(Names(), (Names_{"wait", "image"}));  // traced once per tag
    EXPECT_EQ(Work()->script.prevCommand, 33);
}

TEST_F(ScriptTask, AFinishRequestWhileAHandlerWaitsEndsWithoutCallingItAgain) {
    Scripts({{"00_init.txt", "<wait>\n<image 1>\n"}});
    g_calls.clear();
    Handler(132, [](CommandContext* c) {
        g_calls.push_back({FrameNow(), nullptr, c->step, 0});
        c->script->status |= SCRIPT_BUSY;
    });
    Start("00_init.txt");
    Frame(3);
    EXPECT_EQ(g_calls.size(), 2u);
    Finish();
    Frame();
    EXPECT_EQ(g_calls.size(), 2u);
    EXPECT_FALSE(Alive());
    EXPECT_EQ(Names(), Names_{"wait"});
}

TEST_F(ScriptTask, BrokenScriptsEndWithoutAHang) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> members;
        bool container;
        Names_ names;
        const char* debug;
    } cases[] = {
        {"missing member", {{"other.txt", "<wait>"}}, true, {}, "Lib_ArcGetData(00_init.txt)"},
        {"no container", {}, false, {}, "Lib_ArcGetData(00_init.txt)"},
        {"unterminated tag", {{"00_init.txt", "<wait>\r\n<image 1"}}, true, {"wait"}, "(00_init.txt): tag at 8"},
        {"embedded NUL", {{"00_init.txt", std::string("<wait>\0<image 1>", 16)}}, true, {"wait"}, "tag at 6"},
        {"NUL inside a tag", {{"00_init.txt", std::string("<wait><image\0>", 14)}}, true, {"wait"}, "tag at 6"},
        {"next member behind", {{"00_init.txt", "<wait><ima"}, {"b.txt", "ge 1>"}}, true, {"wait"}, "tag at 6"},
        {"member end", {{"00_init.txt", "<wait>"}, {"b.txt", "<image 1>"}}, true, {"wait"}, nullptr},
        {"UTF-8 text", {{"00_init.txt", "<text \xE3\x80\x82>\r\n<wait>"}}, true, {"text"}, nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (c.container) Raw(c.members);
        Start("00_init.txt");
        Frame(2);
        EXPECT_EQ(Names(), c.names);
        if (c.names.empty()) {
            EXPECT_FALSE(Alive());
        } else {
            EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
        }
        if (c.debug) {
            EXPECT_TRUE(Logged(c.debug)) << Log();
        }
    }
    // A damaged directory counts as no container, and stderr says so once.
    TearDown();
    SetUp();
    Cache(std::string("\0\0\0\0\xff\xff\0\0", 8));
    testing::internal::CaptureStderr();
    Start("00_init.txt");
    Frame();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Alive());
    EXPECT_NE(err.find("script pack script/script.arc is damaged"), std::string::npos) << err;
}

bool g_endResult = true;

TEST_F(ScriptTask, AHandlerEndingItsOwnTaskLeavesTheWorkAlive) {
    Scripts({{"00_init.txt", "<returnmenu>\n<wait>\n"}});
    Handler(131, [](CommandContext* c) {
        // As a returnmenu ends the story screen's task, through its context:
        // refused while it runs, so only its finish request is set.
        const int32_t task = GSL_WorkTaskGet(GSL_StoryModeCB);
        g_endResult = GSL_ScriptTaskEnd(task);
        GSL_WorkTaskEnd(GSL_StoryModeCB, 0);
        c->script->status |= SCRIPT_BUSY;
        c->step = CMD_STEP_LAST;
        std::memset(c->priv, 0x5A, sizeof c->priv);
    });
    Start("00_init.txt");
    Frame(2);
    EXPECT_FALSE(g_endResult);
    ASSERT_TRUE(Alive());
    EXPECT_EQ(Work()->context.priv[0], 0x5A);
    EXPECT_EQ(Work()->script.status, SCRIPT_STARTED | SCRIPT_BUSY);
    Frame();
    EXPECT_FALSE(Alive());
    EXPECT_EQ(Names(), Names_{"returnmenu"});
}

TEST_F(ScriptTask, AReturnWithoutAReturnPointEndsTheTaskAndTheScreenForgetsIt) {
    Scripts({{"00_init.txt", "<return>\n<wait>\n"}});
    Start("00_init.txt");
    Frame(2);
    EXPECT_EQ(Story()->tasks[0], -1);
    Frame();
    EXPECT_FALSE(Alive());
    EXPECT_EQ(Names(), Names_{"return"});
    // A task that takes the freed slot is not the screen's: the screen's
    // end leaves it alone.
    const int32_t other = Lib_TaskSet("Other", Idle, 100, 400, 0);
    ASSERT_EQ(other, slot);
    NoStory();
    EXPECT_EQ(TaskTable.slots[other]->finishRequest, 0);
    Lib_TaskDel(uint32_t(other));
}

int g_jumps = 0;
uint32_t NoDraw(uint32_t, uint32_t) { return 0; }

// A loop that never waits and draws a number every round (so it may yet
// end) runs on, a limited count of tags a frame.
TEST_F(ScriptTask, AFrameYieldsAfterTooManyTagsWithoutAWait) {
    Scripts({{"00_init.txt", "<jump>\n"}});
    GSL_ScriptTraceSet(nullptr);
    GSL_ScriptRandomSet(NoDraw);
    g_jumps = 0;
    Handler(114, [](CommandContext* c) {
        ++g_jumps;
        GSL_ScriptRand(0, 1);
        c->script->nextOffset = 0;
    });
    Start("00_init.txt");
    Frame(2);
    EXPECT_EQ(g_jumps, 100000);
    Frame();
    EXPECT_EQ(g_jumps, 200000);
    EXPECT_TRUE(Alive());
    EXPECT_TRUE(Logged("tags in one frame"));
    GSL_ScriptRandomSet(nullptr);
}

std::vector<int> g_workFrames;

TEST_F(ScriptTask, AFrameYieldsOnceItsShareOfTimeIsSpentAndGoesOnNextFrame) {
    // A loop that never waits, each round of which takes a millisecond.
    Scripts({{"00_init.txt", "*r\n<label>\n<eval \"[0]+=1\">\n<jump \"\",*r>\n"}});
    g_workFrames.clear();
    Handler(113, [](CommandContext*) {
        g_workFrames.push_back(FrameNow());
        ClockAdvance(1000);
    });
    Start("00_init.txt");
    Frame(4);
    ASSERT_FALSE(g_workFrames.empty());
    // Each frame does a few rounds, then the frame goes on; the next frame
    // takes up the loop where it stood.
    for (int f = 2; f <= 4; ++f) {
        const auto n = std::count(g_workFrames.begin(), g_workFrames.end(), f);
        EXPECT_GE(n, 1) << "frame " << f;
        EXPECT_LE(n, 10) << "frame " << f;
    }
    for (size_t i = 0; i + 2 < executed.size(); i += 3)
        EXPECT_EQ((Names_{GSL_ScriptCommandGet(executed[i].index).name, GSL_ScriptCommandGet(executed[i + 1].index).name,
                          GSL_ScriptCommandGet(executed[i + 2].index).name}),
                  (Names_{"label", "eval", "jump"}));
    EXPECT_TRUE(Alive());
}

TEST_F(ScriptTask, TraceFromTheEnvironment) {
    Scripts({{"00_init.txt", "<playbgm title,true,80>\n<imagex>\n<stopbgm time:1000>\n<text \xE3\x81\x82>\n"}});
    ::setenv("VN_SCRIPT_TRACE", "1", 1);
    GSL_ScriptTraceFromEnv();
    ::unsetenv("VN_SCRIPT_TRACE");
    testing::internal::CaptureStderr();
    Start("missing.txt");
    Frame();
    Start("00_init.txt");
    Frame(2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error -> Lib_ArcGetData(missing.txt)"), std::string::npos) << err;
    EXPECT_NE(err.find("script 00_init.txt:1 playbgm(101) title, true, 80\n"), std::string::npos) << err;
    EXPECT_NE(err.find("script 00_init.txt:3 stopbgm(102) time:1000\n"), std::string::npos) << err;
    EXPECT_NE(err.find("text(11) \xE3\x81\x82\n"), std::string::npos) << err;
    EXPECT_NE(err.find(" imagex(unknown)\n"), std::string::npos) << err;
}

}  // namespace
