#include "script/script_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "story/story_window.h"
#include "tests/script/stage_env.h"

namespace {

using Names_ = std::vector<std::string>;

// How often part occurs in text.
int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class ScriptReport : public StageEnv {};

TEST_F(ScriptReport, AMissingJumpOrCallTargetIsToldOnceAndARestartIntoItWithoutAWaitEnds) {
    struct Case {
        const char* what;
        const char* script;
        const char* line;
        bool ends;
    } cases[] = {
        {"a jump to a misspelt label, a wait in the loop", "*top\n<label>\n<wait 50>\n<jump story,*misspelt>\n",
         "vn: script story.txt:4: <jump story,*misspelt>: story.txt has no label *misspelt; it runs from its top\n",
         false},
        {"a call of a missing file, a wait in the loop", "*top\n<label>\n<wait 50>\n<call nowhere>\n",
         "vn: script story.txt:4: <call nowhere>: no script nowhere.txt; story.txt goes on from its top\n", false},
        {"a jump to a missing file as the first tag", "<jump missing,*x>\n<wait 50>\n",
         "vn: script story.txt:1: <jump missing,*x>: no script missing.txt; story.txt goes on from its top\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        ASSERT_TRUE(Scripts({{"story.txt", c.script}, {"other.txt", "<wait>\n"}}));
        testing::internal::CaptureStderr();
        Start("story.txt");
        Frame(30);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Count(err, c.line), 1) << err;
        const int loops = int(std::count_if(executed.begin(), executed.end(),
                                            [](const Executed& e) { return e.index == 111 || e.index == 114; }));
        if (c.ends) {
            // Back at the same failing tag without a wait: a loop, ended with one line.
            EXPECT_EQ(loops, 2);
            EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
            EXPECT_EQ(Count(err, "story.txt:1: <jump missing,*x>: no script missing.txt; story.txt goes on from its "
                                 "top, again without a wait between: the script ends\n"),
                      1)
                << err;
            EXPECT_EQ(Count(err, "vn: "), 2) << err;
        } else {
            // The engine's rule holds: the file runs again from its top.
            EXPECT_GE(loops, 3);
            EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
            EXPECT_EQ(Count(err, "vn: "), 1) << err;
        }
    }
}

TEST_F(ScriptReport, AStoryWhoseFirstFileThePackLacksIsToldInOneLine) {
    ASSERT_TRUE(Scripts({{"story.txt", "<wait>\n"}}));
    testing::internal::CaptureStderr();
    Start("00_init.txt");
    Frame(5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vn: no script 00_init.txt in script/script.arc; the story cannot start\n");
    EXPECT_TRUE(executed.empty());
}

TEST_F(ScriptReport, AnUnknownCommandIsToldOnceAndTracedAsUnknownAndInPlaceTextIsTracedWhole) {
    ASSERT_TRUE(Scripts({{"story.txt", "*top\n<label>\n; music\n<playbmg bgm01,loop>\n<text Storms come, storms go.>\n"
                                       "<wait 50>\n<jump story,*top>\n"}}));
    ::setenv("VN_SCRIPT_TRACE", "1", 1);
    GSL_ScriptTraceFromEnv();
    ::unsetenv("VN_SCRIPT_TRACE");
    testing::internal::CaptureStderr();
    Start("story.txt");
    Frame(20);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, "vn: script story.txt:4: <playbmg bgm01,loop>: unknown command; the tag is passed over\n"), 1)
        << err;
    EXPECT_GE(Count(err, "playbmg(unknown) bgm01, loop\n"), 2) << err;
    EXPECT_GE(Count(err, "text(11) Storms come storms go.\n"), 2) << err;
    EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
}

