// The sample's archives, built once for the whole run before any test that
// plays them starts (CTest runs this first: every other test requires it), so
// that no test spends its own time limit waiting for the build.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/ui/screen_harness.h"

TEST(SampleData, IsBuiltOnceForTheWholeRun) { EXPECT_FALSE(SampleFolder().empty()); }

// A kept tool run is taken again only for the same tools, sample and inputs:
// a tool, a file of the sample and an input under root/ each edited (one
// byte, the size kept) make a new run, and a run with nothing edited takes
// the outputs kept. On a copy of the sources, in a scratch folder.
TEST(KeptToolRuns, AnEditedToolSampleFileOrInputRunsAnewAndNothingEditedIsTakenAsKept) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/vn_kept_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    struct Scratch {
        fs::path dir, old = fs::current_path();
        ~Scratch() {
            fs::current_path(old);
            fs::remove_all(dir);
        }
    } scratch{tmpl};
    const fs::path src = scratch.dir / "src";
    fs::create_directories(src);
    for (const char* part : {"sample", "tools"})
        fs::copy(fs::path(VN_SOURCE_DIR) / part, src / part, fs::copy_options::recursive);
    fs::current_path(scratch.dir);
    fs::create_directories("root/a");
    std::ofstream("root/a/b.txt") << "an input of the run";
    int runs = 0;
    // What the output holds after a run: the number of the run that wrote it.
    auto run = [&] {
        std::ofstream("out.txt") << "stale";
        KeptToolRunFrom(src, scratch.dir / "kept", "files\n" + TreeBytes("root"), {"out.txt"}, [&] {
            std::ofstream("out.txt") << "run " << ++runs;
            return true;
        });
        return FileBytes("out.txt");
    };
    ASSERT_EQ(run(), "run 1");
    for (const fs::path& edited :
         {fs::path(), src / "tools/pack.py", src / "sample/extras.json", fs::path("root/a/b.txt")}) {
        SCOPED_TRACE(edited);
        std::string bytes = FileBytes(edited);
        if (!bytes.empty()) {
            bytes[bytes.size() / 2] ^= 1;
            std::ofstream(edited, std::ios::binary) << bytes;
        }
        const int before = runs, after = runs + (edited.empty() ? 0 : 1);
        EXPECT_EQ(run(), "run " + std::to_string(after));
        EXPECT_EQ(run(), "run " + std::to_string(after));  // unchanged since: the run kept
        EXPECT_EQ(runs, after) << before;
    }
}
