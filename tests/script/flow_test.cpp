#include "script/flow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "flow_env.h"

namespace {

using flow_env::g_shown;
using Lines = std::vector<std::string>;

bool DebugHas(const std::string& part) {
    for (const std::string& line : script_env::g_debug)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

class Flow : public FlowEnv {};

TEST_F(Flow, CallsReturnBehindTheCallAndNestedCallsUnwindInOrder) {
    Scripts({{"00_init.txt", "*top\n<label>\n<call a,*a1>\n<text back_in_init>\n"},
             {"a.txt", "<text skipped>\n*a1\n<label>\n<text in_a>\n<call b>\n<text back_in_a>\n"},
             {"b.txt", "*b\n<label>\n<text in_b>\n<call c,*c1>\n<text back_in_b>\n<return>\n<text never>\n"},
             {"c.txt", "*c0\n<label>\n<text zero>\n*c1\n<label>\n<text in_c>\n"}});
    Fakes();
    Start("00_init.txt");
    Frame(3);
    EXPECT_EQ(g_shown, (Lines{"text in_a", "text in_b", "text in_c", "text back_in_b", "text back_in_a",
                              "text back_in_init"}));
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));
    EXPECT_STREQ(Work()->fileName, "00_init.txt");
    EXPECT_EQ(PendingCall.member, -1);

    // One entry per label passed; the called files' labels hold the return
    // point behind their call tag, the first label none.
    const GameState& g = GameStateBlock;
    ASSERT_EQ(g.labelCount, 4u);
    const int32_t init = GSL_ScriptMemberIndex("00_init.txt"), a = GSL_ScriptMemberIndex("a.txt");
    EXPECT_EQ(g.labelReturn[0], 0u);
    EXPECT_EQ(g.labelPos[0], GSL_ScriptPosition(init, 6));      // the <label> tag behind "*top" CR LF
    EXPECT_EQ(g.labelReturn[1], GSL_ScriptPosition(init, 27));  // behind "<call a,*a1>"
    EXPECT_EQ(g.labelPos[1] >> 20, uint32_t(a));
    EXPECT_EQ(g.labelReturn[2] >> 20, uint32_t(a));
    EXPECT_EQ(g.labelReturn[3] >> 20, uint32_t(GSL_ScriptMemberIndex("b.txt")));
    EXPECT_EQ(GSL_HistoryFind("a.txt", 1), 1);
    EXPECT_EQ(GSL_HistoryFind("00_init.txt", 1), -1);
    EXPECT_EQ(GSL_HistoryFind("00_init.txt", 0), 0);

    // A new task in a called file takes its return point back from the
    // history (the stage reset re-arms it).
    std::snprintf(GameStateBlock.scriptName, sizeof GameStateBlock.scriptName, "a.txt");
    GSL_StageReset(&GameStateBlock.stage, STAGE_RESET_FIELDS | STAGE_RESET_CAMERAS);
    EXPECT_EQ(PendingCall.member, init);
    EXPECT_EQ(PendingCall.offset, 27u);
}

TEST_F(Flow, ReturnWithoutAReturnPointEndsTheTaskThroughItsFinishRequest) {
    Scripts({{"00_init.txt", "<text one>\n<return>\n<text never>\n"}});
    Fakes();
    Start("00_init.txt");
    Frame(2);
    EXPECT_EQ(g_shown, Lines{"text one"});
    Frame(2);
    EXPECT_FALSE(Alive());
}