// Twenty problems in one moment: eight lines that second, then a line that
// counts the rest; each left-out place is told when it runs again in a later
// second, within the same eight a second.
TEST_F(ScriptReport, AtMostEightProblemsAreToldASecondAndTheRestAreCounted) {
    std::string script = "*top\n<label>\n";
    for (int i = 0; i < 20; ++i) script += "<playbmg" + std::to_string(100 + i) + ">\n";
    script += "<wait 1200>\n<jump story,*top>\n";
    ASSERT_TRUE(Scripts({{"story.txt", script}}));
    testing::internal::CaptureStderr();
    Start("story.txt");
    Frame(30);  // half a second
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, "vn: script story.txt:"), 8) << err;
    EXPECT_EQ(Count(err, "vn: "), 8) << err;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Count(err, "<playbmg" + std::to_string(100 + i) + ">: unknown command"), 1) << i << err;
    testing::internal::CaptureStderr();
    Frame(90);  // the loop's second pass
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, "vn: 12 more script problems in a second were not told\n"), 1) << err;
    EXPECT_EQ(Count(err, "vn: script story.txt:"), 8) << err;
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(Count(err, "<playbmg" + std::to_string(100 + i) + ">: unknown command"), 1) << i << err;
    testing::internal::CaptureStderr();
    Frame(90);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, "vn: 4 more script problems in a second were not told\n"), 1) << err;
    EXPECT_EQ(Count(err, "vn: script story.txt:"), 4) << err;
}

TEST_F(ScriptReport, AResourceThatCannotBeLoadedIsToldWithItsNameAndPath) {
    cacheHeapMiB = 160;  // room for a picture load
    TearDown();
    SetUp();
    ASSERT_TRUE(Files({Tool("sound_data.py", "sound/se/tone.ogg", "ogg {} --rate 22050 --frames 2205 --tone 441")}));
    ASSERT_TRUE(Scripts({{"s.txt", "<playse 0,tone>\n<playse 1,Se_Missing>\n<voice 0,v_missing>\n"
                                   "<image base,back,bg_lighthous>\n<trans rule_missing,100>\n"
                                   "<openvideo mv_missing>\n<playbgm bgm_missing>\n"}}));
    testing::internal::CaptureStderr();
    Start("s.txt");
    for (int i = 0; i < 60; ++i) Frame(), Lib_MovieUpdate();  // the harness runs no movie thread
    const std::string err = testing::internal::GetCapturedStderr();
    for (const char* line : {
             "s.txt:2: <playse 1,Se_Missing>: sound Se_Missing cannot be loaded: no file sound/se/se_missing.ogg\n",
             "s.txt:3: <voice 0,v_missing>: voice v_missing cannot be loaded: no file sound/voice/v_missing.ogg\n",
             "s.txt:4: <image base,back,bg_lighthous>: picture bg_lighthous cannot be loaded: no file "
             "visual/adv/bg_lighthous.ext\n",
             "s.txt:5: <trans rule_missing,100>: wipe rule rule_missing cannot be loaded: no file "
             "visual/wipe/rule_missing.ext\n",
             "s.txt:6: <openvideo mv_missing>: movie mv_missing cannot be loaded: no file movie/mv_missing.avi\n",
             "s.txt:7: <playbgm bgm_missing>: music bgm_missing cannot be loaded: no file sound/bgm/bgm_missing.oggl\n",
         })
        EXPECT_EQ(Count(err, std::string("vn: script ") + line), 1) << line << err;
    EXPECT_EQ(Count(err, "tone"), 0) << err;
    EXPECT_EQ(Names(), (Names_{"playse", "playse", "voice", "image", "trans", "openvideo", "playbgm"}));
}

// A missing picture is the author's news when its tag runs for itself, not
// when a restore runs the script up to a saved line: a player who loads a
// game in a fresh start is told nothing about the tags behind that line.
TEST_F(ScriptReport, AMissingPictureIsNotToldWhileASavedLineIsRestored) {
    cacheHeapMiB = 160;  // room for a picture load
    TearDown();
    SetUp();
    ASSERT_TRUE(Scripts({{"s.txt", "*top\n<label>\n<image base,back,bg_gone>\n<text x>\n<keywait 0>\n"}}));
    const char* told = "s.txt:3: <image base,back,bg_gone>: picture bg_gone cannot be loaded";
    auto toTheLine = [this] {
        for (int i = 0; i < 200 && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) Frame();
        return (Work()->script.status & SCRIPT_PLAYER_WAIT) != 0;
    };
    testing::internal::CaptureStderr();
    Start("s.txt");
    const bool waited = toTheLine();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(waited);
    EXPECT_EQ(Count(err, told), 1) << err;
    GSL_ScriptReportReset();  // a fresh start of the program: nothing told yet
    testing::internal::CaptureStderr();
    executed.clear();
    RestoreAt(-1);
    const bool restored = toTheLine();
    err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(restored);
    const Names_ ran = Names();
    EXPECT_NE(std::find(ran.begin(), ran.end(), "image"), ran.end()) << "the restore runs the tag";
    EXPECT_EQ(Count(err, "cannot be loaded"), 0) << err;
}

