#include "engine/files/message_table.h"

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/text/font.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// L = 4, section s holds 10 * (s + 1) messages. Entry 54 is (1, 3, 2); its
// Japanese text is left out (length 0).
std::string Source() {
    std::string src = "languages = ja en zh-hans zh-hant\n";
    for (int s = 0; s < 10; ++s) src += "[section " + std::to_string(s) + "]\ncount = " + std::to_string(10 * (s + 1)) + "\n";
    src += "[section 1]\n3.en = english 3\n3.zh-hans = entry 54\n3.zh-hant = hant 3\n";
    // 2000 bytes: 'a', 666 three-byte UTF-8 characters, 'b'.
    src += "[section 2]\n0.ja = a";
    for (int i = 0; i < 666; ++i) src += "\xE3\x81\x82";
    src += "b\n";
    // 2000 bytes: "ab" and 999 two-byte Shift-JIS characters, raw.
    src += "1.ja = ab";
    for (int i = 0; i < 999; ++i) src += "\\x82\\xa0";
    src += "\n[section 9]\n99.zh-hant = last\n";
    return src;
}

fs::path TempDir() {
    fs::path dir = fs::temp_directory_path() / ("message_table_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// Runs the project's packer: "pack.py KIND OUT IN [options]".
void Pack(const std::string& kind, const fs::path& out, const fs::path& in, const std::string& options = "") {
    std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py " + kind + " " + out.string() + " " + in.string() + " " + options;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// The table the packer writes from Source(), damaged if asked.
std::vector<uint8_t> Packed(const char* broken) {
    fs::path dir = TempDir();
    std::ofstream(dir / "mes.txt") << Source();
    Pack("mul", dir / "mes.mul", dir / "mes.txt", broken ? std::string("--broken ") + broken : "");
    std::ifstream in(dir / "mes.mul", std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove_all(dir);
    return bytes;
}

class MessageTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        Lib_TextRunStateReset();  // the interface language as at start-up: the locale's
        bytes_ = Packed(nullptr);
        table_ = {bytes_.data(), bytes_.size()};
    }
    void TearDown() override {
        SystemMesTable = SysgraMesTable = ScriptMesTable = {};
        Lib_TextRunStateReset();
    }
    std::string Get(int32_t s, int32_t i, int32_t g, const MesTable* t = nullptr) {
        return Lib_MesGet(t ? t : &table_, s, i, g, nullptr, 0);
    }
    std::vector<uint8_t> bytes_;
    MesTable table_;
};

TEST_F(MessageTableTest, EntriesAreFoundBySectionIndexAndLanguage) {
    ASSERT_TRUE(Lib_MesTableCheck(bytes_.data(), bytes_.size()));
    char out[64];
    std::memset(out, 'x', sizeof out);
    EXPECT_STREQ(Lib_MesGet(&table_, 1, 3, 2, out, sizeof out), "entry 54");
    EXPECT_STREQ(out, "entry 54");
    EXPECT_EQ(Get(1, 3, 1), "english 3");
    EXPECT_EQ(Get(9, 99, 3), "last");
    // A missing text reads "No text" in both buffers.
    std::memset(out, 'x', sizeof out);
    EXPECT_STREQ(Lib_MesGet(&table_, 1, 3, 0, out, sizeof out), "No text");
    EXPECT_STREQ(out, "No text");
    char small[4];
    EXPECT_STREQ(Lib_MesGetBuf(&table_, 1, 3, 0, small, sizeof small), "No ");

    // A null or unloaded table means SystemMesTable; without it the text is empty.
    MesTable unloaded;
    EXPECT_EQ(Get(1, 3, 2, &unloaded), "");
    EXPECT_STREQ(Lib_MesGet(nullptr, 1, 3, 2, out, sizeof out), "");
    EXPECT_STREQ(out, "");
    SystemMesTable = table_;
    EXPECT_EQ(Get(1, 3, 2, &unloaded), "entry 54");
    EXPECT_STREQ(Lib_MesGetBuf(nullptr, 9, 99, 3, out, sizeof out), "last");
}

TEST_F(MessageTableTest, NumbersOutsideTheTableReadNoText) {
    for (auto [s, i, g] : {std::array<int32_t, 3>{-1, 0, 0}, {10, 0, 0}, {1, -1, 1}, {1, 20, 1},
                           {0, 10, 1}, {1, 3, 4}, {9, 100, 0}, {INT32_MAX, INT32_MAX, 3}})
        EXPECT_EQ(Get(s, i, g), "No text") << s << " " << i << " " << g;

    // Damaged headers are rejected; damaged entries read "No text".
    for (const char* broken : {"truncated", "n-too-large", "n-huge"}) {
        std::vector<uint8_t> bad = Packed(broken);
        EXPECT_FALSE(Lib_MesTableCheck(bad.data(), bad.size())) << broken;
        MesTable t{bad.data(), bad.size()};
        EXPECT_EQ(Get(1, 3, 2, &t), "No text") << broken;
    }
    for (const char* broken : {"offset-past-end", "length-past-end"}) {
        std::vector<uint8_t> bad = Packed(broken);
        MesTable t{bad.data(), bad.size()};
        EXPECT_EQ(Get(1, 3, 1, &t), "No text") << broken;  // the first text written
        EXPECT_EQ(Get(1, 3, 2, &t), "entry 54") << broken;
    }
    std::vector<uint8_t> bad = Packed("counts-exceed-n");
    MesTable t{bad.data(), bad.size()};
    EXPECT_EQ(Get(9, 99, 3, &t), "last");
    EXPECT_EQ(Get(9, 100, 0, &t), "No text");
}

TEST_F(MessageTableTest, LongTextsAreCutOnACharacterBoundary) {
    std::string utf8 = Get(2, 0, 0);  // 'a' + 3-byte characters
    EXPECT_EQ(utf8.size(), 1534u);
    EXPECT_EQ(utf8.substr(1531), "\xE3\x81\x82");
    std::string sjis = Get(2, 1, 0);  // "ab" + 2-byte characters
    EXPECT_EQ(sjis.size(), 1534u);
    EXPECT_EQ(sjis.substr(1532), "\x82\xA0");

    char out[11];
    Lib_MesGet(&table_, 2, 0, 0, out, sizeof out);
    EXPECT_STREQ(out, "a\xE3\x81\x82\xE3\x81\x82\xE3\x81\x82");
    Lib_MesGetBuf(&table_, 2, 1, 0, out, 6);
    EXPECT_STREQ(out, "ab\x82\xA0");
    std::vector<char> big(3000, 'x');
    Lib_MesGetBuf(&table_, 2, 0, 0, big.data(), uint32_t(big.size()));
    EXPECT_EQ(std::strlen(big.data()), 2000u);
}

TEST_F(MessageTableTest, InterfaceLanguageComesFromTheLocaleUntilTheRendererSetsIt) {
    for (auto [locale, language] : {std::pair<const char*, int32_t>{"ja", 0}, {"ja_JP", 0}, {"zh_CN", 2},
                                    {"zh_TW", 3}, {"zh_SG", 3}, {"zh", 3}, {"en", 1}, {"jv", 1}, {"jap", 1}, {"", 1}})
        EXPECT_EQ(Lib_LanguageFromLocale(locale), language) << locale;

    int32_t locale = Lib_LanguageGet();
    ASSERT_TRUE(locale >= 0 && locale <= 3);
    const char* byLanguage[4] = {"No text", "english 3", "entry 54", "hant 3"};
    EXPECT_EQ(Get(1, 3, -1), byLanguage[locale]);
    TextLanguage = 2;
    EXPECT_EQ(Get(1, 3, -1), "entry 54");
    TextLanguage = 3;
    char out[16];
    EXPECT_STREQ(Lib_MesGetBuf(&table_, 1, 3, -1, out, sizeof out), "hant 3");
    EXPECT_EQ(Get(1, 3, 1), "english 3");  // an explicit language wins
}

TEST_F(MessageTableTest, TablesLoadFromACompressedArchiveDirectory) {
    fs::path dir = TempDir(), cwd = fs::current_path();
    fs::create_directories(dir / "tree/script");
    std::ofstream(dir / "mes.txt") << Source();
    std::ofstream(dir / "sysgra.txt") << "languages = 2\n[section 4]\n1.1 = sysgra text\n";
    Pack("mul", dir / "tree/script/system_mes.mul", dir / "mes.txt");
    Pack("mul", dir / "tree/script/sysgra_mes.mul", dir / "sysgra.txt", "--encoding sjis");
    Pack("mul", dir / "tree/script/script_mes.mul", dir / "sysgra.txt", "--broken n-too-large");
    fs::create_directories(dir / "run/data");
    Pack("pcarc", dir / "run/data/data_00.pcarc", dir / "tree", "--compress script");
    const uint64_t sizes[HEAP_COUNT] = {4u << 20, 4u << 20, 2u << 20, 2u << 20, 4u << 20};
    ASSERT_TRUE(Lib_MemInit(sizes));
    fs::current_path(dir / "run");
    Lib_PcArcOpen();
    uint64_t blocks = HeapTable.heaps[HEAP_GENERAL].usedCount;

    EXPECT_TRUE(Lib_MesSystemLoad());
    Lib_MesLoad();
    EXPECT_EQ(SystemMesTable.size, bytes_.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(SystemMesTable.data) % 256, 0u);
    EXPECT_EQ(Get(1, 3, 2, &SystemMesTable), "entry 54");
    EXPECT_EQ(Get(4, 1, 1, &SysgraMesTable), "sysgra text");
    EXPECT_EQ(Get(4, 1, 0, &SysgraMesTable), "No text");
    // The damaged table stays unloaded; lookups in it read the default table.
    EXPECT_EQ(ScriptMesTable.data, nullptr);
    EXPECT_EQ(Get(1, 3, 2, &ScriptMesTable), "entry 54");

    Lib_MesFree();
    Lib_MesSystemFree();
    EXPECT_EQ(SysgraMesTable.data, nullptr);
    EXPECT_EQ(SystemMesTable.data, nullptr);
    EXPECT_EQ(HeapTable.heaps[HEAP_GENERAL].usedCount, blocks);
    Lib_PcArcClose();
    Lib_MemRelease();
    fs::current_path(cwd);
    fs::remove_all(dir);
}

}  // namespace
