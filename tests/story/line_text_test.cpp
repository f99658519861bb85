// Past lines read back from the read-line history over synthetic script
// members (Shift-JIS, as the interpreter reads them; offset 0 is never a
// line's tag): the edge cases as one table, hostile members (run under ASan),
// the running script left untouched, and the quick-save caption rebuilt.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/message_table.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "tests/script/markup_env.h"

namespace {

// NAME_3 cut at '=', TEXT_10 with ruby, a break, size, colour and position.
const char kScriptMes[] =
    "languages = ja en zh-hans zh-hant\n"
    "[section 0]\n3.ja = \xE3\x83\xAA\xE3\x83\xB3=Rin\n3.en = \xE3\x83\xAA\xE3\x83\xB3=Rin\n"
    "[section 2]\n"
    "10.ja = \xE3\x80\x8C/ruby:\xE6\x97\x85\xE4\xBA\xBA&\xE3\x81\x9F\xE3\x81\xB3/\xE3\x81\x95\xE3\x82\x93#n"
    "\xE3\x82\x88\xE3\x81\x86\xE3\x81\x93\xE3\x81\x9D/size:0.6&0.6/\xE5\xA4\xA7/size:0.5&0.5/\xE3\x80\x82"
    "/color:FF8000/\xE3\x81\xAD/pos:10&0/\xE3\x80\x8D\n";
const char kSystemMes[] =
    "languages = ja en zh-hans zh-hant\n[section 2]\n6.ja = Choice\n6.en = Choice\n";

// 「旅人さん / ようこそ大。ね」 in UTF-8.
const std::string kOpen = "\xE3\x80\x8C", kClose = "\xE3\x80\x8D";
const std::string kFirst = kOpen + "\xE6\x97\x85\xE4\xBA\xBA\xE3\x81\x95\xE3\x82\x93";
const std::string kSecond = "\xE3\x82\x88\xE3\x81\x86\xE3\x81\x93\xE3\x81\x9D\xE5\xA4\xA7\xE3\x80\x82\xE3\x81\xAD" + kClose;

class LineText : public MarkupEnv {
protected:
    void SetUp() override {
        MarkupEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        FixedAdvances();
        TextLanguage = 0;
        ASSERT_TRUE(MessageTables(kScriptMes, kSystemMes));
    }
    // History line n points at the tag of `mark` (its n-th occurrence from the
    // start, counting from 0) in member m.
    void Point(uint32_t line, uint32_t member, const std::string& text, const std::string& mark, int nth = 0) {
        size_t at = text.find(mark);
        while (nth-- > 0 && at != std::string::npos) at = text.find(mark, at + 1);
        ASSERT_NE(at, std::string::npos) << mark;
        GameStateBlock.readLinePos[line] = member << 20 | uint32_t(at);
        if (GameStateBlock.readLineCount <= line) GameStateBlock.readLineCount = line + 1;
    }
    struct Result {
        int32_t code;
        std::string name, text;
        std::vector<std::string> voices;
    };
    Result Read(uint32_t line, uint32_t flags, uint32_t capacity = 4) {
        char name[kLineTextSize], text[kLineTextSize];
        std::memset(name, 0x55, sizeof name);
        std::memset(text, 0x55, sizeof text);
        auto voices = std::make_unique<char[][kLineVoiceSize]>(capacity ? capacity : 1);
        for (uint32_t i = 0; i < capacity; ++i) voices[i][0] = 0;
        Result r;
        r.code = GSL_ScriptLineText(line, name, text, capacity ? voices.get() : nullptr, capacity, flags);
        r.name = name;
        r.text = text;
        for (uint32_t i = 0; i < capacity && voices[i][0]; ++i) r.voices.push_back(voices[i]);
        return r;
    }
};

TEST_F(LineText, MessagesChoicesAndTheirEdges) {
    if (IsSkipped()) return;
    const std::string a =
        "; opening\r\n<name NAME_3>\r\n<text TEXT_10>\r\n<voice 1,v_001>\r\n<keywait 1>\r\n"
        "<menustart>\r\n<text \x88\xEA#n\x93\xF1>\r\n<keywait 2>\r\n"
        "<text #n\x81\x40#n\x82\xA0>\r\n<keywait 3>\r\n<text #n\x81\x40>\r\n<keywait 4>\r\n"
        "<text A>\r\n<text B>\r\n<voice 2,\"v_002\">\r\n<voice 3,v_003>\r\n<keywait 5>\r\n"
        "<text 1><text 2><text 3><text 4><text 5><text 6><text 7><text 8><text 9>\r\n<keywait 6>\r\n"
        "<text TEXT_10>\r\n<keywait 7>\r\n<wait 5>\r\n";
    Raw({{"a.txt", a}});
    Point(0, 0, a, "<keywait 1>");
    Point(1, 0, a, "<menustart>");
    Point(2, 0, a, "<keywait 2>");
    Point(3, 0, a, "<keywait 3>");
    Point(4, 0, a, "<keywait 4>");
    Point(5, 0, a, "<keywait 5>");
    Point(6, 0, a, "<keywait 6>");
    Point(7, 0, a, "<keywait 7>");
    Point(8, 0, a, "<wait 5>");
    // A position just after the last tag of the member: no tag there.
    GameStateBlock.readLinePos[9] = uint32_t(a.size());
    GameStateBlock.readLineCount = 10;

    const struct {
        uint32_t line, flags;
        int32_t code;
        std::string name, text;
        std::vector<std::string> voices;
    } rows[] = {
        // Expanded, cut name, converted and cleaned text, the voice.
        {0, 0, 0, "\xE3\x83\xAA\xE3\x83\xB3", kFirst + kSecond, {"v_001"}},
        // Raw keys (the save screen's flags).
        {0, 4 | 8, 0, "NAME_3", "TEXT_10", {"v_001"}},
        {1, 8, 1, "SYSTEM_2006", "", {}},
        {1, 0, 1, "Choice", "", {}},
        // Breaks kept with flag 2, else one run.
        {2, 2, 0, "", "\x88\xEA#n\x93\xF1", {}},
        {2, 0, 0, "", "\x88\xEA\x93\xF1", {}},
        // Leading breaks and ideographic spaces go; only them: empty.
        {3, 2, 0, "", "\x82\xA0", {}},
        {4, 2, 0, "", "", {}},
        // Two texts in script order; the voices nearest first, quotes kept.
        {5, 0, 0, "", "AB", {"v_003", "\"v_002\""}},
        // Nine texts: the first is left out.
        {6, 0, 0, "", "23456789", {}},
        // The hanging indent: a move with flags 1 and 2, nothing without 2.
        {7, 1 | 2, 0, "", kFirst + "#n#Pos[25,0]" + kSecond, {}},
        {7, 2, 0, "", kFirst + "#n" + kSecond, {}},
        {7, 1, 0, "", kFirst + kSecond, {}},
        // Neither keywait nor menustart; no tag; beyond the history.
        {8, 0, -1, "", "", {}},
        {9, 0, -1, "", "", {}},
        {10, 0, -1, "", "", {}},
    };
    for (const auto& row : rows) {
        const Result r = Read(row.line, row.flags);
        EXPECT_EQ(r.code, row.code) << row.line << "/" << row.flags;
        EXPECT_EQ(r.name, row.name) << row.line << "/" << row.flags;
        EXPECT_EQ(r.text, row.text) << row.line << "/" << row.flags;
        EXPECT_EQ(r.voices, row.voices) << row.line << "/" << row.flags;
    }
    // Without a voice array the first voice met is all.
    char name[kLineTextSize], text[kLineTextSize];
    EXPECT_EQ(GSL_ScriptLineText(5, name, text, nullptr, 0, 0), 0);
}

TEST_F(LineText, HostileMembersStayInsideTheirBounds) {
    if (IsSkipped()) return;
    const std::string huge(5000, 'x'), voice(200, 'v');
    std::string many;
    for (int i = 0; i < 200; ++i) many += "<voice 1,v" + std::to_string(i) + ">";
    const std::string m0 = "\r\n<name " + huge + ">\r\n<text " + huge + "><text " + huge + ">\r\n<voice 1," + voice +
                           ">\r\n<keywait 1>\r\n";
    const std::string m1 = "\r\n<text a>\r\n" + many + "\r\n<keywait 1>";  // no CR LF after the last tag
    const std::string m2 = "\r\n<voice v9\r\n<text a>\r\n<keywait 1>";  // a voice tag without a comma
    const std::string m3 = "<text a>\r\n<keyw";                         // the tag cut by the end
    const std::string m4 = "<name \x82";                                // a lead byte as the last byte
    Raw({{"m0.txt", m0}, {"m1.txt", m1}, {"m2.txt", m2}, {"m3.txt", m3}, {"m4.txt", m4}});
    Point(0, 0, m0, "<keywait 1>");
    Point(1, 1, m1, "<keywait 1>");
    Point(2, 2, m2, "<keywait 1>");
    GameStateBlock.readLinePos[3] = 3u << 20 | uint32_t(m3.find("<keyw"));
    GameStateBlock.readLinePos[4] = 4u << 20;
    GameStateBlock.readLinePos[5] = 9u << 20;  // no such member
    GameStateBlock.readLinePos[6] = 0u << 20 | 0xFFFFF;  // past the member
    GameStateBlock.readLineCount = 7;

    Result r = Read(0, 2);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.name.size(), kLineTextSize - 1);
    EXPECT_LE(r.text.size(), kLineTextSize - 1);
    EXPECT_GT(r.text.size(), 1000u);
    ASSERT_EQ(r.voices.size(), 1u);
    EXPECT_EQ(r.voices[0], std::string(kLineVoiceSize - 1, 'v'));

