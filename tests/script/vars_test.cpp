#include "script/vars.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/files/archive.h"
#include "flow_env.h"
#include "shared_table.h"

namespace {

using flow_env::g_shown;
using Lines = std::vector<std::string>;

class Vars : public FlowEnv {};

int8_t& G(int i) { return GameStateBlock.gameVars[i]; }
int8_t& S(int i) { return SystemDataBlock.systemVars[i]; }

TEST_F(Vars, Conditions) {
    G(0) = 3;
    G(1) = 0;
    S(5) = 1;
    S(23) = -2;
    struct Case {
        const char* text;
        bool value;
    };
    const Case cases[] = {
        {"[2000]==3", true}, {"[2000]=3", true}, {"[2000]!=3", false}, {"[2000]>2", true},
        {"[2000]<3", false}, {"[2000]<=3", true}, {"[2000]>=4", false}, {"[05]", true},
        {"[006]", false}, {"![2001]", true}, {"![2000]", false}, {"[23]<0", true},
        {"5", true}, {"0", false}, {"", false}, {"[2000]+[05]>=4", true},
        {"[2000]+[05]>=5", false}, {"[2000]==[2000]", true}, {"[2001]==false", true},
        {"[05]==true", true}, {"[2000]=>3", false},      // not an operator
        {"[2000]==3<5", false},                         // a second comparison spoils the operator
        {"[24]==0", true}, {"[1999]==0", true}, {"[3000]", false},  // not variables: 0
        {"[5]", false},  // a reference starts "[0", "[1" or "[2": system variable 5 is "[05]"
        {"x[2000]==0", true}, {"[9]x==0", true}, {"R18==1", false}, {"R18==0", true},
        {"-3<0", true}, {"[2000]==+3", true},
    };
    for (const Case& c : cases) EXPECT_EQ(GSL_CondEval(c.text), c.value) << c.text;

    // Lists: spaces and quotes dropped, the last separator decides.
    EXPECT_TRUE(GSL_CondEvalList(""));
    EXPECT_TRUE(GSL_CondEvalList("\"[2000] == 3 && [05] == 1\""));
    EXPECT_FALSE(GSL_CondEvalList("[2000]==3&&[05]==0"));
    EXPECT_TRUE(GSL_CondEvalList("[2000]==1 && [2001]==2 || [2000]==3"));  // OR of all three
    EXPECT_FALSE(GSL_CondEvalList("[2000]==3 || [05]==1 && [2001]==1"));     // AND of all three
    // Seventeen parts: the last is ignored (its separator was not seen).
    std::string many;
    for (int i = 0; i < 16; ++i) many += "[2000]==3&&";
    EXPECT_TRUE(GSL_CondEvalList((many + "[2000]==4").c_str()));
    std::string orMany;
    for (int i = 0; i < 16; ++i) orMany += "[2000]==4||";
    EXPECT_FALSE(GSL_CondEvalList((orMany + "[2000]==3").c_str()));
    // Over-long parts are cut, not overrun.
    EXPECT_FALSE(GSL_CondEval((std::string(300, '[') + "==" + std::string(300, '1')).c_str()));
    // The right operand keeps its first 127 bytes: the 3 is cut off.
    EXPECT_FALSE(GSL_CondEval((std::string("[2000]==") + std::string(200, '0') + "3").c_str()));
}

TEST_F(Vars, R18FollowsTheArchive) {
    const auto old = std::filesystem::current_path();
    const std::string dir = TempDir();
    dirs_.push_back(dir);
    std::filesystem::current_path(dir);
    std::filesystem::create_directories("data");
    std::filesystem::create_directories("r18/visual/system");
    std::ofstream("r18/visual/system/a.txt") << "a";
    ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_r18.pcarc r18 >/dev/null"), 0);
    Lib_PcArcOpen();
    EXPECT_TRUE(GSL_CondEval("R18==1"));
    EXPECT_TRUE(GSL_CondEval("R18"));
    Lib_PcArcClose();
    std::filesystem::remove("data/data_r18.pcarc");
    Lib_PcArcOpen();
    EXPECT_FALSE(GSL_CondEval("R18==1"));
    Lib_PcArcClose();
    std::filesystem::current_path(old);
}

std::vector<std::pair<uint32_t, uint32_t>> g_draws;
uint32_t g_next = 0;
uint32_t Fixed(uint32_t lo, uint32_t hi) {
    g_draws.emplace_back(lo, hi);
    return g_next;
}

TEST_F(Vars, Statements) {
    GSL_ExprEvalList("[2000]=1&[2001]=2&[2002]=-3&[05]=true&[06]=7&[06]--&[07]++&[2003]=[2001]");
    EXPECT_EQ(G(0), 1);
    EXPECT_EQ(G(1), 2);
    EXPECT_EQ(G(2), -3);
    EXPECT_EQ(S(5), 1);
    EXPECT_EQ(S(6), 6);
    EXPECT_EQ(S(7), 1);
    EXPECT_EQ(G(3), 2);
    GSL_ExprEval("[2000]+=300");  // wraps to a signed byte: 301 -> 45
    EXPECT_EQ(G(0), 45);
    GSL_ExprEval("[2000]+=100");  // 145 -> -111
    EXPECT_EQ(G(0), -111);
    GSL_ExprEval("[2000]-=[2001]");
    EXPECT_EQ(G(0), -113);
    GSL_ExprEval("[2000]=[2001]+[2002]-1");  // a sum of operands
    EXPECT_EQ(G(0), -2);
    GSL_ExprEval("[2000]=false");
    EXPECT_EQ(G(0), 0);
    GSL_ExprEval("[2000]*=4");  // '*' is part of the target, which still names [2000]
    EXPECT_EQ(G(0), 4);
    GSL_ExprEval("[2000]=*4");  // an expression without a number: 0
    EXPECT_EQ(G(0), 0);
    GSL_ExprEval("[24]=5");  // not a variable: nothing stored
    GSL_ExprEval("[1999]=5");
    EXPECT_EQ(GSL_VarRef("[24]"), nullptr);
    EXPECT_EQ(GSL_VarRef("[03]"), &S(3));
    EXPECT_EQ(GSL_VarRef("[3]"), nullptr);
    EXPECT_EQ(GSL_VarRef("[2023]"), &G(23));
    EXPECT_EQ(GSL_VarRef("[2024]"), nullptr);
    EXPECT_EQ(GSL_VarRef("[-1]"), nullptr);

    // rand with a fixed generator: bounds in either order, negative bounds,
    // equal bounds; the draw is a + (0..b - a).
    GSL_ScriptRandomSet(Fixed);
    g_draws.clear();
    g_next = 5;
    GSL_ExprEval("[2000]=rand(1,6)");
    EXPECT_EQ(G(0), 6);
    g_next = 0;
    GSL_ExprEval("[2000]=rand(6,1)");
    EXPECT_EQ(G(0), 1);
    GSL_ExprEval("[2000]=rand(4,4)");
    EXPECT_EQ(G(0), 4);
    EXPECT_EQ(g_draws, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 5}, {0, 5}, {0, 0}}));
    g_next = 6;
    EXPECT_EQ(GSL_ScriptRand(-3, 3), 3);
    EXPECT_EQ(GSL_ScriptRand(3, -3), 3);
    g_next = 0;
    EXPECT_EQ(GSL_ScriptRand(3, -3), -3);
    EXPECT_EQ(GSL_ScriptRand(5, 4), 4);  // b = a - 1 draws from two values
    g_next = 0xFFFFFFFFu;
    EXPECT_EQ(GSL_ScriptRand(INT32_MIN, INT32_MAX), INT32_MAX);  // the span in 64 bits
    // The sum form does not know rand: rand(1,6)+1 stores 1.
    GSL_ExprEval("[2000]=rand(1,6)+1");
    EXPECT_EQ(G(0), 1);
    // With the real generator every draw lies in the range.
    GSL_ScriptRandomSet(nullptr);
    for (int i = 0; i < 200; ++i) {
        const int32_t v = GSL_ScriptRand(-3, 3);
        ASSERT_TRUE(v >= -3 && v <= 3) << v;
    }

    // Seventeen statements: the last is ignored; over-long parts are cut.
    std::string many;
    for (int i = 0; i < 16; ++i) many += "[2005]++&";
    GSL_ExprEvalList((many + "[2005]=100").c_str());
    EXPECT_EQ(G(5), 16);
    GSL_ExprEval((std::string("[2006]=") + std::string(400, '7')).c_str());
    GSL_ExprEval((std::string(400, '[') + "=1").c_str());
    GSL_ExprEvalList(std::string(3000, '&').c_str());
}

