// The system slot's save request, as the boot flow and the save screen build
// it, from a message table whose texts are 1,500 bytes long: every field
// ends inside itself, on a whole character, with as much of the text as fits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "script/game_blocks.h"
#include "story/save_store.h"
#include "tests/ui/screen_harness.h"

namespace {

std::string Repeat(const std::string& unit, size_t bytes) {
    std::string s;
    while (s.size() + unit.size() <= bytes) s += unit;
    return s;
}

// A field: terminated inside its size, a prefix of `whole` cut at a
// character boundary no further than one character short of the room.
void ExpectCut(const char* field, size_t size, const std::string& whole, size_t unit, const char* what) {
    const size_t n = ::strnlen(field, size);
    ASSERT_LT(n, size) << what << " is not terminated inside its field";
    EXPECT_EQ(whole.compare(0, n, field, n), 0) << what << " is not the text's beginning";
    EXPECT_GT(n + unit, size - 1) << what << " was cut shorter than its field";
    EXPECT_EQ(n % unit, 0u) << what << " ends inside a character";
    for (size_t i = n; i < size; ++i) ASSERT_EQ(field[i], 0) << what << " has bytes behind its end";
}

using SystemRequestCut = ScreenHarness;

TEST_F(SystemRequestCut, FifteenHundredByteTextsStayInsideTheirFields) {
    const std::string a = "\xE3\x81\x82";  // three bytes
    const std::string title = Repeat(a, 1500), sub = Repeat("s", 1500), note = Repeat(a, 1500);
    std::string source = "languages = ja en\n[section 0]\n0.ja = " + title + "\n0.en = " + title +
                         "\n[section 2]\n10.ja = " + sub + "\n10.en = " + sub + "\n12.ja = " + note +
                         "\n12.en = " + note + "\n";
    ASSERT_TRUE(Files({Bytes("src/mes.txt", source), Tool("vndata.py", "script/system_mes.mul",
                                                          "mul {} root/src/mes.txt")}));
    Messages();
    for (int language : {0, 1}) {
        SCOPED_TRACE(language);
        TextLanguage = language;
        SaveRequest request;
        std::memset(&request, 0x5A, sizeof request);
        GSL_SystemSaveRequestBuild(&request);
        ExpectCut(request.title, sizeof request.title, title, 3, "the title");
        ExpectCut(request.subtitle, sizeof request.subtitle, sub, 1, "the subtitle");
        // The detail puts the (already cut) title and note together, each
        // whole to its last character: "note\n\"title\"" in English, else
        // the title in corner quotes, a line feed and the note.
        const std::string detail(request.detail, ::strnlen(request.detail, sizeof request.detail));
        ASSERT_LT(detail.size(), sizeof request.detail);
        for (size_t i = detail.size(); i < sizeof request.detail; ++i) ASSERT_EQ(request.detail[i], 0);
        const bool english = language == 1;
        const std::string open = english ? "" : "\xE3\x80\x8C", middle = english ? "\n\"" : "\xE3\x80\x8D\n",
                          end = english ? "\"" : "";
        const std::string& first = english ? note : title;
        const std::string& second = english ? title : note;
        ASSERT_EQ(detail.compare(0, open.size(), open), 0);
        const size_t cut = detail.find(middle, open.size());
        ASSERT_NE(cut, std::string::npos) << detail;
        const std::string one = detail.substr(open.size(), cut - open.size());
        const std::string two = detail.substr(cut + middle.size(), detail.size() - cut - middle.size() - end.size());
        ASSERT_EQ(detail.compare(detail.size() - end.size(), end.size(), end), 0);
        EXPECT_EQ(first.compare(0, one.size(), one), 0);
        EXPECT_EQ(second.compare(0, two.size(), two), 0);
        EXPECT_GT(one.size(), 200u);
        EXPECT_GT(two.size(), 200u);
        EXPECT_EQ(one.size() % 3, 0u) << "a text in the detail ends inside a character";
        EXPECT_EQ(two.size() % 3, 0u) << "a text in the detail ends inside a character";
        EXPECT_STREQ(request.icon, "data/utility/ICON0_SYS.tga");
        EXPECT_STREQ(request.icon2, "data/utility/ICON0_NON.tga");
        EXPECT_EQ(request.data, &SystemDataBlock);
    }
}

}  // namespace
