#include "script/replay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow_env.h"

namespace {

using flow_env::g_shown;
using script_env::g_log;
using Lines = std::vector<std::string>;

class Replay : public FlowEnv {
protected:
    // A new play-through: empty game state and stage, no task.
    void NewGame() {
        if (slot_ >= 0 && Alive()) GSL_ScriptTaskEnd(slot_);
        std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
        GSL_StageReset(&GameStateBlock.stage, 3);
        PendingCall = {-1, 0};
        flow_env::g_stage = {};
        flow_env::g_nameClear = false;
        g_shown.clear();
        g_log.clear();
    }
    std::vector<const script_env::Executed*> Traced(uint32_t bit, const std::string& name = "") const {
        std::vector<const script_env::Executed*> out;
        for (const auto& e : g_log)
            if ((e.status & bit) && (name.empty() || name == GSL_ScriptCommandGet(e.index).name)) out.push_back(&e);
        return out;
    }
};

TEST_F(Replay, AGameSavedAtOffsetZeroStartsWithoutAReplay) {
    Scripts({{"00_init.txt", "<text a>\n<keywait 0>\n"}});
    Fakes();
    Start("00_init.txt", 0, 0);
    Frame();
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_READY));
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(ReplayPhase, 0);
    Frame();
    EXPECT_EQ(g_shown, Lines{"text a"});
}

std::vector<std::pair<int32_t, std::string>> g_left[8];

// Runs the dedupe table inside a main run, on records of free commands
// 141..146 whose argument 0 is the key.
void DedupeTable(CommandContext* c) {
    if (GSL_ReplayModeGet(c) != REPLAY_RUN) return;
    static const char text[] = "A B AB C \"\"";
    static ScriptState st;
    static CommandContext cx;
    st = ScriptState{};
    st.text = text;
    st.size = sizeof text - 1;
    cx.script = &st;
    cx.argCount = 1;
    auto at = [](const char* key) {
        if (!std::strcmp(key, "A")) return text + 0;
        if (!std::strcmp(key, "B")) return text + 2;
        if (!std::strcmp(key, "AB")) return text + 4;
        if (!std::strcmp(key, "C")) return text + 7;
        return text + 9;  // "" (empty)
    };
    auto record = [&](int32_t cmd, std::vector<const char*> keys) {
        st.command = cmd;
        for (const char* k : keys) {
            cx.args[0] = at(k);
            GSL_ReplayRecord(&cx);
        }
    };
    auto dedupe = [&](int32_t cmd, const char* key, int32_t pos, int32_t keep, bool own = false) {
        st.command = cmd;
        cx.args[0] = at(key);
        GSL_ReplayDedupe(&cx, own ? -1 : cmd, 0, pos, keep);
    };
    record(141, {"A", "B", "A", "AB", "A"});
    dedupe(141, "A", 0, 0);  // keyed, keep 0: exactly one removal, the oldest
    record(142, {"A", "B", "A", "A"});
    dedupe(142, "A", 0, 1);  // keyed, keep 1: down to one
    record(143, {"A", "B", "C"});
    dedupe(143, "B", -1, 0);  // "arg_default", keep 0: all of them
    record(144, {"A", "B", "C"});
    dedupe(144, "A", -1, 1, true);  // the context's own command, keep 1
    record(145, {"A"});
    dedupe(145, "A", 0, 1);  // m = 1 is not above the keep count
    record(146, {"", ""});
    dedupe(146, "", 0, 0);  // empty keys never match
    char key[64];
    for (auto& l : g_left) l.clear();
    for (int32_t i = 0; i < GSL_ReplayCount(); ++i) {
        const int32_t cmd = GSL_ReplayRecordKey(i, 0, key, sizeof key);
        g_left[cmd - 141].emplace_back(cmd, key);
    }
    // Nothing of these is replayed.
    dedupe(141, "A", -1, 0);
    dedupe(142, "A", -1, 0);
    dedupe(144, "A", -1, 0);
    dedupe(145, "A", -1, 0);
    dedupe(146, "A", -1, 0);
}

TEST_F(Replay, DedupeDropsOlderRecordsByKeyAndKeepCount) {
    Scripts({{"00_init.txt", "<140>\n<keywait 0>\n"}});
    Handler(140, DedupeTable);
    Fakes();
    Start("00_init.txt", 7, 0);
    Frame(2);
    using Left = std::vector<std::pair<int32_t, std::string>>;
    EXPECT_EQ(g_left[0], (Left{{141, "B"}, {141, "A"}, {141, "AB"}, {141, "A"}}));
    EXPECT_EQ(g_left[1], (Left{{142, "B"}, {142, "A"}}));
    EXPECT_EQ(g_left[2], Left{});
    EXPECT_EQ(g_left[3], (Left{{144, "C"}}));
    EXPECT_EQ(g_left[4], (Left{{145, "A"}}));
    EXPECT_EQ(g_left[5], (Left{{146, ""}, {146, ""}}));
    EXPECT_EQ(ReplayPhase, 0);
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_STARTED | SCRIPT_BUSY | SCRIPT_PLAYER_WAIT));
}

