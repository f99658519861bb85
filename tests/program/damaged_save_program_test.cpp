// The whole program on save files that are FIFOs (save.cdf, registry.cdf and
// registry_next.cdf), on which a plain open() waits for ever: the start goes
// on to the title with one line for each file, the FIFOs of the two save
// files stay in place, and Ctrl-C during the start closes the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine_state.h"
#include "platform/plat_store.h"
#include "tests/engine/files/fifo_wait.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "tests/ui/stderr_lines.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNames[] = {"save.cdf", "registry.cdf", "registry_next.cdf"};

// Makes the three FIFOs in the run's folder; their absolute paths go to out.
void MakeFifos(std::vector<std::string>* out) {
    Store_Init();  // the program's own start does it again
    const uint64_t user = Store_UserId();
    Store_Shutdown();
    const fs::path folder = fs::absolute(fs::path("user") / std::to_string(user) / "save");
    fs::create_directories(folder);
    for (const char* name : kNames) {
        out->push_back((folder / name).string());
        ASSERT_EQ(::mkfifo(out->back().c_str(), 0644), 0);
    }
}

bool IsFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

TEST(DamagedSaveProgram, SaveFilesThatAreFifosHoldNothingUp) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    std::vector<std::string> fifos;
    bool kept[3] = {};
    ProgramRun run;
    run.before = [&] { MakeFifos(&fifos); };
    run.after = [&] {
        for (int i = 0; i < 3; ++i) kept[i] = IsFifo(fifos[size_t(i)]);
    };
    std::vector<ProgramRun::Step> steps;
    program_title::ToTitleMenu(steps);
    int code = -1;
    testing::internal::CaptureStderr();
    const bool inTime = EndsWithoutWaitingOn(fifos, [&] { code = run.Run(std::move(steps)); }, std::chrono::seconds(120));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(inTime) << "the start waited on a FIFO";
    EXPECT_EQ(code, 0) << told;
    EXPECT_EQ(run.failed, "") << told;
    for (const char* name : kNames) {
        const auto lines = LinesWith(told, std::string("save/") + name + " ");
        ASSERT_EQ(lines.size(), 1u) << name << "\n" << told;
        EXPECT_NE(lines[0].find("is not a regular file"), std::string::npos) << lines[0];
    }
    EXPECT_TRUE(kept[0] && kept[1]) << "the save files are left in place";
    EXPECT_EQ(LinesWith(told, "saving is off").size(), 2u) << told;
}

// Ctrl-C while the game thread starts up on save files that are FIFOs, in
// a process of its own so that whatever a signal leaves behind stays out of
// this one. Ends that process with 0 when the program closed by itself,
// before any step; 2 no signal sent, 3 sent after the start, 4 the start
// waited on a FIFO, 5 the program did not close by itself.
[[noreturn]] void CtrlCDuringAStart() {
    std::vector<std::string> fifos;
    std::atomic<bool> ended{false}, before{false}, sent{false}, duringStart{false};
    ProgramRun run;
    run.before = [&] {
        MakeFifos(&fifos);
        before = true;
    };
    // The signal goes once the game thread runs: SDL's handler, which
    // turns it into its quit event, is set up before.
    std::thread interrupter([&] {
        bool starting = false;
        while (!ended.load() && !sent.load()) {
            const uint8_t state = RunState.load();
            starting = starting || (before.load() && state == RUN_STARTING);
            if (starting && (state == RUN_INIT || state == RUN_RUNNING)) {
                duringStart = state == RUN_INIT;
                ::kill(::getpid(), SIGINT);
                sent = true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    std::vector<ProgramRun::Step> steps;
    steps.push_back({"never: the signal ends the program first", [] { return false; }, nullptr, 1 << 30});
    int code = -1;
    const bool inTime =
        EndsWithoutWaitingOn(fifos, [&] { code = run.Run(std::move(steps)); }, std::chrono::seconds(120));
    ended = true;
    interrupter.join();
    const bool closed = code == 0 && run.failed == "the program ended before its steps";
    ::_exit(!sent.load() ? 2 : !duringStart.load() ? 3 : !inTime ? 4 : !closed ? 5 : 0);
}

TEST(DamagedSaveProgram, CtrlCDuringAStartOnFifosClosesTheProgram) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    // The run starts from a fresh process, not a fork of this one: a fork
    // would carry along the graphics state earlier tests left here, and its
    // context could not be made current. The style goes back as it was for
    // the tests that run after this one.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CtrlCDuringAStart(), testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