    r = Read(1, 0, 128);
    EXPECT_EQ(r.code, 0);
    ASSERT_EQ(r.voices.size(), 128u);
    EXPECT_EQ(r.voices[0], "v199");
    EXPECT_EQ(r.text, "a");

    r = Read(2, 0);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "a");
    EXPECT_TRUE(r.voices.empty());

    for (uint32_t line = 3; line <= 6; ++line) {
        r = Read(line, 0);
        EXPECT_EQ(r.code, -1) << line;
        EXPECT_EQ(r.name, "") << line;
        EXPECT_EQ(r.text, "") << line;
    }
}

TEST_F(LineText, ReadingLinesLeavesTheRunningScriptAlone) {
    if (IsSkipped()) return;
    const std::string a = "\r\n<text a>\r\n<keywait 1>\r\n";
    Raw({{"a.txt", a}});
    Point(0, 0, a, "<keywait 1>");
    StageRecord& live = GameStateBlock.stage;
    live.flags = 1;
    std::strcpy(live.name, "chapter");
    live.moveTask[3] = 77;
    live.textSizeX = 0.75f;
    live.windowFrame = 1;
    for (int i = 0; i < 24; ++i) MoveQueues[i].count = i + 1;
    const StageRecord before = live;
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Read(0, 1 | 2 | 4).text, "a");
    EXPECT_EQ(std::memcmp(&before, &live, sizeof live), 0);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(MoveQueues[i].count, i + 1);
    for (MoveQueue& q : MoveQueues) q.count = 0;
}

