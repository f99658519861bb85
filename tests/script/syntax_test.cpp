#include "script/syntax.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "shared_table.h"

namespace {

// What the interpreter makes of the first tag of a text of `size` bytes
// (default: the whole string).
struct Cut {
    bool end = false;     // no tag before the end: the implicit "end"
    bool closed = false;  // the tag was closed by '>'
    uint32_t at = 0;      // offset of its '<'
    uint32_t next = 0;
    std::string tag;
    int32_t index = -1;
    std::vector<std::string> words;
};

Cut CutFirst(const std::string& text, size_t size = std::string::npos) {
    static ScriptTaskWork w;
    w = ScriptTaskWork{};
    w.context.script = &w.script;
    w.script.text = text.data();
    w.script.size = uint32_t(size == std::string::npos ? text.size() : size);
    GSL_ScriptSkipToTag(&w.script);
    Cut c;
    c.at = w.script.readOffset;
    if (c.at >= w.script.size) {
        c.end = true;
        return c;
    }
    char tag[kScriptTagSize];
    c.closed = GSL_ScriptTagCut(&w.script, tag, &w.context, &c.next);
    c.tag = tag;
    c.index = GSL_ScriptCommandFind(tag);
    char word[kScriptWordSize];
    for (int32_t i = 0; i < w.context.argCount; ++i) {
        GSL_ScriptArgWord(&w.context, i, word, sizeof word);
        c.words.emplace_back(word);
    }
    return c;
}

using Words = std::vector<std::string>;

TEST(ScriptSyntax, TagsCutIntoNameAndArguments) {
    struct Case {
        const char* text;
        int32_t index;
        Words words;
    } cases[] = {
        {"<image 1,bg01,0>", 33, {"1", "bg01", "0"}},
        {"<33 1,bg01,0>", 33, {"1", "bg01", "0"}},
        {"<10 NAME_1>", 10, {"NAME_1"}},
        {"<wait>", 132, {}},
        {"<x a , b>", -1, {"a", "b"}},
        {"<x a,b>", -1, {"a", "b"}},
        {"<x a  b>", -1, {"a", "b"}},
        {"<x a,,b>", -1, {"a", "", "b"}},
        {"<x a ,, b>", -1, {"a", "", "b"}},
        {"<text \"a, b\">", 11, {"\"a, b\""}},
        {"<text \"a>b\" c>", 11, {"\"a>b\"", "c"}},
        // A quote directly followed by a space closes at once.
        {"<text \" x\">", 11, {"\"", "x\""}},
        {"<wait >", 132, {""}},
        // A Shift-JIS second byte is never syntax: 0x81 0x3E would be a '>'.
        {"<text \x83\x5C,\x81\x40>", 11, {"\x83\x5C", "\x81\x40"}},
        // Numeric names: free entries and numbers out of range run nothing.
        {"<0 x>", -1, {"x"}},
        {"<3 x>", 3, {"x"}},
        {"<-5>", -5, {}},
        {"<200>", 200, {}},
        {"<imagex 1>", -1, {"1"}},
        {"<Image 1>", -1, {"1"}},
        {"<99999999999>", -1, {}},
        {"<2147483647>", 2147483647, {}},
        {"<-2147483649>", -1, {}},
        // The name ends at ' ' or '>' only.
        {"<wait,1>", -1, {"1"}},
        {"<end>", -1, {}},
    };
    for (const Case& c : cases) {
        const Cut cut = CutFirst(c.text);
        EXPECT_TRUE(cut.closed) << c.text;
        EXPECT_EQ(cut.index, c.index) << c.text;
        EXPECT_EQ(cut.words, c.words) << c.text;
        EXPECT_EQ(cut.next, std::string(c.text).size()) << c.text;
    }
}

// The author's tools cut the same table with their own cutter
// (tools/test_tools.py), so both read every tag alike.
TEST(ScriptSyntax, TagsCutAsTheSharedTableSays) {
    std::ifstream in(VN_SOURCE_DIR "/tests/data/tag_cuts.txt", std::ios::binary);
    ASSERT_TRUE(in);
    std::string line;
    int32_t rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = SharedTableFields(line);
        for (std::string& f : fields) f = SharedTableUnescaped(f);
        ASSERT_GE(fields.size(), 2u) << line;
        const Cut c = CutFirst(fields[0]);
        const bool closed = fields[1] != "-";
        EXPECT_EQ(c.closed, closed) << line;
        if (!closed) continue;
        EXPECT_EQ(c.next, uint32_t(std::stoul(fields[1]))) << line;
        EXPECT_EQ(c.words, Words(fields.begin() + 2, fields.end())) << line;
        ++rows;
    }
    EXPECT_GE(rows, 15);
}