std::string Words33() {
    std::string s = "<text";
    for (int i = 1; i <= 33; ++i) s += " w" + std::to_string(i);
    return s + ">\n";
}

const std::vector<std::pair<std::string, std::string>> kStory = {
    {"00_init.txt",
     "<eval \"[2001]=7\">\n"
     "*top\n<label>\n<playbgm title>\n<image 0,bg_a>\n<name N0>\n<text hello>\n<keywait 0>\n"
     "*second\n<label ref:0>\n<image 1,chara_b>\n<name N1>\n<text line one>\n<keywait 1>\n"
     "<clearvar>\n<eval \"[2000]+=5\">\n<text after clear>\n<keywait 2>\n"
     "*third\n<label>\n<image 0,bg_c>\n<image 1,chara_c>\n" +
         Words33() +
         "<keywait 3>\n<stopbgm>\n<playbgm other>\n<name N3>\n<text last>\n<keywait 4>\n"
         "<call sub,*s>\n<text back>\n<keywait 6>\n"},
    {"sub.txt", "<text not_run>\n*s\n<label>\n<image 2,sub_pic>\n<name NS>\n<text in sub>\n<keywait 5>\n"},
};

TEST_F(Replay, ARestoredLineShowsWhatRunningStraightToItShows) {
    Scripts(kStory);
    Fakes();
    for (int32_t n = 0; n <= 6; ++n) {
        SCOPED_TRACE(n);
        NewGame();
        Start("00_init.txt");
        ASSERT_TRUE(RunToLines(uint32_t(n + 1)));
        const flow_env::FakeStage straight = flow_env::g_stage;
        int8_t vars[24];
        std::memcpy(vars, GameStateBlock.gameVars, sizeof vars);
        const uint32_t labels = GameStateBlock.labelCount;
        const uint32_t lastPos = GameStateBlock.readLinePos[n];
        const std::string file = Work()->fileName;

        g_log.clear();
        RestoreAt(n);
        ASSERT_TRUE(RunToLines(uint32_t(n + 1)));
        EXPECT_EQ(flow_env::g_stage.layers, straight.layers);
        EXPECT_EQ(flow_env::g_stage.music, straight.music);
        EXPECT_EQ(flow_env::g_stage.name, straight.name);
        EXPECT_EQ(flow_env::g_stage.text, straight.text);
        EXPECT_EQ(std::memcmp(vars, GameStateBlock.gameVars, sizeof vars), 0);
        EXPECT_EQ(GameStateBlock.labelCount, labels);
        EXPECT_EQ(GameStateBlock.readLinePos[n], lastPos);
        EXPECT_STREQ(Work()->fileName, file.c_str());
        EXPECT_EQ(ReplayPhase, 0);
        if (n == 4) {
            // The superseded music and the earlier texts were dropped.
            const auto bgm = Traced(SCRIPT_REPLAYING, "playbgm");
            ASSERT_EQ(bgm.size(), 1u);
            EXPECT_EQ(bgm[0]->args, Lines{"other"});
            const auto texts = Traced(SCRIPT_REPLAYING, "text");  // the line before and this one
            ASSERT_EQ(texts.size(), 2u);
            EXPECT_EQ(texts[1]->args, Lines{"last"});
            EXPECT_EQ(Traced(SCRIPT_REPLAYING, "image").size(), 2u);
            EXPECT_FALSE(Traced(SCRIPT_SILENT).empty());
        }
        if (n == 6) {
            // Each replayed tag is traced under the file it comes from.
            std::vector<std::string> images;
            for (const auto* e : Traced(SCRIPT_REPLAYING, "image")) images.push_back(e->file + " " + e->args[1]);
            EXPECT_EQ(images, (Lines{"00_init.txt bg_c", "00_init.txt chara_c", "sub.txt sub_pic"}));
        }
    }
    // The 33-word line is replayed whole.
    NewGame();
    Start("00_init.txt");
    ASSERT_TRUE(RunToLines(5));
    RestoreAt(4);
    ASSERT_TRUE(RunToLines(5));
    std::string words;
    for (int i = 1; i <= 33; ++i) words += (i > 1 ? " w" : "w") + std::to_string(i);
    EXPECT_NE(std::find(g_shown.begin(), g_shown.end(), "text " + words), g_shown.end());
}

