// The whole program on the sample with an edited opening, whose script
// container goes into the patch archive: conditions on a range of values in
// if, elseif and jump, a reference written with two digits and a call of a
// label of the opening's own file (never called itself) play as written.
// scene4.txt is called, then scene3.txt, which holds its page with a timed
// wait until a click, passing a label on every round: with skip on (the D
// key) the wait is over in its first call, yet the loop plays on and fills
// the label history, and with skip off a confirm leaves it at
// *staffroll_stop. scene4.txt, called again with the history full, returns
// behind its second call. Then scene1.txt, which the opening calls, calls a
// label of its own file:
// that label's return comes back behind the call, and scene1's own return
// comes back there again and again with nothing shown. One line tells it,
// the story ends, and the title comes back. The author's check warns of
// that loop, and of no other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "screens/system_screens.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "story/system_save.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
namespace fs = std::filesystem;
using namespace program_title;

constexpr uint8_t kKeyZ = 0x2C, kKeyD = 0x20;

constexpr char kOpening[] = R"(; The edited opening.
<clearvar>
<eval "[2010]=2&[05]=1">
*top
<label>
<if "[2010]>1&&[2010]<3">
<name NAME_0>
<text TEXT_0>
<keywait 0>
<elseif "[2010]>0&&[2010]<2">
<text TEXT_6>
<keywait 6>
<endif>
<eval "[2010]=5">
<if "[2010]==1">
<text TEXT_6>
<keywait 6>
<elseif "[2010]>4&&[2010]<6">
<text TEXT_1>
<keywait 1>
<endif>
<jump 00_init,*past,"[05]==1&&[2010]<9">
<text TEXT_6>
<keywait 6>
*past
<label>
<call 00_init,*aside>
<text TEXT_2>
<keywait 2>
<call scene4>
<call scene3>
<call scene4>
<call scene1>
<returnmenu>

*aside
<label>
<text TEXT_5>
<keywait 5>
<return>
)";

constexpr char kScene1[] = R"(; Called by 00_init.txt; calls a label of its own.
*scene1_top
<label>
<name NAME_1>
<text TEXT_3>
<keywait 3>
<call scene1,*aside>
<return>

*aside
<label>
<text TEXT_4>
<keywait 4>
<return>
)";

constexpr char kScene3[] = R"(; Called by 00_init.txt: the page is held until a click.
<click 0>
*hold
<label>
<wait time:1000>
<jump scene3,*hold>
*staffroll_stop
<label>
<click 1>
<return>
)";

constexpr char kScene4[] = R"(; Called by 00_init.txt before the held page and after it.
*scene4_top
<label>
<text TEXT_5>
<keywait 5>
<return>
)";

std::string g_checked;  // what tools/script_check.py printed of the edited scenarios