// Hand-computed paths through nested blocks of depth 1 to 3.
constexpr char kBlocks[] =
    "<if \"[2000]==1\">\n"
    "  <text a>\n"
    "  <if \"[2001]==0\">\n"
    "    <text a1>\n"
    "    <jump_endif>\n"
    "  <else>\n"
    "    <text a2>\n"
    "  <endif>\n"
    "  <jump_endif>\n"
    "<elseif \"[2000]==2\">\n"
    "  <text b>\n"
    "  <if \"[2001]==0\">\n"
    "    <text b1>\n"
    "    <if \"[2002]==0\">\n"
    "      <text b11>\n"
    "      <jump_endif>\n"
    "    <else>\n"
    "      <text b12>\n"
    "    <ENDIF>\n"
    "    <jump_endif>\n"
    "  <else>\n"
    "    <text b2>\n"
    "  <endif>\n"
    "  <jump_endif>\n"
    "<else>\n"
    "  <text c>\n"
    "<endif>\n"
    "<text after>\n";

int8_t* Variable(int n) { return n >= 2000 ? &G(n - 2000) : &S(n); }

// Sets every variable to 0, then the "n=value,..." pairs of a field.
void SetVariables(const std::string& field) {
    for (int n = 0; n < 24; ++n) G(n) = S(n) = 0;
    if (field == "-") return;
    std::istringstream in(field);
    for (std::string pair; std::getline(in, pair, ',');) {
        const size_t eq = pair.find('=');
        *Variable(std::stoi(pair.substr(0, eq))) = int8_t(std::stoi(pair.substr(eq + 1)));
    }
}