TEST(ScriptSyntax, CommentsAndTheEndOfAMember) {
    // A comment hides a '<' up to CR LF; a lone CR or LF does not end it.
    EXPECT_EQ(CutFirst("; <no>\r\n<wait>").at, 8u);
    EXPECT_EQ(CutFirst("; a\r<no>\n<no2>\r\n<wait>").index, 132);
    EXPECT_TRUE(CutFirst("; a\n<no>\n<wait>").end);
    EXPECT_TRUE(CutFirst("a;b\r<c>").end);
    // Inside a tag ';' is an ordinary character.
    EXPECT_EQ(CutFirst("<x a;b>").words, Words{"a;b"});
    // Members are not terminated: the next member's bytes are never read.
    const std::string two = "text<wait>" "<image 1>";
    EXPECT_TRUE(CutFirst(two, 4).end);
    EXPECT_TRUE(CutFirst("a\x81<wait>", 2).end);
    Cut crossing = CutFirst(two.substr(4), 5);
    EXPECT_FALSE(crossing.closed);
    // A NUL ends the search and the tag.
    EXPECT_FALSE(CutFirst(std::string("<wait\0>", 7)).closed);
    Cut nul = CutFirst(std::string("ab\0<wait>", 9));
    EXPECT_EQ(nul.at, 2u);
    EXPECT_FALSE(nul.closed);
    // A lead byte takes the '>' as its second byte.
    EXPECT_FALSE(CutFirst("<x \x81>").closed);
}

TEST(ScriptSyntax, Utf8TextSwallowsTheClosingBracket) {
    // U+3002 in UTF-8 is E3 80 82; 0x82 leads a pair with the '>', so the tag
    // runs on into the next one. Scripts must be Shift-JIS.
    const std::string text = "<text \xE3\x80\x82>\r\n<wait>";
    const Cut cut = CutFirst(text);
    EXPECT_TRUE(cut.closed);
    EXPECT_EQ(cut.index, 11);
    EXPECT_EQ(cut.next, text.size());
}

TEST(ScriptSyntax, LimitsOfTagsNamesAndArguments) {
    std::string many = "<wait ";
    for (int i = 0; i < 34; ++i) many += (i ? "," : "") + std::to_string(i);
    many += ">";
    Cut cut = CutFirst(many);
    ASSERT_EQ(cut.words.size(), 33u);
    EXPECT_EQ(cut.words[32], "32");
    EXPECT_EQ(cut.next, many.size());

    // The tag buffer keeps 1535 bytes; the scan goes on to the '>'.
    const std::string long_tag = "<text " + std::string(3000, 'x') + ">";
    cut = CutFirst(long_tag);
    EXPECT_TRUE(cut.closed);
    EXPECT_EQ(cut.tag.size(), 1535u);
    EXPECT_EQ(cut.index, 11);
    EXPECT_EQ(cut.next, long_tag.size());

    // A word is cut to its buffer on a character boundary.
    ScriptTaskWork w{};
    w.context.script = &w.script;
    const std::string quoted = "<text a\x83\x41\x83\x42>";
    w.script.text = quoted.data();
    w.script.size = uint32_t(quoted.size());
    char tag[kScriptTagSize], small[4];
    uint32_t next = 0;
    ASSERT_TRUE(GSL_ScriptTagCut(&w.script, tag, &w.context, &next));
    EXPECT_EQ(GSL_ScriptArgWord(&w.context, 0, small, sizeof small), 5u);
    EXPECT_STREQ(small, "a\x83\x41");
    EXPECT_EQ(GSL_ScriptArgWord(&w.context, 1, small, sizeof small), 0u);
    EXPECT_STREQ(small, "");

    // Names of 31 bytes are found, longer ones are no command.
    std::vector<CommandEntry> table(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
    const std::string name31(31, 'n');
    std::memcpy(table[7].name, name31.c_str(), 32);
    GSL_ScriptCommandTableSet(table.data());
    EXPECT_EQ(GSL_ScriptCommandFind(("<" + name31 + " 1>").c_str()), 7);
    EXPECT_EQ(GSL_ScriptCommandFind(("<" + name31 + "n>").c_str()), -1);
    GSL_ScriptCommandTableSet(nullptr);
    EXPECT_EQ(GSL_ScriptCommandFind(("<" + name31 + ">").c_str()), -1);
}

TEST(ScriptSyntax, TheCommandTable) {
    const CommandEntry* t = GSL_ScriptCommandTable();
    for (int32_t i = 0; i < kScriptCommands; ++i) {
        EXPECT_NE(t[i].handler, nullptr);
        if (t[i].name[0] != '0') {
            EXPECT_EQ(GSL_ScriptCommandFind(("<" + std::string(t[i].name) + ">").c_str()), i);
        } else {
            EXPECT_STREQ(t[i].name, "0");
        }
    }
    // Every named command, its index and whether the loop watch lets it
    // through, as the shared table says; the author's tools check their
    // own table against the same file (tools/test_tools.py).
    std::ifstream in(VN_SOURCE_DIR "/tests/data/commands.txt");
    ASSERT_TRUE(in);
    int32_t rows = 0, named = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = SharedTableFields(line);
        ASSERT_EQ(f.size(), 3u) << line;
        const int32_t i = std::stoi(f[0]);
        ASSERT_TRUE(i >= 0 && i < kScriptCommands) << line;
        EXPECT_EQ(std::string(t[i].name), f[1]) << line;
        EXPECT_EQ(t[i].plain, f[2] == "plain") << line;
        ++rows;
    }
    for (int32_t i = 0; i < kScriptCommands; ++i) named += t[i].name[0] != '0';
    EXPECT_EQ(rows, named);
    // A free entry runs nothing and is plain.
    EXPECT_TRUE(t[0].plain);
    EXPECT_STREQ(GSL_ScriptCommandGet(150).name, "0");
    EXPECT_EQ(GSL_ScriptCommandGet(-1).handler, GSL_CommandEmpty);
}

}  // namespace