// In the run's folder: the sample's scenarios with the opening edited and
// scene1.txt added, packed (`pack.py script`, which checks nothing) into a
// patch archive that takes the place of the sample's and keeps its files.
void EditedScenarios() {
    const fs::path src = "edited/script.arc", root = "edited/root";
    fs::create_directories(src);
    fs::create_directories(root / "script");
    fs::copy(VN_SOURCE_DIR "/sample/base/script/script.arc", src, fs::copy_options::recursive);
    std::ofstream(src / "00_init.txt", std::ios::trunc) << kOpening;
    std::ofstream(src / "scene1.txt") << kScene1;
    std::ofstream(src / "scene3.txt") << kScene3;
    std::ofstream(src / "scene4.txt") << kScene4;
    fs::copy(VN_SOURCE_DIR "/sample/patch", root, fs::copy_options::recursive);
    const std::string pack = "python3 " VN_SOURCE_DIR "/tools/pack.py ";
    ASSERT_EQ(std::system((pack + "script edited/script.arc edited/root/script/script.arc").c_str()), 0);
    fs::remove("data/data_p00.pcarc");
    ASSERT_EQ(std::system((pack + "pcarc data/data_p00.pcarc edited/root --version 0101").c_str()), 0);
    // The author's check of the same scenarios, before they are played.
    const std::string check = "python3 " VN_SOURCE_DIR "/tools/script_check.py edited/script.arc 2> edited/check.txt";
    ASSERT_NE(std::system(check.c_str()), -1);
    std::ifstream in("edited/check.txt");
    g_checked.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The places (file:line) of the lines that match `re` (its first group).
std::vector<std::string> Places(const std::string& text, const std::regex& re) {
    std::vector<std::string> out;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);)
        if (std::smatch m; std::regex_search(l, m, re)) out.push_back(m[1]);
    return out;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(ScriptLoopProgram, RangeConditionsOwnLabelCallsAndAHeldPageUnderSkipPlayAndASelfReturnLoopEndsTheStory) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ProgramRun run;
    run.before = EditedScenarios;
    bool ended = false, titleAgain = false;
    auto storyEnded = [&] {
        const int32_t status = GSL_ScriptStatusGet(GSL_WorkTaskGet(GSL_StoryModeCB));
        ended = ended || status == int32_t(SCRIPT_ENDED);
        return ended;
    };
    // scene3.txt holds its page: with skip on, its wait is over in its first
    // call and the loop goes round as fast as the frames allow, yet it is a
    // wait, and the story plays on; skip off, the next confirm leaves it.
    auto inScene3 = [] {
        const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
        return file && std::strcmp(file, "scene3.txt") == 0;
    };
    int skipped = 0;
    bool heldWhileSkipping = true;
    std::vector<ProgramRun::Step> steps;
    steps.push_back(Drive("the page held", [&] { return inScene3() && !storyEnded(); },
                          [&](PlatInputState& in) {
                              if (!inScene3()) in.keys[kKeyZ] = kPlatDown;
                          },
                          3000));
    steps.push_back(Drive("skip on", [] { return StoryPlayMode == PLAY_SKIP; }, Key(kKeyD), 60));
    steps.push_back({"two frames of skipping",
                     [&] {
                         heldWhileSkipping = heldWhileSkipping && inScene3() && !storyEnded();
                         return StoryPlayMode == PLAY_SKIP && ++skipped >= 2;
                     },
                     kIdle, 90});
    steps.push_back(Drive("skip off", [] { return StoryPlayMode == 0; }, Key(kKeyD), 60));
    steps.push_back(Drive("the story read to its end", storyEnded, Key(kKeyZ), 3000));
    // The question whether to save the system data, when it comes, is
    // answered yes; then the title.
    steps.push_back(Drive("the title again",
                          [&] {
                              titleAgain = GSL_ModeTop() == GSL_TitleModeCB && !GSL_WorkGet(GSL_StoryModeCB);
                              return titleAgain;
                          },
                          [](PlatInputState& in) {
                              if (GSL_ModeTop() == GSL_SystemSaveModeCB) in.keys[kKeyZ] = kPlatDown;
                          },
                          1500));
    PrependNewGame(steps);
    int code = -1;
    const std::string err = RunTraced(run, std::move(steps), &code);

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(ended);
    EXPECT_TRUE(titleAgain);
    // Every line waited for, in the order read: the branches the conditions
    // take, the opening's own label called and returned from, scene4 before
    // the held page and once after it, scene1 and its own label.
    std::vector<std::string> read;
    const std::regex keywait(R"(^script (\w+\.txt:\d+) keywait\(12\))");
    std::istringstream lines(err);
    for (std::string l; std::getline(lines, l);)
        if (std::smatch m; std::regex_search(l, m, keywait)) read.push_back(m[1]);
    const std::vector<std::string> want = {"00_init.txt:9", "00_init.txt:20", "00_init.txt:39", "00_init.txt:29",
                                           "scene4.txt:5",  "scene4.txt:5",   "scene1.txt:6",   "scene1.txt:13"};
    EXPECT_EQ(read, want) << err;
    EXPECT_EQ(Count(err, "vn: script scene1.txt:7: <return> at scene1.txt:8 comes back here again and again with "
                         "nothing changed and no tag between that waits or reads the player's input or the clock: "
                         "the script ends\n"),
              1)
        << err;
    EXPECT_EQ(Count(err, "vn: script"), 1) << err;
    // Every loop the engine ends, the author's check warned of first, and
    // of no other: the held page waits and plays on.
    const std::vector<std::string> ended_at = Places(err, std::regex(R"(^vn: script (\S+:\d+): .* comes back here)"));
    EXPECT_EQ(ended_at, std::vector<std::string>{"scene1.txt:7"}) << err;
    EXPECT_EQ(Places(g_checked, std::regex(R"(([\w.]+\.txt:\d+):\d+: warning: .*comes back)")), ended_at) << g_checked;
    EXPECT_TRUE(heldWhileSkipping);
    EXPECT_GE(Count(err, "script scene3.txt:5 wait(132) time:1000"), 1000);
    EXPECT_EQ(Count(err, "script scene3.txt:9 click(134) 1"), 1);
}

}  // namespace