TEST_F(LineText, TheQuickCaptionIsRebuiltInTheLanguage) {
    if (IsSkipped()) return;
    auto build = [](const std::string& caption, uint32_t size = 1536) {
        std::memset(QuickCaption, 0, sizeof QuickCaption);
        std::memcpy(QuickCaption, caption.data(), std::min(caption.size(), sizeof QuickCaption));
        std::string out(size, '\x55');
        GSL_QuickBuildPreviewText(out.data(), size);
        return std::string(out.c_str());
    };
    EXPECT_EQ(build("NAME_3  TEXT_10"), "\xE3\x83\xAA\xE3\x83\xB3  " + kOpen + "\xE3\x81\x95\xE3\x82\x93" + kSecond);
    EXPECT_EQ(build("SYSTEM_2006!"), "Choice!");
    // Keys without digits are plain text, also at the very end.
    EXPECT_EQ(build("TEXT_"), "TEXT_");
    EXPECT_EQ(build("a NAME_x"), "a NAME_x");
    // A caption that fills its 64 bytes without a terminator.
    EXPECT_EQ(build(std::string(59, 'c') + "NAME_3"), std::string(59, 'c') + "NAME_");
    EXPECT_EQ(build(std::string(58, 'c') + "NAME_3"), std::string(58, 'c') + "\xE3\x83\xAA\xE3\x83\xB3");
    // A small output is cut on a character boundary.
    EXPECT_EQ(build("NAME_3", 5), "\xE3\x83\xAA");
}
}  // namespace