TEST_F(Flow, JumpsWithConditionsEmptyFilesMissingFilesAndLabels) {
    Scripts({{"00_init.txt",
              "<eval \"[2000]+=1\">\n<text pass>\n"
              "<jump other,*x,\"[2000]==1 && [2001]==1\">\n"  // false: continues
              "<jump \"\",*here>\n<text skipped>\n"
              "*here\n<label>\n"
              "<jump missing,*x,\"[2000]==1\">\n"  // a missing file: offset 0 of this file
              "<jump other,*nolabel>\n"},
             {"other.txt", "<text other_start>\n*x\n<label>\n<text other_x>\n"}});
    Fakes();
    Start("00_init.txt");
    Frame(2);
    EXPECT_EQ(g_shown, (Lines{"text pass", "text pass", "text other_start", "text other_x"}));
    EXPECT_TRUE(DebugHas("Error -> Lib_ArcGetData(missing.txt)"));
    EXPECT_STREQ(Work()->fileName, "other.txt");
    EXPECT_EQ(GameStateBlock.gameVars[0], 2);
    // The missing file left the script's name as it was: the label passed
    // after it still names 00_init.txt's member.
    ASSERT_EQ(GameStateBlock.labelCount, 3u);
    EXPECT_EQ(GameStateBlock.labelPos[1] >> 20, uint32_t(GSL_ScriptMemberIndex("00_init.txt")));
}

TEST_F(Flow, FullHistoriesKeepTheirNewestAndTheReferenceFlags) {
    Scripts({{"00_init.txt", "*a\n<label ref:0>\n<keywait 0>\n*b\n<label>\n<keywait 1>\n*c\n<label>\n<keywait 2>\n"}});
    Fakes();
    GameStateBlock.labelCount = 398;
    GameStateBlock.readLineCount = 15998;
    Start("00_init.txt");
    Frame(10);
    // The third label and line push the oldest out; the lines' labels follow.
    const GameState& g = GameStateBlock;
    EXPECT_EQ(g.labelCount, 400u);
    EXPECT_EQ(g.readLineCount, 16000u);
    EXPECT_EQ(g.labelFlags[397], 0);
    EXPECT_EQ(g.labelFlags[398], 1);
    EXPECT_EQ(g.labelFlags[399], 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(g.readLineLabel[15997 + i], 397 + i);
    EXPECT_EQ(g.readLinePos[15998] & 0xFFFFF, 45u);
    EXPECT_EQ(g.readLinePos[15999] & 0xFFFFF, 71u);
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));

    // Counts beyond the tables (a damaged save) are cut where they are read.
    GameStateBlock.labelCount = 70000;
    GameStateBlock.readLineCount = 70000;
    EXPECT_EQ(GSL_LabelCount(), 400u);
    EXPECT_EQ(GSL_ReadLineCount(), 16000u);
    EXPECT_EQ(GSL_HistoryFind("00_init.txt", 0), 399);
}

// However many labels pass, a full label history keeps what a return needs:
// each return goes behind its own call, as an unbounded history would send
// it. A story loaded on a full history returns where that history says.
TEST_F(Flow, AReturnAtAFullLabelHistoryGoesBehindItsCall) {
    const Lines both = {"text in_s4", "text between", "text in_s4", "text after"};
    std::string many = "*m\n<label>\n<call s4>\n";
    for (int i = 0; i < 450; ++i) many += "*l" + std::to_string(i) + "\n<label>\n";
    many += "<text many_back>\n<return>\n";
    const std::string twice = "*top\n<label>\n<call s4>\n<text between>\n<call s4>\n<text after>\n";
    struct Case {
        const char* start;
        const char* init;
        uint32_t labels;  // at the start
        uint32_t kept;    // the offset of 00_init.txt the history's last entry returns to (s4.txt's), or 0
        Lines shown;
    } cases[] = {
        {"00_init.txt", twice.c_str(), 398, 0, both},
        {"00_init.txt", "*top\n<label>\n<call many>\n<call s4>\n<text after>\n", 0, 0,
         {"text in_s4", "text many_back", "text in_s4", "text after"}},
        {"s4.txt", twice.c_str(), 400, 0, {"text in_s4"}},
        {"s4.txt", twice.c_str(), 400, 24, both},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " " + std::to_string(c.labels) + " " + std::to_string(c.kept));
        TearDown();
        SetUp();
        Scripts({{"00_init.txt", c.init}, {"s4.txt", "*s4\n<label>\n<text in_s4>\n<return>\n"}, {"many.txt", many}});
        Fakes();
        GameStateBlock.labelCount = c.labels;
        GameStateBlock.labelPos[399] = GSL_ScriptPosition(GSL_ScriptMemberIndex("s4.txt"), 5);
        const int32_t init = GSL_ScriptMemberIndex("00_init.txt");
        GameStateBlock.labelReturn[399] = c.kept ? GSL_ScriptPosition(init, c.kept) : 0;
        testing::internal::CaptureStderr();
        Start(c.start);
        Frame(20);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(g_shown, c.shown);
        EXPECT_EQ(GameStateBlock.labelCount, 400u);
    }
}

