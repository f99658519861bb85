#include "engine/files/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "tests/engine/files/files_env.h"

namespace {

int g_errors = 0;

class ArchiveTest : public FilesEnv {
protected:
    // Reads an engine name from the archives; "<missing>" when that fails.
    static std::string Load(const std::string& engineName, uint32_t type = 0, char* nameOut = nullptr) {
        char name[256];
        std::snprintf(name, sizeof name, "%s", engineName.c_str());
        void* data = &data;
        uint32_t size = 0;
        bool ok = Lib_PcArcLoad(type, name, &data, &size, 16, true);
        if (nameOut) std::snprintf(nameOut, 256, "%s", name);
        if (!ok) return data ? "<dirty failure>" : "<missing>";
        std::string out(static_cast<char*>(data), size);
        if (type != kFileTypeCache) Lib_MemFree(int(type), data);
        return out;
    }
    static std::string Version(int32_t a) {
        char v[4];
        Lib_PcArcGetVersion(a, v);
        return std::string(v, 4);
    }
};

TEST_F(ArchiveTest, NewerArchivesOverrideOlderOnesFileByFile) {
    Write("base/visual/system/b.txt", "base b");
    Write("base/visual/system/c.txt", "base c");
    Write("base/visual/extra/e.txt", "first table");
    Write("base/visual/extra#2/d.txt", "second table");  // a second "visual/extra" table
    Write("patch/visual/system/a.txt", "patch a");
    Write("patch/visual/system/b.txt", "patch b");
    Write("r18/visual/system/a.txt", "r18 a");
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc base") && Pack("pcarc data/data_p00.pcarc patch") &&
                Pack("pcarc data/data_r18.pcarc r18"));
    Lib_PcArcOpen();
    EXPECT_TRUE(Lib_PcArcExists(2));
    EXPECT_EQ(Load("visual/system/a.txt"), "r18 a");
    EXPECT_EQ(Load("visual/system/b.txt"), "patch b");  // R18's table lacks it
    EXPECT_EQ(Load("data/visual/system/c.txt"), "base c");
    EXPECT_EQ(Load("visual/extra/e.txt"), "first table");
    EXPECT_EQ(Load("visual/extra/d.txt"), "<missing>");  // only the first table counts
    char name[256] = "Visual/System/C.TXT";
    EXPECT_TRUE(Lib_PcArcFileExists(name));
    void* data = nullptr;
    ASSERT_TRUE(Lib_FileLoad(1, name, &data, nullptr, 8, false));  // through the file loader
    EXPECT_EQ(std::string(static_cast<char*>(data), 6), "base c");
    Lib_MemFree(1, data);
}

TEST_F(ArchiveTest, CompressedDirectoriesNameFormsAndCacheEntries) {
    std::string script(200000, 's');
    for (size_t i = 0; i < script.size(); i += 97) script[i] = char('a' + i % 26);
    Write("tree/script/script.arc", script);
    Write("tree/script/empty.bin", "");
    Write("tree/visual/\xE3\x82\xBD.txt", "katakana so");  // stored as 83 5C
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc tree --compress script"));
    Lib_PcArcOpen();
    char name[256];
    EXPECT_EQ(Load("data/Script/Script.ARC", 0, name), script);
    EXPECT_STREQ(name, "data/script/script.arc");
    EXPECT_EQ(Load("script/empty.bin"), "<missing>");  // no heap buffer of 0 bytes
    EXPECT_EQ(Load("script/script.arc.gz"), "<missing>");

    uint32_t before = FileReadCount;
    EXPECT_EQ(Load("visual/\xE3\x82\xBD.txt", kFileTypeCache), "katakana so");
    EXPECT_EQ(Load("visual/\x83\x5C.txt", kFileTypeCache), "katakana so");
    EXPECT_EQ(Load("SCRIPT/script.arc", kFileTypeCache), script);
    EXPECT_EQ(Load("script/script.arc", kFileTypeCache), script);
    EXPECT_EQ(FileReadCount - before, 2u);
    EXPECT_EQ(HeapTable.heaps[HEAP_CACHE].usedCount, 2u);

    // The entry made by the read is marked complete, not a stale one of its name.
    void* stale = Lib_CashAlloc("visual/x.txt", 5, 16);
    Write("tree/visual/x.txt", "fresh");
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc tree"));
    Lib_PcArcOpen();
    void* data = nullptr;
    std::snprintf(name, sizeof name, "visual/x.txt");
    ASSERT_TRUE(Lib_PcArcLoad(kFileTypeCache, name, &data, nullptr, 16, false));
    EXPECT_EQ(Lib_CashEntryOf(data, 16)->state.load(), 1u);
    EXPECT_EQ(Lib_CashEntryOf(stale, 16)->state.load(), 0u);
}