std::string Fillers(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "<140>\n";
    return s;
}

TEST_F(Replay, TheSilentRunStopsAtThePassAfterTheEarlierOnes) {
    auto loop = [](int fillers) {
        return "*top\n<label>\n<image 0,bg>\n"
               "*loop\n<label>\n<text line>\n" + Fillers(fillers) +
               "<keywait 0>\n<eval \"[2000]+=1\">\n<jump \"\",*loop,\"[2000]!=4\">\n"
               "<text done>\n<keywait 1>\n";
    };
    // Also when the passes take more than one frame's share of tags.
    Scripts({{"00_init.txt", loop(0)}, {"long.txt", loop(7000)}});
    Fakes();
    for (const char* file : {"00_init.txt", "long.txt"}) {
        SCOPED_TRACE(file);
        NewGame();
        Start(file);
        ASSERT_TRUE(RunToLines(4));  // the fourth pass of the same line
        g_log.clear();
        RestoreAt(3);
        ASSERT_TRUE(RunToLines(4));
        // The silent run starts at the loop label (the flagged entry before
        // the restart label) and passes the restart point three times.
        EXPECT_EQ(Traced(SCRIPT_SILENT, "jump").size(), 4u);
        EXPECT_TRUE(Traced(SCRIPT_SILENT, "text").size() == 4u);
        EXPECT_EQ(GameStateBlock.gameVars[0], 3);
        EXPECT_EQ(flow_env::g_stage.text, "line");
        Frame(3);
        EXPECT_EQ(g_shown.back(), "text done");
    }
}

TEST_F(Replay, ARestoreThatTakesSeveralFramesStillStopsAtTheSavedLine) {
    // The tag before the saved line's wait is the last of the first frame's
    // share of the main run.
    Scripts({{"00_init.txt",
              "*top\n<label>\n" + Fillers(19999) + "<text b>\n<keywait 0>\n<text c>\n<keywait 1>\n"}});
    Fakes();
    Handler(140, GSL_CommandEmpty);
    Start("00_init.txt");
    ASSERT_TRUE(RunToLines(2));
    RestoreAt(0);
    ASSERT_TRUE(RunToLines(1));
    EXPECT_EQ(flow_env::g_stage.text, "b");
    EXPECT_EQ(g_shown, Lines{"text b"});
    EXPECT_EQ(ReplayPhase, 0);
}

TEST_F(Replay, AScriptEndingBeforeTheTargetEndsTheReplay) {
    Scripts({{"00_init.txt",
              "*top\n<label>\n<text a>\n<keywait 0>\n<jump \"\",*end,\"[2000]==1\">\n<text b>\n<keywait 1>\n"
              "*end\n<label>\n<text end>\n"}});
    Fakes();
    Start("00_init.txt");
    ASSERT_TRUE(RunToLines(2));
    // The save remembers a variable that now jumps past the line.
    GameStateBlock.labelVars[0][0] = 1;
    RestoreAt(1);
    Frame(3);
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));
    EXPECT_EQ(flow_env::g_stage.text, "end");
    EXPECT_EQ(ReplayPhase, 0);
}

TEST_F(Replay, ASilentRunEndingInAnotherFileLeavesTheStoryScriptsName) {
    Scripts({{"a.txt", "*a\n<label>\n<image 3,from_a>\n<jump b>\n"},
             {"b.txt", "<image 4,from_b>\n<call c>\n"},
             {"t.txt", "*t\n<label>\n<text t1>\n<keywait 0>\n*t2\n<label>\n<text t2>\n<keywait 1>\n"}});
    Fakes();
    const int32_t a = GSL_ScriptMemberIndex("a.txt"), t = GSL_ScriptMemberIndex("t.txt");
    GameState& g = GameStateBlock;
    g.labelPos[0] = GSL_ScriptPosition(a, 4);
    g.labelFlags[0] = 1;
    g.labelPos[1] = GSL_ScriptPosition(t, 4);
    g.labelFlags[1] = 1;
    g.labelCount = 2;
    g.readLineLabel[0] = 1;
    g.readLinePos[0] = GSL_ScriptPosition(t, 24);
    g.readLineCount = 0;
    Start("t.txt", 24, 4);
    ASSERT_TRUE(RunToLines(1));
    EXPECT_STREQ(Work()->fileName, "t.txt");
    EXPECT_EQ(g.readLinePos[0], GSL_ScriptPosition(t, 24));
    EXPECT_EQ(flow_env::g_stage.layers, (std::map<int32_t, std::string>{{3, "from_a"}, {4, "from_b"}}));
    ASSERT_TRUE(RunToLines(2));
    EXPECT_EQ(g.labelPos[2] >> 20, uint32_t(t));
}