TEST_F(Flow, TheLabelIndexIsReadWithinItsMember) {
    // A count larger than the member, names filling their 64 bytes, an
    // offset past the member.
    std::string info(8, '\0');
    const int32_t count = 50;
    std::memcpy(&info[0], &count, 4);
    std::string full(136, 'L');
    std::memcpy(&full[64], "00_init.txt\0", 12);
    std::string ok(136, '\0');
    std::memcpy(&ok[0], "*ok", 3);
    std::memcpy(&ok[64], "00_init.txt", 11);
    const uint64_t far = 1u << 30;
    std::memcpy(&ok[128], &far, 8);
    info += full + ok + "partial";
    Raw({{"00_info.bin", info}, {"00_init.txt", "<text a>\r\n<jump \"\",*ok>\r\n"}});
    EXPECT_STREQ(GSL_InfoFind("00_init.txt", std::string(64, 'L').c_str()).label, "0");
    EXPECT_STREQ(GSL_InfoFind("00_init.txt", std::string(63, 'L').c_str()).label, "0");
    EXPECT_EQ(GSL_InfoFind("00_init.txt", "*ok").offset, far);
    EXPECT_STREQ(GSL_InfoFind("00_init.txt", "*ok").label, "*ok");
    EXPECT_STREQ(GSL_InfoFind("", "*ok").label, "0");
    EXPECT_TRUE(DebugHas("50 records, 2 fit"));
    // The jump clamps the offset to the member's size: the script ends.
    Fakes();
    Start("00_init.txt");
    Frame(2);
    EXPECT_EQ(g_shown, Lines{"text a"});
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));
}

TEST_F(Flow, WithoutAStoryScreenTheCommandsMoveTheirOwnScript) {
    Scripts({{"00_init.txt", "*a\n<label>\n<call sub>\n<text back>\n"}, {"sub.txt", "<text sub>\n<keywait 0>\n"}});
    Fakes();
    StoryPresent(false);
    Start("00_init.txt");
    Frame(4);
    // No history without the story script: the call cannot return.
    EXPECT_EQ(g_shown, Lines{"text sub"});
    EXPECT_EQ(GameStateBlock.labelCount, 0u);
    EXPECT_EQ(GameStateBlock.readLineCount, 0u);
    EXPECT_STREQ(Work()->fileName, "sub.txt");
}