// The non-zero variables in the table's form.
std::string Variables() {
    std::string out;
    for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 2000, 2001,
                  2002, 2003, 2004, 2005, 2006, 2007, 2008, 2009, 2010, 2011, 2012, 2013, 2014, 2015, 2016, 2017,
                  2018, 2019, 2020, 2021, 2022, 2023})
        if (*Variable(n)) out += (out.empty() ? "" : ",") + std::to_string(n) + "=" + std::to_string(*Variable(n));
    return out.empty() ? "-" : out;
}

uint32_t Lowest(uint32_t, uint32_t) { return 0; }

// The author's checker (tools/script_check.py) wrote what it reads of each
// generated condition and statement list into the shared table, and
// whether it warns that the engine ends each of a few loops; the engine's
// evaluation must agree with every row, and its loop watch end exactly the
// loops warned of.
TEST_F(Vars, TheAuthorsCheckerReadsAlike) {
    ASSERT_FALSE(Lib_PcArcExists(2));
    GSL_ScriptRandomSet(Lowest);
    std::ifstream in(VN_SOURCE_DIR "/tests/data/condition_cases.txt", std::ios::binary);
    ASSERT_TRUE(in);
    int conditions = 0, statements = 0, numbers = 0;
    std::vector<std::vector<std::string>> loops;
    std::vector<std::pair<std::string, std::string>> loopFiles;
    std::stringstream rows;
    rows << in.rdbuf();
    // A longer run of generated loops, written by python3
    // tools/test_tools.py --write-loop-table PATH COUNT, is read too.
    if (const char* more = std::getenv("VN_LOOP_TABLE")) rows << std::ifstream(more, std::ios::binary).rdbuf();
    for (std::string line; std::getline(rows, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = SharedTableFields(line);
        const std::string text = SharedTableUnescaped(f.at(1));
        // As the if and jump handlers take their argument: one pair of
        // enclosing quotes off.
        const std::string word =
            text.size() >= 2 && text.front() == '"' && text.back() == '"' ? text.substr(1, text.size() - 2) : text;
        if (f[0] == "n") {
            // A number argument, read from a tag as every command reads one.
            ASSERT_EQ(f.size(), 3u) << line;
            const std::string tag = "<wait " + text + ">";
            auto w = std::make_unique<ScriptTaskWork>();  // too large for the stack
            w->context.script = &w->script;
            w->script.text = tag.data();
            w->script.size = uint32_t(tag.size());
            auto cut = std::make_unique<char[]>(kScriptTagSize);
            uint32_t next = 0;
            ASSERT_TRUE(GSL_ScriptTagCut(&w->script, cut.get(), &w->context, &next)) << line;
            EXPECT_EQ(GSL_ArgGetInt(&w->context, nullptr, 0), std::stoll(f[2])) << line;
            ++numbers;
            continue;
        }
        if (f[0] == "l" || f[0] == "h" || f[0] == "g") {
            // An l row is a loop of plain tags; h and g rows are whole
            // scripts, their jumps to 00_init renamed to their own file.
            const bool plain = f[0] == "l";
            ASSERT_EQ(f.size(), plain ? 5u : 3u) << line;
            const std::string name = (plain ? "loop" : "diff") + std::to_string(loops.size());
            std::string script = text;
            if (plain) {
                script = "*c\n<label>\n<eval \"" + text + "\">\n<jump " + name + ",*c,\"" + SharedTableUnescaped(f[2]) +
                         "\">\n<eval \"[2023]=1\">\n*w\n<wait 50>\n<jump " + name + ",*w>\n";
            } else {
                for (size_t at; (at = script.find("00_init,")) != std::string::npos;) script.replace(at, 7, name);
            }
            loopFiles.push_back({name + ".txt", script});
            loops.push_back(f);
            continue;
        }
        SetVariables(f.at(2));
        if (f[0] == "c") {
            ASSERT_EQ(f.size(), 5u) << line;
            const bool value = GSL_CondEvalList(word.c_str());
            EXPECT_EQ(value, f[3] == "1") << line;
            if (f[4] != "-") {
                EXPECT_EQ(value, f[4] == "T") << "the checker calls it always " << f[4] << ": " << line;
            }
            ++conditions;
        } else {
            ASSERT_EQ(f.size(), 4u) << line;
            GSL_ExprEvalList(word.c_str());
            EXPECT_EQ(Variables(), f[3]) << line;
            ++statements;
        }
    }
    EXPECT_GE(conditions, 2000);
    EXPECT_GE(statements, 1000);
    EXPECT_GE(numbers, 500);
    // Each loop, from an empty label history: the engine ends, with its one
    // line, the loops the checker warns of; l and h rows it passes play on
    // (l rows past the loop), and the g rows it passes that the engine ends
    // are counted and told.
    ASSERT_GE(loops.size(), 300u);
    Scripts(loopFiles);
    int generated = 0, unwarned = 0;
    for (size_t k = 0; k < loops.size(); ++k) {
        const std::vector<std::string>& f = loops[k];
        const std::string& verdict = f.back();
        GameStateBlock.labelCount = 0;
        SetVariables(f[0] == "l" ? f[3] : "-");
        testing::internal::CaptureStderr();
        const int32_t slot = Start(loopFiles[k].first.c_str());
        // A loop with a wait in it runs a frame a pass: 600 frames see it
        // pass the exit of any counter.
        for (int i = 0; i < 600 && GSL_ScriptStatusGet(slot) != int32_t(SCRIPT_ENDED) && G(23) == 0; ++i) Frame();
        const std::string err = testing::internal::GetCapturedStderr();
        const bool ended = GSL_ScriptStatusGet(slot) == int32_t(SCRIPT_ENDED);
        if (verdict == "E" || f[0] != "g") {
            EXPECT_EQ(ended, verdict == "E") << loopFiles[k].second << err;
            EXPECT_EQ(err.find("comes back here again and again") != std::string::npos, verdict == "E") << err;
        }
        if (f[0] == "l") {
            EXPECT_EQ(G(23) == 1, verdict == "-") << loopFiles[k].second;
        }
        generated += f[0] == "g";
        unwarned += f[0] == "g" && verdict == "-" && ended;
        if (Alive()) GSL_ScriptTaskEnd(slot);
    }
    EXPECT_GE(generated, 300);
    std::printf("%d generated loops: the engine ends %d that the checker passes\n", generated, unwarned);
}

TEST_F(Vars, NestedBlocks) {
    struct Case {
        int8_t v0, v1, v2;
        Lines shown;
    };
    const Case cases[] = {
        {1, 0, 0, {"text a", "text a1", "text after"}},
        {1, 1, 0, {"text a", "text a2", "text after"}},
        {2, 0, 0, {"text b", "text b1", "text b11", "text after"}},
        {2, 0, 1, {"text b", "text b1", "text b12", "text after"}},
        {2, 1, 0, {"text b", "text b2", "text after"}},
        {3, 0, 0, {"text c", "text after"}},
    };
    Scripts({{"00_init.txt", kBlocks}});
    Fakes();
    for (const Case& c : cases) {
        g_shown.clear();
        G(0) = c.v0;
        G(1) = c.v1;
        G(2) = c.v2;
        Start("00_init.txt");
        Frame(2);
        EXPECT_EQ(g_shown, c.shown) << int(c.v0) << int(c.v1) << int(c.v2);
        EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));
        GSL_ScriptTaskEnd(slot_);
    }
}

