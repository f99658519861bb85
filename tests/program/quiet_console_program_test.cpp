// The whole program on the sample, read with clicks from new game to the first
// choice, with stderr captured: a run with a sound device says nothing at all;
// a run without one says so once and then nothing more about sound, even with
// the script trace on; ALSA, looking for a device that is not there, adds
// no line of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "script/script_task.h"
#include "ui/pointer.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "tests/ui/stderr_lines.h"

namespace {
using namespace program_title;

constexpr uint8_t kKeyZ = 0x2C;

bool ChoiceOpen() { return StoryWaiting() && (MenuActiveFlag & 1u); }

// New game, then confirms until the first choice is up. Returns stderr.
std::string ReadToTheFirstChoice(std::string* failed) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ProgramRun run;
    std::vector<ProgramRun::Step> steps = {
        Drive("the first choice", ChoiceOpen, Key(kKeyZ), 4000),
    };
    PrependNewGame(steps);
    testing::internal::CaptureStderr();
    const int code = run.Run(steps);
    const std::string err = testing::internal::GetCapturedStderr();
    // The trace a run turned on stays with the process: off again.
    GSL_ScriptTraceSet(nullptr);
    Lib_DebugSetSink(nullptr);
    *failed = code == 0 ? run.failed : "the program returned " + std::to_string(code);
    return err;
}

// Sets an environment variable for one test and puts back what was there.
class EnvSet {
public:
    EnvSet(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) had_ = true, old_ = old;
        ::setenv(name, value, 1);
    }
    ~EnvSet() {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST(QuietConsoleProgram, ANewGameToTheFirstChoiceWritesNothingOnStderr) {
    EnvSet audio("SDL_AUDIODRIVER", "dummy");
    std::string failed;
    const std::string err = ReadToTheFirstChoice(&failed);
    EXPECT_EQ(failed, "");
    EXPECT_EQ(err, "");
}

TEST(QuietConsoleProgram, WithoutASoundDeviceOneLineSaysSoEvenWhileTracing) {
    EnvSet audio("SDL_AUDIODRIVER", "no-such-driver");
    EnvSet trace("VN_SCRIPT_TRACE", "1");
    std::string failed;
    const std::string err = ReadToTheFirstChoice(&failed);
    EXPECT_EQ(failed, "");
    const auto said = LinesWith(err, "vn: ");
    EXPECT_EQ(said.size(), 1u);
    for (const std::string& line : said) EXPECT_NE(line.find("no sound device"), std::string::npos) << line;
    for (const std::string& line : LinesWith(err, "Error -> ")) ADD_FAILURE() << line;
}
// A first start to its first logo through SDL's alsa driver, on a device
// name no system has and on the default one (no card here; a machine with
// one prints nothing): stderr is the one line.
TEST(QuietConsoleProgram, WithoutASoundDeviceTheFirstStartPrintsTheOneLineAlone) {
    const std::string line = "vn: no sound device found; the game runs without sound\n";
    EnvSet audio("SDL_AUDIODRIVER", "alsa");
    for (const char* device : {"none", ""}) {
        EnvSet named("AUDIODEV", device);
        if (!device[0]) ::unsetenv("AUDIODEV");
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        ProgramRun run;
        std::vector<ProgramRun::Step> steps = {{"the first logo", LogoHeld, nullptr}};
        testing::internal::CaptureStderr();
        EXPECT_EQ(run.Run(steps), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(run.failed, "") << device;
        if (device[0] || !err.empty()) {
            EXPECT_EQ(err, line) << "AUDIODEV " << device;
        }
    }
}
}  // namespace
