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
    const fs::path dir = tmpl, old = fs::current_path();
    fs::create_directories(dir / "src");
    for (const char* part : {"sample", "tools"})
        fs::copy(fs::path(VN_SOURCE_DIR) / part, dir / "src" / part, fs::copy_options::recursive);
    fs::current_path(dir);
    fs::create_directories("root/a");
    std::ofstream("root/a/b.txt") << "an input of the run";
    int runs = 0;
    // What the run's output holds afterwards: the number of the run that wrote it.
    auto run = [&] {
        const bool ok = KeptToolRunFrom(dir / "src", dir / "kept", "files\n" + TreeBytes("root"), {"out.txt"}, [&] {
            std::ofstream("out.txt") << "run " << ++runs;
            return true;
        });
        return ok ? FileBytes("out.txt") : std::string("failed");
    };
    ASSERT_EQ(run(), "run 1");
    const struct {
        const char* what;
        fs::path file;
    } rows[] = {
        {"nothing", {}},
        {"a tool", dir / "src/tools/pack.py"},
        {"a file of the sample", dir / "src/sample/extras.json"},
        {"an input under root/", "root/a/b.txt"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.file.empty()) {
            std::string bytes = FileBytes(r.file);
            ASSERT_FALSE(bytes.empty());
            bytes[bytes.size() / 2] ^= 1;
            std::ofstream(r.file, std::ios::binary) << bytes;
        }
        const int before = runs;
        const std::string out = run();
        EXPECT_EQ(runs, before + (r.file.empty() ? 0 : 1));
        EXPECT_EQ(out, "run " + std::to_string(runs));
        // Unchanged since: the run just kept is taken.
        std::ofstream("out.txt") << "stale";
        EXPECT_EQ(run(), out);
        EXPECT_EQ(runs, before + (r.file.empty() ? 0 : 1));
    }
    fs::current_path(old);
    fs::remove_all(dir);
}