TEST_F(Flow, TheSampleScenarioCallsBranchesAndJumps) {
    const std::string dir = TempDir();
    dirs_.push_back(dir);
    const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " VN_SOURCE_DIR
                            "/sample/base/script/script.arc " + dir + "/out.arc";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Cache(ReadFile(dir + "/out.arc"));
    Fakes();
    Handler(20, GSL_CommandEmpty);  // lw: no reader here
    Handler(13, GSL_CommandEmpty);   // voice: no sound worker to finish one
    Handler(131, GSL_CommandEmpty);  // returnmenu: no title to go back to
    // The choice scene and the story need a reader: the whole-program tests
    // play them.
    Handler(111, [](CommandContext* c) {
        char file[64];
        GSL_ArgGet(c, nullptr, 0, file, sizeof file);
        if (std::strcmp(file, "scene_choice") != 0 && std::strcmp(file, "story") != 0) GSL_CmdCall(c);
    });
    SystemDataBlock.instantEffects = 1;  // no renderer for the wipes' captures
    GameStateBlock.gameVars[5] = 9;
    Start("00_init.txt");
    for (int i = 0; i < 400 && GSL_ScriptStatusGet(slot_) != int32_t(SCRIPT_ENDED); ++i) Frame();
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));
    EXPECT_EQ(g_shown, (Lines{"playbgm Quillmere", "image 0 fore", "image 3 fore", "name NAME_0", "text TEXT_0",
                              "name NAME_1", "text TEXT_1", "name NAME_0", "text TEXT_16", "text TEXT_17", "name NAME_0",
                              "text TEXT_12", "text TEXT_7", "name NAME_2", "text TEXT_8", "name NAME_3", "text TEXT_9",
                              "text TEXT_10", "name NAME_2", "text TEXT_11", "playbgm Quillmere", "image 0 fore", "image 3 fore",
                              "name NAME_2", "text TEXT_18", "name NAME_3", "text TEXT_19", "name NAME_2", "text TEXT_38",
                              "playbgm Quillmere", "image 0 fore", "image 3 fore", "name NAME_0", "text TEXT_4",
                              "playbgm Quillmere", "image 0 fore", "image 3 fore", "name NAME_1", "text TEXT_2", "name NAME_0",
                              "text TEXT_5", "stopbgm", "image 0 back", "image 3 back", "name NAME_0", "text TEXT_20",
                              "image 3 fore", "image 5 fore", "name NAME_1", "text TEXT_21", "image 0 back",
                              "name NAME_0", "text TEXT_22", "image 0 fore", "text TEXT_23"}));
    const GameState& g = GameStateBlock;
    EXPECT_EQ(g.gameVars[0], 1);
    EXPECT_GE(g.gameVars[1], 1);
    EXPECT_LE(g.gameVars[1], 6);
    EXPECT_EQ(g.gameVars[2], 3);
    EXPECT_EQ(g.gameVars[5], 0);  // cleared
    // Labels top, msgwin_top, voices_top and sub_top (with their return
    // points), branch (ref:0), end, unlock_top, pict_top.
    ASSERT_EQ(g.labelCount, 8u);
    const int32_t sub = GSL_ScriptMemberIndex("sub.txt"), init = GSL_ScriptMemberIndex("00_init.txt");
    const int32_t msgwin = GSL_ScriptMemberIndex("msgwin.txt");
    EXPECT_EQ(g.labelPos[1] >> 20, uint32_t(msgwin));
    EXPECT_EQ(g.labelReturn[1] >> 20, uint32_t(init));
    EXPECT_EQ(g.labelPos[2] >> 20, uint32_t(GSL_ScriptMemberIndex("voices.txt")));
    EXPECT_EQ(g.labelReturn[2] >> 20, uint32_t(init));
    EXPECT_EQ(g.labelPos[3] >> 20, uint32_t(sub));
    EXPECT_EQ(g.labelReturn[3] >> 20, uint32_t(init));
    EXPECT_EQ(g.labelFlags[4], 0);
    EXPECT_EQ(g.labelFlags[5], 1);
    EXPECT_EQ(g.readLineCount, 19u);
    // The trace: into msgwin.txt and back, into sub.txt and back, then the jump to *end.
    std::vector<std::string> path;
    for (const auto& e : script_env::g_log) {
        const std::string name = GSL_ScriptCommandGet(e.index).name;
        if (name == "call" || name == "jump" || name == "label" || name == "if" || name == "elseif")
            path.push_back(e.file + " " + name + (e.args.empty() ? "" : " " + e.args[0]));
    }
    EXPECT_EQ(path, (Lines{"00_init.txt label", "00_init.txt call msgwin", "msgwin.txt label", "00_init.txt call voices",
                           "voices.txt label", "00_init.txt call sub", "sub.txt label", "00_init.txt label ref:0",
                           "00_init.txt if \"[2000]==2\"", "00_init.txt elseif \"[2000]==1 && [2002]==3\"", "00_init.txt if \"[2001]>=1\"",
                           "00_init.txt jump 00_init", "00_init.txt label", "00_init.txt call scene_choice",
                           "00_init.txt call unlock", "unlock.txt label", "00_init.txt call pict", "pict.txt label",
                           "00_init.txt call story"}));
    // What the play-through unlocks for the extras: special scenarios 1, 3
    // and 6, the title's extras item and the gallery's fixed picture.
    for (int32_t v = 0; v < 24; ++v)
        EXPECT_EQ(SystemDataBlock.systemVars[v], v == 0 || v == 2 || v == 5 || v == 15 || v == 16 ? 1 : 0) << v;
}

}  // namespace
