#include "engine/files/container.h"

#include "engine/core/debug_log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A container of (name bytes, data) members, written by hand.
std::vector<uint8_t> Build(const std::vector<std::pair<std::string, std::string>>& members) {
    std::vector<uint8_t> out(8 + 72 * members.size());
    out[4] = uint8_t(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        uint8_t* e = out.data() + 8 + 72 * i;
        std::copy(members[i].first.begin(), members[i].first.end(), e);
        uint32_t size = uint32_t(members[i].second.size()), offset = uint32_t(out.size());
        for (int b = 0; b < 4; ++b) {
            e[64 + b] = uint8_t(size >> (8 * b));
            e[68 + b] = uint8_t(offset >> (8 * b));
        }
        out.insert(out.end(), members[i].second.begin(), members[i].second.end());
    }
    return out;
}

// A container written by the project's packer from two small files.
std::vector<uint8_t> Packed(const char* broken) {
    fs::path dir = fs::temp_directory_path() / ("container_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "first.bin") << "first member";
    std::ofstream(dir / "second.bin") << "second";
    std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py arc " + (dir / "c.arc").string() + " " +
                      (dir / "first.bin").string() + " " + (dir / "second.bin").string();
    if (broken) cmd += std::string(" --broken ") + broken;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(dir / "c.arc", std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove_all(dir);
    return bytes;
}

int g_errors = 0;
void CountErrors(const char*) { ++g_errors; }

TEST(ContainerTest, NamesMatchCaseInsensitivelyWithOneByteWildcards) {
    std::vector<uint8_t> bytes = Build({{"Script.TXT", "s"}, {"a1.bin", "x"}, {"ab.bin", "yy"},
                                        {"\x83\x41.bin", "katakana a"}, {"", "nameless"}});
    ArcView arc;
    ASSERT_TRUE(Lib_ArcOpen(&arc, bytes.data(), bytes.size()));
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "sCRIPT.txt"), 0);  // capitals on either side
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "a*.bin"), 1);   // first match wins
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "*b.bin"), 2);
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "a*.bi"), -1);   // one byte shorter
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "a*.binn"), -1); // one byte longer
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "a**.bin"), -1);
    // The trail byte 'A' of the Shift-JIS character stays as it is.
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "\x83\x41.BIN"), 3);
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "\x83\x61.bin"), -1);
    // Neither an empty searched name nor an empty member name matches.
    g_errors = 0;
    Lib_DebugSetSink(CountErrors);
    EXPECT_EQ(Lib_ArcGetFileID(&arc, ""), -1);
    EXPECT_EQ(Lib_ArcGetFileID(&arc, nullptr), -1);
    EXPECT_EQ(g_errors, 2);
    Lib_DebugSetSink(nullptr);

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(Lib_ArcGetData(&arc, "AB.BIN", -1, &data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "yy");
    ASSERT_TRUE(Lib_ArcGetData(&arc, nullptr, 3, &data, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 10), "katakana a");
}

TEST(ContainerTest, LookupsOutsideTheDirectoryLeaveTargetsUntouched) {
    std::vector<uint8_t> bytes = Packed(nullptr);
    ArcView arc;
    ASSERT_TRUE(Lib_ArcOpen(&arc, bytes.data(), bytes.size()));
    ASSERT_EQ(arc.count, 2u);
    const uint8_t* data = nullptr;
    uint32_t size = 7;
    ASSERT_TRUE(Lib_ArcGetData(&arc, nullptr, 1, &data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "second");

    const uint8_t* keep = data;
    EXPECT_FALSE(Lib_ArcGetData(&arc, nullptr, 2, &data, &size));  // index N
    EXPECT_FALSE(Lib_ArcGetData(&arc, "third.bin", -1, &data, &size));
    EXPECT_EQ(data, keep);
    EXPECT_EQ(size, 6u);
    std::string longName(300, 'f');
    EXPECT_EQ(Lib_ArcGetFileID(&arc, longName.c_str()), -1);

    ArcView empty;  // never opened
    EXPECT_EQ(Lib_ArcGetFileID(&empty, "first.bin"), -1);
    EXPECT_FALSE(Lib_ArcGetData(&empty, nullptr, 0, &data, &size));
    EXPECT_FALSE(Lib_ArcGetData(nullptr, nullptr, 0, &data, &size));
    EXPECT_EQ(data, keep);
}

TEST(ContainerTest, DamagedDirectoriesAreRejected) {
    for (const char* broken : {"n-too-large", "n-huge", "offset-past-end", "size-past-end",
                               "offset-wrap", "long-name"}) {
        std::vector<uint8_t> bytes = Packed(broken);
        ASSERT_FALSE(bytes.empty()) << broken;
        ArcView arc;
        EXPECT_FALSE(Lib_ArcOpen(&arc, bytes.data(), bytes.size())) << broken;
        EXPECT_EQ(arc.count, 0u);
        EXPECT_EQ(Lib_ArcGetFileID(&arc, "second.bin"), -1);
    }
    // The whole container must be there, header included.
    std::vector<uint8_t> bytes = Packed(nullptr);
    ArcView arc;
    EXPECT_FALSE(Lib_ArcOpen(&arc, bytes.data(), bytes.size() - 1));
    EXPECT_FALSE(Lib_ArcOpen(&arc, bytes.data(), 7));
    EXPECT_FALSE(Lib_ArcOpen(&arc, nullptr, 100));
    uint8_t none[8] = {};
    EXPECT_TRUE(Lib_ArcOpen(&arc, none, sizeof none));
    EXPECT_EQ(Lib_ArcGetFileID(&arc, "*"), -1);
}

}  // namespace
