// The system texts: each rewrite case against each interface language and
// table, read through the packed message tables.
#include "ui/system_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/text/font.h"
#include "ui/ui_host.h"

namespace {

namespace fs = std::filesystem;

void Option() {}
void MusicRoom() {}
void Other() {}

std::vector<uint8_t> Packed(const std::string& source) {
    fs::path dir = fs::temp_directory_path() / ("system_text_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "mes.txt") << source;
    std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py mul " + (dir / "mes.mul").string() + " " +
                      (dir / "mes.txt").string();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(dir / "mes.mul", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove_all(dir);
    return bytes;
}

// A line in every language, tagged by language so that the fetch shows.
std::string All(const std::string& key, const std::string& text) {
    std::string s;
    for (const char* l : {"ja", "en", "zh-hans", "zh-hant"}) s += key + "." + l + " = " + text + "\n";
    return s;
}

std::string Repeat(const std::string& piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += piece;
    return s;
}
std::string Stars(int n) { return Repeat("\xE2\x98\x86", n); }
std::string Dots(int n) { return Repeat("\xE3\x83\xBB", n); }

class SystemTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string sys = "languages = ja en zh-hans zh-hant\n[section 3]\ncount = 30\n";
        for (int i : {5, 6, 21, 22}) sys += All(std::to_string(i), "label" + std::to_string(i));
        // A star, a middle dot and Shift-JIS pairs whose trail bytes are 0x83
        // and 0x98 (and one pair that hides the dot's bytes).
        sys += All("7", "A\xE2\x98\x86" "B\xE3\x83\xBB" "\\x81\\x83\\x81\\x98\\x81\\xE3\\x83\\xBB");
        // 1535 bytes: 'a' and 511 stars, each turned into seven bytes.
        std::string longLine = "a";
        for (int i = 0; i < 511; ++i) longLine += "\xE2\x98\x86";
        sys += "8.en = " + longLine + "\n";
        // Rows of stars ending the entry (1 to 9), rows broken by the dot, by
        // a Shift-JIS pair that begins like a star and by the entry's end, and
        // long rows after 0 to 6 plain bytes that meet the buffer's end.
        for (int n = 1; n <= 9; ++n) sys += std::to_string(9 + n) + ".en = " + Stars(n) + "\n";
        sys += "19.en = x" + Stars(5) + Dots(3) + Stars(1) + "y" + Stars(4) + "\n";
        sys += "20.en = " + Stars(2) + "\\xE2\\x98x" + Stars(6) + "\\xE2\\x98\n";
        for (int k = 0; k <= 6; ++k) sys += std::to_string(23 + k) + ".en = " + std::string(k, 'a') + Stars(500) + "\n";
        sysgra_ = Packed(sys);
        std::string script = "languages = ja en zh-hans zh-hant\n[section 2]\ncount = 33462\n";
        script += All("33449", "chapter") + All("33461", "after");
        script_ = Packed(script);
        SysgraMesTable = {sysgra_.data(), sysgra_.size()};
        ScriptMesTable = {script_.data(), script_.size()};
        ModeFunction screens[SCREEN_COUNT] = {};
        screens[SCREEN_OPTION] = Option;
        screens[SCREEN_MUSIC_ROOM] = MusicRoom;
        GSL_ScreensSet(screens);
        GSL_UiRunStateReset();
    }
    void TearDown() override {
        SysgraMesTable = ScriptMesTable = {};
        GSL_ScreensSet(nullptr);
        GSL_UiRunStateReset();
        Lib_TextRunStateReset();
        InterfaceLanguage = -1;
    }
    static void Lang(int l) {
        InterfaceLanguage = l;
        TextLanguage = l < 4 ? l : 1;
    }
    static std::string Get(const MesTable* t, uint32_t s, uint32_t i) {
        char out[kMesTextSize];
        std::memset(out, 'x', sizeof out);
        std::string r = GSL_SysTextGet(t, s, i, 0, out, sizeof out);
        EXPECT_EQ(r, out);
        return r;
    }
    std::vector<uint8_t> sysgra_, script_;
};

TEST_F(SystemTextTest, OptionLabelsGetTheirSizeTagByLanguage) {
    ModeStack[0] = Option;
    const char* s21[4] = {"#Size[0.5,0.5]", "#Size[0.4,0.5]", "#Size[0.5,0.5]", "#Size[0.5,0.5]"};
    const char* s5[4] = {"#Size[0.4,0.4]", "#Size[0.3,0.4]", "#Size[0.4,0.4]", "#Size[0.4,0.4]"};
    for (int l = 0; l < 4; ++l) {
        Lang(l);
        EXPECT_EQ(Get(&SysgraMesTable, 3, 21), std::string(s21[l]) + "label21") << l;
        EXPECT_EQ(Get(&SysgraMesTable, 3, 5), std::string(s5[l]) + "label5") << l;
        EXPECT_EQ(Get(&SysgraMesTable, 3, 6), std::string(s5[l]) + "label6") << l;
        EXPECT_EQ(Get(&SysgraMesTable, 3, 22), "label22") << l;
        EXPECT_EQ(Get(&ScriptMesTable, 2, 33449), l == 1 ? "#Size[0.45,0.5]chapter" : "chapter") << l;
        EXPECT_EQ(Get(&ScriptMesTable, 2, 33461), "after") << l;
    }
    Lang(4);  // no rewrite in an unknown language
    EXPECT_EQ(Get(&SysgraMesTable, 3, 21), "label21");
    Lang(0);
    ModeStack[1] = Other;  // another screen on top
    EXPECT_EQ(Get(&SysgraMesTable, 3, 21), "label21");
    // Without a rewrite the result is the library's own buffer.
    EXPECT_EQ(GSL_SysTextGet(&SysgraMesTable, 3, 21, 0, nullptr, 0), Lib_MesGet(&SysgraMesTable, 3, 21, -1, nullptr, 0));
    // An unloaded table stays empty.
    MesTable none;
    ModeStack[1] = nullptr;
    EXPECT_EQ(Get(&none, 3, 21), "");
}

TEST_F(SystemTextTest, MusicRoomReplacesOnlyTheTwoCharacters) {
    ModeStack[0] = MusicRoom;
    Lang(1);
    EXPECT_EQ(Get(&SysgraMesTable, 3, 7),
              "A#Add[1]B#Add[0]\x81\x83\x81\x98\x81\xE3\x83\xBB");
    EXPECT_EQ(Get(&SysgraMesTable, 3, 5), "label5");
    Lang(0);
    EXPECT_EQ(Get(&SysgraMesTable, 3, 7), "A\xE2\x98\x86" "B\xE3\x83\xBB\x81\x83\x81\x98\x81\xE3\x83\xBB");

    // A long entry grows past the buffer: cut on a whole piece, within bounds.
    Lang(1);
    std::string r = Get(&SysgraMesTable, 3, 8);
    EXPECT_LE(r.size(), 1535u);
    EXPECT_EQ(r.substr(0, 8), "a#Add[1]");
    EXPECT_EQ((r.size() - 1) % 7, 0u);
    // Rows of every length, broken rows and rows cut at the buffer's end.
    const std::string star = "#Add[1]", dot = "#Add[0]";
    for (int n = 1; n <= 9; ++n) EXPECT_EQ(Get(&SysgraMesTable, 3, uint32_t(9 + n)), Repeat(star, n)) << n;
    EXPECT_EQ(Get(&SysgraMesTable, 3, 19), "x" + Repeat(star, 5) + Repeat(dot, 3) + star + "y" + Repeat(star, 4));
    EXPECT_EQ(Get(&SysgraMesTable, 3, 20), Repeat(star, 2) + "\xE2\x98x" + Repeat(star, 6) + "\xE2\x98");
    for (int k = 0; k <= 6; ++k)
        EXPECT_EQ(Get(&SysgraMesTable, 3, uint32_t(23 + k)), std::string(k, 'a') + Repeat(star, (1535 - k) / 7)) << k;
    char small[10];
    EXPECT_EQ(std::string(GSL_SysTextGet(&SysgraMesTable, 3, 8, 0, small, sizeof small)), r);
    EXPECT_STREQ(small, "a#Add[1]#");  // whole characters within the size
}

}  // namespace
