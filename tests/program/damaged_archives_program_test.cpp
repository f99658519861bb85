// The whole program on damaged data archives: a truncated patch archive and a
// damaged directory table in the base archive each cost one line on stderr
// and the game still plays (the logos and the title, then a new game's story); a base
// archive that cannot be used stops the start with a clear message.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/frame.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/thread.h"
#include "engine/files/archive.h"
#include "engine/sound/sound.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "tests/ui/stderr_lines.h"
#include "ui/screen_slots.h"

namespace fs = std::filesystem;

namespace {
std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}
// Replaces the link to the sample's archive by a copy of these bytes.
void Replace(const char* name, const std::string& bytes) {
    fs::remove(fs::path("data") / name);
    std::ofstream(fs::path("data") / name, std::ios::binary) << bytes;
}
std::string Archive(const char* name) { return ReadAll(fs::read_symlink(fs::path("data") / name)); }

TEST(DamagedArchivesProgram, EachDamagedFileIsToldOnceAndTheGamePlays) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ProgramRun run;
    run.before = [] {
        // The patch archive cut short: the data of its file lies past its end.
        const std::string patch = Archive("data_p00.pcarc");
        Replace("data_p00.pcarc", patch.substr(0, patch.size() - 3));
        // The base archive with the "doc" directory's table damaged (a size
        // too small for a table); every other directory stays.
        std::string base = Archive("data_00.pcarc");
        PcArcHeader h;
        ASSERT_GE(base.size(), sizeof h);
        std::memcpy(&h, base.data(), sizeof h);
        bool found = false;
        for (int32_t j = 0; j < h.tableCount && j < kPcArcMaxTables; ++j) {
            if (h.tableOffset[j] + 64 > base.size() || std::strcmp(base.c_str() + h.tableOffset[j], "doc") != 0)
                continue;
            h.tableSize[j] = 10;
            found = true;
        }
        ASSERT_TRUE(found);
        std::memcpy(base.data(), &h, sizeof h);
        Replace("data_00.pcarc", base);
    };
    std::string file;
    testing::internal::CaptureStderr();
    std::vector<ProgramRun::Step> steps;
    program_title::ToTitleMenu(steps);
    steps.push_back({"new game", program_title::TitleMenuUp,
                     [](PlatInputState& in) { program_title::Press(in, BUTTON_DECIDE); }});
    steps.push_back({"a new game's story running its script",
                     [&] {
                         if (GSL_ModeTop() != GSL_StoryModeCB) return false;
                         const char* name = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
                         if (name) file = name;
                         return !file.empty();
                     },
                     nullptr});
    const int code = run.Run(std::move(steps));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 0) << told;
    EXPECT_EQ(run.failed, "") << told;
    EXPECT_EQ(file, "00_init.txt");
    const auto patchLines = LinesWith(told, "data/data_p00.pcarc"), baseLines = LinesWith(told, "data/data_00.pcarc");
    ASSERT_EQ(patchLines.size(), 1u) << told;
    EXPECT_NE(patchLines[0].find("vn: patch archive data/data_p00.pcarc is damaged: the data of 1 file lies past its end"),
              std::string::npos)
        << told;
    ASSERT_EQ(baseLines.size(), 1u) << told;
    EXPECT_NE(baseLines[0].find("vn: base archive data/data_00.pcarc is damaged: 1 damaged directory table left out"),
              std::string::npos)
        << told;
    EXPECT_EQ(told.find("start-up failed"), std::string::npos) << told;
}

// A base archive that cannot be used (cut short inside its header): the start
// stops with one line about the archive and one that says the game cannot
// start, and leaves nothing behind. Nothing of the sample is needed.
TEST(DamagedArchivesProgram, AnUnusableBaseArchiveStopsTheStart) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    char tmpl[] = "/tmp/vn_archives_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl, old = fs::current_path();
    fs::current_path(dir);
    fs::create_directories("data");
    std::ofstream("data/data_00.pcarc", std::ios::binary) << "0100" + std::string(296, '\0');
    const uint64_t heaps[HEAP_COUNT] = {8u << 20, 16u << 20, 2u << 20, 16u << 20, 16u << 20};
    MainHeapSizes = heaps;
    std::atomic<bool> ended{false};
    std::thread watcher([&ended] {  // ends a run that wrongly went on
        while (!ended.load()) {
            if (RunState.load() == RUN_RUNNING) Plat_PostQuit();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    testing::internal::CaptureStderr();
    const int code = WinMain();
    ended = true;
    const std::string told = testing::internal::GetCapturedStderr();
    watcher.join();
    MainHeapSizes = kHeapDefaultSizes;
    fs::current_path(old);
    fs::remove_all(dir);
    EXPECT_EQ(code, 1) << told;
    EXPECT_EQ(LinesWith(told, "vn: base archive data/data_00.pcarc is damaged (shorter than its 400-byte header)").size(),
              1u)
        << told;
    EXPECT_NE(told.find("vn: start-up failed: the base archive data/data_00.pcarc is damaged (looked for "),
              std::string::npos)
        << told;
    for (auto* t : ThreadTable) EXPECT_EQ(t, nullptr);
    for (auto& heap : HeapTable.heaps) EXPECT_EQ(heap.base, nullptr);
}

}  // namespace