TEST_F(Replay, DamagedHistoriesRestoreWithoutACrash) {
    Scripts(kStory);
    Fakes();
    struct Damage {
        uint32_t lines, labels;
        uint16_t lineLabel;
        uint32_t member;
    };
    const Damage cases[] = {{16000, 3, 1, 0}, {70000, 3, 1, 0}, {2, 70000, 1, 0},
                            {2, 3, 500, 0}, {2, 3, 1, 4000}, {2, 3, 0xFFFF, 0xFFF}};
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.lines);
        NewGame();
        Start("00_init.txt");
        ASSERT_TRUE(RunToLines(3));
        GameState& g = GameStateBlock;
        g.readLineCount = d.lines;
        g.labelCount = d.labels;
        if (d.lines < kReadLineSize) g.readLineLabel[d.lines] = d.lineLabel;
        for (uint32_t i = 0; i < kLabelHistorySize; ++i)
            if (d.member) g.labelPos[i] = (d.member << 20) | (g.labelPos[i] & 0xFFFFF);
        if (d.member) g.readLinePos[1] = (d.member << 20) | 0xFFFFF;
        // A history the restore cannot serve (a line count past its table, a
        // line in a member that is not there) is refused.
        const bool served = d.lines <= kReadLineSize && d.member == 0;
        EXPECT_EQ(RestoreAt(1) >= 0, served);
        Frame(6);
        if (served) {
            EXPECT_GE(GSL_ScriptStatusGet(slot_), 0);
        }
        EXPECT_EQ(ReplayPhase, 0);
        // And straight into the task, with the histories as they are.
        g.readLineCount = d.lines;
        g.labelCount = d.labels;
        if (served) GSL_ScriptTaskEnd(slot_);
        Start("00_init.txt", 0xFFFFF, 0xFFFFF);
        Frame(4);
        EXPECT_EQ(ReplayPhase, 0);
    }
}

TEST_F(Replay, EndingATaskDuringItsRestoreEndsTheReplay) {
    Scripts({{"00_init.txt", "*top\n<label>\n<eval \"[08]=1\">\n<140>\n<text a>\n<keywait 0>\n"}});
    Fakes();
    // A command that waits for ever during the main run.
    const CommandHandler busy = [](CommandContext* c) {
        if (GSL_ReplayModeGet(c) == REPLAY_RUN) c->script->status |= SCRIPT_BUSY;
    };
    Handler(140, busy);
    Start("00_init.txt", 46, 6);
    Frame(3);
    EXPECT_EQ(ReplayPhase, 1);
    EXPECT_TRUE(GSL_ScriptTaskEnd(slot_));
    EXPECT_EQ(ReplayPhase, 0);
    EXPECT_EQ(SystemDataBlock.systemVars[8], 0) << "kept what the replay wrote unseen";
    EXPECT_EQ(GSL_ReplayTargetText(), nullptr);
    // A new task (in the same work area) starts without the old replay.
    Handler(140, GSL_CommandEmpty);
    Start("00_init.txt", 0, 0);
    Frame(2);
    EXPECT_EQ(g_shown, Lines{"text a"});

    // Removing every screen task, as a story's restart does, ends it too,
    // before the screen heap is laid out afresh.
    Handler(140, busy);
    GSL_ScriptTaskEnd(slot_);
    SystemDataBlock.systemVars[8] = 0;  // as the play above set it
    Start("00_init.txt", 46, 6);
    Frame(3);
    ASSERT_EQ(ReplayPhase, 1);
    StoryPresent(false);
    GSL_WorkDeleteAll();
    EXPECT_FALSE(Alive());
    EXPECT_EQ(ReplayPhase, 0);
    EXPECT_EQ(SystemDataBlock.systemVars[8], 0) << "kept what the replay wrote unseen";

    // The run's reset forgets a replay whose heaps went with the task table,
    // and the next restore runs whole.
    StoryPresent(true);
    Start("00_init.txt", 46, 6);
    Frame(3);
    ASSERT_EQ(ReplayPhase, 1);
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 4 * mib, 2 * mib, 8 * mib, 2 * mib};
    ASSERT_TRUE(Lib_MemInit(sizes));
    ASSERT_TRUE(Lib_TaskInit());
    GSL_ScriptRunStateReset();
    Scripts({{"00_init.txt", "*top\n<label>\n<140>\n<text a>\n<keywait 0>\n"}});
    Handler(140, GSL_CommandEmpty);
    g_shown.clear();
    Start("00_init.txt", 29, 6);
    Frame(4);
    EXPECT_EQ(g_shown, Lines{"text a"});
    EXPECT_EQ(ReplayPhase, 0);
}

}  // namespace