// Only an untrusted header loses the whole archive; a damaged table loses its
// own directory, a file whose data lies past the end only that file. Each
// damaged archive is told on one line of stderr.
TEST_F(ArchiveTest, DamageCostsOnlyTheDamagedPart) {
    Write("base/visual/v.txt", "base v");
    Write("base/script/s.txt", "base s");
    Write("patch/visual/v.txt", "patch v");
    Write("patch/script/s.txt", "patch s");  // the entry the variants damage (table 0, entry 0)
    Write("patch/script/t.txt", "patch t");
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc base"));
    struct Case {
        std::vector<std::string> variants;
        bool archiveUsed;
        std::string s, t, v, why;
    };
    const Case cases[] = {
        {{"truncated-header", "t33", "base-past-eof"}, false, "base s", "<missing>", "base v", "it is not used"},
        {{"table-size-10", "table-past-eof", "e-beyond-table", "dir-no-nul", "name-no-nul"}, true, "base s",
         "<missing>", "patch v", "1 damaged directory table left out (table 0"},
        {{"offset-past-eof", "size-past-eof"}, true, "<missing>", "patch t", "patch v", "(script/s.txt)"},
    };
    Lib_DebugSetSink([](const char*) { ++g_errors; });
    for (const Case& c : cases) {
        for (const std::string& v : c.variants) {
            ASSERT_TRUE(Pack("pcarc data/data_p00.pcarc patch --broken " + v));
            g_errors = 0;
            testing::internal::CaptureStderr();
            Lib_PcArcOpen();
            EXPECT_EQ(g_errors, 1) << v;
            EXPECT_EQ(Lib_PcArcExists(1) && PcArcTable[1].opened, c.archiveUsed) << v;
            EXPECT_EQ(Load("script/s.txt"), c.s) << v;
            EXPECT_EQ(Load("script/t.txt"), c.t) << v;
            EXPECT_EQ(Load("visual/v.txt"), c.v) << v;
            // One line for the archive, told when it is opened (the range of
            // the damaged file is checked before anything is read).
            std::string told = testing::internal::GetCapturedStderr();
            EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << v << ": " << told;
            EXPECT_NE(told.find("vn: patch archive data/data_p00.pcarc is damaged"), std::string::npos) << told;
            EXPECT_NE(told.find(c.why), std::string::npos) << v << ": " << told;
            Lib_PcArcClose();
            EXPECT_EQ(InUse(HEAP_FILE), 0u) << v;  // the left-out tables were freed too
        }
    }
    Lib_DebugSetSink(nullptr);

    Write("tree/script/a.txt", std::string(500, 'a'));
    Write("tree/script/b.txt", std::string(500, 'b'));
    std::filesystem::remove("data/data_p00.pcarc");
    // A size field that claims far more than the stored bytes can inflate to
    // (2 GiB) is damage too, not a lack of memory.
    for (std::string v : {"short-gz", "bad-crc", "huge-size"}) {
        ASSERT_TRUE(Pack("pcarc data/data_00.pcarc tree --compress script --broken " + v));
        Lib_PcArcOpen();
        uint64_t used[HEAP_COUNT];
        for (int h = 0; h < HEAP_COUNT; ++h) used[h] = InUse(h);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Load("script/a.txt"), "<missing>") << v;
        EXPECT_EQ(Load("script/a.txt", kFileTypeCache), "<missing>") << v;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "vn: script/a.txt in the base archive data/data_00.pcarc is damaged (its compressed data is "
                  "damaged); it cannot be loaded\n")
            << v;  // once, however often it is asked for
        EXPECT_EQ(Lib_CashGetHitInfo("script/a.txt", -1), nullptr) << v;
        for (int h = 0; h < HEAP_COUNT; ++h) EXPECT_EQ(InUse(h), used[h]) << v << " heap " << h;
        EXPECT_EQ(Load("script/b.txt"), std::string(500, 'b')) << v;
    }
}

TEST_F(ArchiveTest, VersionsAndNameBounds) {
    std::string name60(60, 'n');  // with ".gz" 63 bytes: fits
    Write("base/script/" + name60, "sixty");
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc base --version 0050 --compress script"));
    Write("r18/visual/b.txt", "b");
    ASSERT_TRUE(Pack("pcarc data/data_r18.pcarc r18 --version 0999"));
    Lib_PcArcOpen();
    EXPECT_EQ(Version(0) + Version(1) + Version(2), "005000000999");
    EXPECT_EQ(Version(-1), "0100");  // the R18 archive does not count
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc base --version 0123 --compress script"));
    Lib_PcArcOpen();
    EXPECT_EQ(Version(-1), "0123");

    EXPECT_EQ(Load("script/" + name60), "sixty");
    EXPECT_EQ(Load("script/" + name60 + "x"), "<missing>");  // 64 bytes with ".gz"
    EXPECT_EQ(Load("visual/" + std::string(70, 'x')), "<missing>");
    EXPECT_EQ(Load(std::string(70, 'd') + "/a.txt"), "<missing>");
    char dir[64], file[64];
    ASSERT_TRUE(Lib_PathSplit("data/visual/\x83\x5C\x83\x5C.txt", dir, file));  // trail bytes '\\'
    EXPECT_EQ(std::string(dir) + "|" + file, "visual|\x83\x5C\x83\x5C.txt");
    ASSERT_TRUE(Lib_PathSplit("a\\b\tc/d", dir, file));
    EXPECT_EQ(std::string(dir) + "|" + file, "a\\b\tc|d");
}

}  // namespace