TEST_F(Vars, NumericFormsCommentsAndUnclosedBlocks) {
    Scripts({{"00_init.txt",
              "<120 \"[2000]==1\">\n<text in>\n<122>\n<text else>\n<123>\n"
              "<if \"[2000]==1\">\n<text in2>\n; <endif>\n<text commented>\n<endif>\n<text after>\n"
              "<if \"[2000]==1\">\n<text no>\n<if \"[2001]==0\">\n<text open>\n"},
             {"b.txt", "<if \"[2000]==0\">\n<text b>\n<121 \"[2001]==0\">\n<text b1>\n<123>\n<text end>\n"}});
    Fakes();
    Start("00_init.txt");
    Frame(2);
    // A commented-out <endif> is found; an unclosed nested block ends the
    // skip and the script continues behind the if.
    EXPECT_EQ(g_shown, (Lines{"text else", "text commented", "text after", "text no", "text open"}));
    EXPECT_EQ(GSL_ScriptStatusGet(slot_), int32_t(SCRIPT_ENDED));

    // The tag searches on their own.
    ScriptState& s = Work()->script;
    const std::string text(s.text, s.size);
    const char* const endif[] = {"<endif>"};
    s.nextOffset = 0;
    EXPECT_EQ(GSL_IfSkip(&s, -1, 1, endif, 1), int32_t(text.find("<123>")));
    EXPECT_EQ(s.nextOffset, text.find("<123>"));
    s.nextOffset = uint32_t(text.size());
    EXPECT_EQ(GSL_IfSkip(&s, -1, -1, endif, 1), int32_t(text.rfind("<endif>")));
    EXPECT_EQ(GSL_IfSkip(&s, -1, 0, endif, 1), int32_t(text.find("<123>")));
    EXPECT_EQ(GSL_IfSkip(&s, 7, 0, endif, 1), 7);
    EXPECT_EQ(s.nextOffset, 7u);
    const char* const none[] = {"<else "};
    EXPECT_EQ(GSL_IfSkip(&s, -1, 1, none, 1), -1);
    EXPECT_EQ(s.nextOffset, 7u);
    GSL_ScriptTaskEnd(slot_);

    g_shown.clear();
    G(0) = 1;
    Start("b.txt");
    Frame(2);
    EXPECT_EQ(g_shown, (Lines{"text b1", "text end"}));
}

}  // namespace