// A save holds its script positions by member number. Loaded with the same
// files it plays on as saved, telling nothing; loaded after a file was added
// in front (the members renumbered), it is told once and still returns from
// the saved file to its caller and on into the next scene.
TEST_F(ScriptReport, ASaveFromAnEarlierSetOfScriptFilesIsToldAndGoesOnByName) {
    const Sources saved = {{"00_init.txt", "<jump story>\n"},
                           {"story.txt", "*top\n<label>\n<call scene1>\n<call scene2>\n"},
                           {"scene1.txt", "*scene1\n<label>\n<text one>\n<keywait 0>\n<text two>\n<keywait 1>\n"
                                          "<return>\n"},
                           {"scene2.txt", "*scene2\n<label>\n<text three>\n<keywait 2>\n"}};
    auto waitOrEnd = [this] {
        for (int i = 0; i < 200 && Alive() && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) Frame();
        return Alive() && (Work()->script.status & SCRIPT_PLAYER_WAIT);
    };
    drawTexts = true;
    ASSERT_TRUE(Scripts(saved));
    Start("00_init.txt");
    ASSERT_TRUE(waitOrEnd());
    ASSERT_TRUE(GSL_StoryRestoreHistory(-1, nullptr));  // what a save holds
    const auto save = std::make_unique<GameState>(GameStateBlock);
    const std::string told = "vn: script scene1.txt:2: the save at *scene1 was made with other script files; it goes "
                             "on there, found by name";
    const Names_ on = {"scene1.txt one", "scene1.txt two", "scene2.txt three"};
    struct Case {
        const char* added;   // sorting in front of scene1.txt, of every file, or of its caller only
        const char* edited;  // a file with a line added at its top
        std::string err;
        Names_ texts;
    } cases[] = {
        {nullptr, nullptr, "", on},
        {"a_scene.txt", nullptr, told + "\n", on},
        {"00_a.txt", nullptr, told + "\n", on},
        {"scene9.txt", nullptr, told + "\n", on},
        {"00_a.txt", "story.txt", told + ", but the file it returns to is not found, so its return ends the story\n",
         {"scene1.txt one", "scene1.txt two"}},
        {nullptr, "scene1.txt",
         "vn: script scene1.txt:2: the save near *scene1 was made with other script files and scene1.txt has changed "
         "since; it goes on from the saved offset 30, which may not be where it was\n",
         on},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.added ? c.added : "the same files") + (c.edited ? c.edited : ""));
        Finish();
        Frame();
        Sources files = saved;
        if (c.added) files.push_back({c.added, "*added\n<label>\n<text added>\n<keywait 9>\n"});
        for (auto& [name, text] : files)
            if (c.edited && name == c.edited) text = "; changed\n" + text;
        ASSERT_TRUE(Scripts(files));
        GSL_ScriptReportReset();
        GameStateBlock = *save;
        executed.clear();
        testing::internal::CaptureStderr();
        Start(save->scriptName, save->startOffset, save->restartOffset);
        std::vector<std::string> texts;
        for (int k = 0; k < 20 && waitOrEnd(); ++k) {
            for (const Executed& e : executed)
                if (e.index == 11 && !(e.status & SCRIPT_REPLAY_RUN)) texts.push_back(e.file + " " + e.args[0]);
            executed.clear();
            InputButtons.pressed = BUTTON_DECIDE;
            Frame();
            InputButtons.pressed = 0;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(texts, c.texts);
    }
}

}  // namespace
