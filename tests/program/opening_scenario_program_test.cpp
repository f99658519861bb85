// The whole program on the sample game with the script trace on: new game on
// the title starts the story over the title, which runs the opening
// scenario through the interpreter to its end and leaves for the question
// whether to save the system data; yes saves it and the story starts again.
// The reader takes the story's second road, the library's records.
#include <gtest/gtest.h>


#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "screens/system_screens.h"
#include "script/game_blocks.h"
#include "script/script_task.h"
#include "story/access_flags.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "story/system_save.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C;
constexpr uint8_t kKeyUp = 0xC8;
constexpr uint8_t kKeyDown = 0xD0;

bool ScriptTasksGone() {
    for (const TaskRecord* t : TaskTable.slots)
        if (t && t->callback == GSL_ScriptCB) return false;
    return true;
}

TEST(SampleProgram, NewGameStartsTheStoryWhichRunsTheOpeningScenarioToItsEnd) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    struct Seen {
        int32_t task = -1;
        std::string file;
        bool titleBelow = false, ended = false, contextGone = false, saved = false, again = false;
    } seen;
    ProgramRun run;
    bool over = false;
    std::vector<ProgramRun::Step> steps = {
        {"the story running its script",
         [&] {
             if (GSL_ModeTop() != GSL_StoryModeCB) return false;
             seen.task = GSL_WorkTaskGet(GSL_StoryModeCB);
             const char* file = GSL_ScriptTaskFileName(seen.task);
             if (!file) return false;
             seen.file = file;
             seen.titleBelow = GSL_ModeCount() == 2 && ModeStack[0] == GSL_TitleModeCB &&
                               !GSL_WorkGet(program_title::LogoScreen());
             return true;
         },
         nullptr},
    };
    // The reader confirms every other frame until the script has ended: the
    // first confirm of a message completes its reveal, the next goes on.
    // The end shows for one frame: every frame looks for it.
    auto watch = [&] {
        const int32_t status = GSL_ScriptStatusGet(seen.task);
        // returnmenu ends the task through its finish request: it goes.
        seen.ended = seen.ended || status < 0;
        over = over || seen.ended || status == int32_t(SCRIPT_ENDED);
        return true;
    };
    // At the first choice menu: Down (the last choice), Up (the second),
    // then the confirms take it. At the story's choice: Down (the records).
    int menuKeys = 0;
    bool storyLit = false;
    // However many frames a loaded machine's loads take: the wait's deadline.
    steps.push_back(program_title::Worker(program_title::Drive(
        "the confirms to the script's end", [&] { return watch() && over; }, [&](PlatInputState& in) {
            const char* file = GSL_ScriptTaskFileName(seen.task);
            const bool story = file && std::strcmp(file, "story.txt") == 0;
            if ((MenuActiveFlag & 1u) && menuKeys < 2) {
                in.keys[menuKeys++ == 0 ? kKeyDown : kKeyUp] = kPlatDown;
            } else if ((MenuActiveFlag & 1u) && story && !storyLit) {
                in.keys[kKeyDown] = kPlatDown;
                storyLit = true;
            } else {
                in.keys[kKeyZ] = kPlatDown;
            }
        })));
    steps.push_back(
        {"the script ended",
         [&] {
             const int32_t status = GSL_ScriptStatusGet(seen.task);
             seen.ended = seen.ended || status < 0;
             return status == int32_t(SCRIPT_ENDED) || status < 0;
         },
         nullptr});
    steps.push_back(
        {"the save question",
         [&] {
             const ScreenWork* w = GSL_WorkGet(GSL_SystemSaveModeCB);
             if (GSL_ModeTop() != GSL_SystemSaveModeCB || !w || w->step != SYSTEM_SAVE_STEP_WRITE ||
                 w->subState != SYSTEM_SAVE_WRITE_ANSWER)
                 return false;
             seen.contextGone = !GSL_WorkGet(GSL_StoryModeCB) && GSL_ModeCount() == 2 && ScriptTasksGone();
             return true;
         },
         nullptr});
    // Yes (the dialog grows in first), then the fresh title below comes up.
    for (int i = 0; i < 40; ++i) {
        steps.push_back({"yes",
                         [&] {
                             seen.saved = seen.saved || Lib_SaveSlotCheck(kSaveSystemSlot, nullptr) == 0;
                             return true;
                         },
                         [&](PlatInputState& in) {
                             if (GSL_ModeTop() == GSL_SystemSaveModeCB) in.keys[kKeyZ] = kPlatDown;
                         }});
        steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
    }
    steps.push_back(program_title::Worker({"the title again",
                                           [&] {
                                               if (GSL_ModeTop() != GSL_TitleModeCB) return false;
                                               seen.saved = seen.saved ||
                                                            Lib_SaveSlotCheck(kSaveSystemSlot, nullptr) == 0;
                                               seen.again = GSL_ModeCount() == 1 && !GSL_WorkGet(GSL_StoryModeCB);
                                               return true;
                                           },
                                           nullptr}));
    program_title::PrependNewGame(steps);
    int code = -1;
    const std::string err = program_title::RunTraced(run, std::move(steps), &code);

    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(seen.file, "00_init.txt");
    EXPECT_TRUE(seen.titleBelow);
    EXPECT_TRUE(seen.ended);
    EXPECT_TRUE(seen.contextGone);
    EXPECT_TRUE(seen.saved);
    EXPECT_TRUE(seen.again);
    // One trace line per command, in the scenario's order.
    std::vector<std::string> names;
    const std::regex line(R"(^script (\w+)\.txt:\d+ (\w+)\(\d+\))");
    std::istringstream lines(err);
    for (std::string l; std::getline(lines, l);) {
        if (!names.empty() && names.back() == "00_init:returnmenu") break;
        if (std::smatch m; std::regex_search(l, m, line)) names.push_back(std::string(m[1]) + ":" + std::string(m[2]));
    }
    const std::vector<std::string> want = {
        "00_init:clearvar", "00_init:eval", "00_init:label", "00_init:playbgm", "00_init:image", "00_init:image", "00_init:quake", "00_init:wq",
        "00_init:move", "00_init:wm", "00_init:stopmove", "00_init:stopquake", "00_init:name", "00_init:text",
        "00_init:keywait", "00_init:name", "00_init:text", "00_init:keywait", "00_init:font",
        "00_init:textspeed", "00_init:name", "00_init:text", "00_init:lw", "00_init:text", "00_init:keywait",
        "00_init:textspeed", "00_init:winframe", "00_init:layopt", "00_init:layopt", "00_init:name",
        "00_init:text", "00_init:keywait", "00_init:text", "00_init:keywait", "00_init:call", "msgwin:label",
        "msgwin:winframe", "msgwin:name", "msgwin:voice", "msgwin:text", "msgwin:keywait", "msgwin:voice_stop", "msgwin:name",
        "msgwin:voice", "msgwin:text", "msgwin:keywait", "msgwin:position", "msgwin:text", "msgwin:keywait",
        "msgwin:position", "msgwin:layopt", "msgwin:wait", "msgwin:backlay", "msgwin:analyze_00",
        "msgwin:layopt", "msgwin:name", "msgwin:text", "msgwin:keywait", "00_init:call", "voices:label",
        "voices:winframe", "voices:playbgm", "voices:image", "voices:image", "voices:name", "voices:voice", "voices:voice", "voices:text", "voices:keywait", "voices:voice_stop",
        "voices:voice_stop", "voices:name", "voices:voice", "voices:voice", "voices:voice", "voices:voice",
        "voices:voice", "voices:voice", "voices:voice", "voices:voice", "voices:voice", "voices:text",
        "voices:keywait", "voices:voice_stop", "voices:name", "voices:voice", "voices:text", "voices:keywait",
        "voices:voice_stop", "00_init:call", "sub:label", "sub:winframe", "sub:playbgm", "sub:image", "sub:image", "sub:name", "sub:text", "sub:keywait", "00_init:label",
        "00_init:winframe", "00_init:playbgm", "00_init:image", "00_init:image", "00_init:if", "00_init:elseif", "00_init:name", "00_init:text", "00_init:keywait", "00_init:if",
        "00_init:name", "00_init:text", "00_init:keywait", "00_init:jump_endif", "00_init:endif",
        "00_init:jump_endif", "00_init:endif", "00_init:wait", "00_init:jump", "00_init:label",
        "00_init:winframe", "00_init:stopbgm", "00_init:call", "scene_choice:label", "scene_choice:winframe", "scene_choice:image", "scene_choice:image", "scene_choice:playbgm", "scene_choice:playbgm",
        "scene_choice:playbgm", "scene_choice:playse", "scene_choice:ws", "scene_choice:playse",
        "scene_choice:position", "scene_choice:voice", "scene_choice:name", "scene_choice:text",
        "scene_choice:keywait", "scene_choice:voice_stop", "scene_choice:playse", "scene_choice:stopse",
        "scene_choice:stopbgm", "scene_choice:openvideo", "scene_choice:playbgm", "scene_choice:menuadd",
        "scene_choice:menuadd", "scene_choice:menuadd", "scene_choice:menustart", "scene_choice:label",
        "scene_choice:winframe", "scene_choice:name", "scene_choice:text", "scene_choice:keywait",
        "scene_choice:text", "scene_choice:keywait", "scene_choice:name", "scene_choice:text", "scene_choice:keywait",
        "scene_choice:jump", "scene_choice:label",
        "scene_choice:winframe", "scene_choice:layopt", "scene_choice:wait",
        "scene_choice:click", "scene_choice:wait", "scene_choice:label", "scene_choice:winframe", "scene_choice:click",
        "scene_choice:trophy", "scene_choice:analyze_00", "scene_choice:windowex", "scene_choice:setautowin",
        "scene_choice:effect", "scene_choice:gradater", "scene_choice:gosub", "scene_choice:input",
        "scene_choice:stopbgm", "scene_choice:return", "00_init:call", "unlock:label", "unlock:winframe", "unlock:eval",
        "00_init:call", "pict:label", "pict:winframe", "pict:image", "pict:image", "pict:trans", "pict:wt", "pict:name",
        "pict:text", "pict:keywait", "pict:image", "pict:image", "pict:name", "pict:text", "pict:keywait",
        "pict:move", "pict:backlay", "pict:wm", "pict:freeimage", "pict:freeimage", "pict:image", "pict:trans",
        "pict:wt", "pict:name", "pict:text", "pict:keywait", "pict:image", "pict:text", "pict:keywait",
        "pict:return", "00_init:call", "story:label", "story:winframe", "story:autosaverange", "story:playbgm", "story:image",
        "story:image", "story:image", "story:image", "story:trans", "story:wt", "story:name", "story:text",
        "story:keywait", "story:name", "story:voice", "story:text", "story:keywait", "story:name", "story:voice",
        "story:text", "story:keywait", "story:voice_wait", "story:name", "story:text", "story:keywait",
        "story:if", "story:else", "story:name", "story:voice", "story:text", "story:keywait", "story:endif",
        "story:move", "story:playse", "story:name", "story:text", "story:keywait", "story:wm", "story:playse",
        "story:quake", "story:wq", "story:name", "story:text", "story:keywait", "story:freeimage", "story:image",
        "story:image", "story:trans", "story:wt", "story:stopse", "story:name", "story:voice", "story:text",
        "story:keywait", "story:name", "story:voice", "story:text", "story:keywait", "story:name", "story:text",
        "story:keywait", "story:cancelskipping", "story:menuadd", "story:menuadd", "story:menustart",
        "route_books:label", "route_books:winframe", "route_books:playbgm", "route_books:freeimage", "route_books:image",
        "route_books:image", "route_books:trans", "route_books:wt", "route_books:name", "route_books:voice",
        "route_books:text", "route_books:keywait", "route_books:name", "route_books:text", "route_books:keywait",
        "route_books:move", "route_books:name", "route_books:text", "route_books:keywait", "route_books:wm",
        "route_books:name", "route_books:text", "route_books:keywait", "route_books:cm", "route_books:freeimage",
        "route_books:image", "route_books:name", "route_books:text", "route_books:keywait",
        "route_books:playbgm", "route_books:image", "route_books:name", "route_books:voice", "route_books:text",
        "route_books:keywait", "route_books:name", "route_books:text", "route_books:keywait", "route_books:eval",
        "route_books:call", "ending:label", "ending:winframe", "ending:playse", "ending:if", "ending:else", "ending:name",
        "ending:text", "ending:keywait", "ending:endif", "ending:layopt", "ending:staffroll_set",
        "ending:staffroll_start", "ending:staffroll_wait", "ending:staffroll_end", "ending:soundstopall",
        "ending:stopbgm", "ending:return", "route_books:return", "00_init:eval", "00_init:returnmenu"};
    EXPECT_EQ(names, want) << err;
    EXPECT_NE(err.find("name(10) NAME_1\n"), std::string::npos) << err;
    EXPECT_NE(err.find("playbgm(101) Quillmere, true, 80\n"), std::string::npos) << err;
    EXPECT_NE(err.find("quake(40) 500, 12\n"), std::string::npos) << err;
    EXPECT_NE(err.find("move(35) base, fore, 400, 0, -20\n"), std::string::npos) << err;
    // The shake ran its course: no quake left in the stage record.
    EXPECT_EQ(GameStateBlock.stage.quakeTask[0], -1);
    EXPECT_EQ(GameStateBlock.stage.quakeTask[1], -1);
    // The records' ending (the story's second choice, [2004] 2) unlocked its
    // own extras and none of the hill's: special scenario 4, the two event
    // pictures it showed, the two tracks it played.
    EXPECT_EQ(GameStateBlock.gameVars[4], 2);
    EXPECT_EQ(SystemDataBlock.systemVars[3], 1);
    EXPECT_EQ(SystemDataBlock.systemVars[1], 0);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2108, 0), 1);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2109, 0), 1);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2013, 0), 0);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2015, 0), 0);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/追憶.oggl", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/夜想曲.oggl", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/約束の空.oggl", -1, 0), 0);
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/セファのテーマ.oggl", -1, 0), 0);
}
}  // namespace
