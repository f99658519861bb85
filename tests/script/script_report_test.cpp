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
#include "script/vars.h"
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

// The script coming back to one place again and again with nothing changed
// and no wait between can only go round for ever: one line names the tag
// and the place, and the script ends. A loop that waits, one that counts
// its way out and one that draws until a number comes all play on.
uint32_t g_draw = 0;
uint32_t DrawsSevenAtTheTenth(uint32_t, uint32_t) { return ++g_draw >= 10 ? 7 : 3; }

TEST_F(ScriptReport, AScriptThatComesBackToTheSamePlaceWithNothingChangedIsToldOnceAndEnds) {
    const std::string returnToOwnCall = "*scene1_top\n<label>\n<wait 50>\n<call scene1,*aside>\n<return>\n"
                                        "*aside\n<label>\n<wait 50>\n<return>\n";
    struct Case {
        const char* what;
        std::string scene1;
        std::string story;
        const char* line;  // null: the script plays on
    } cases[] = {
        {"a return that comes back behind its own file's call", returnToOwnCall, "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:4: <return> at scene1.txt:5 comes back here again and again with nothing changed "
         "and no wait between: the script ends\n"},
        {"a counted call of its own file, guarded",
         "*scene1_top\n<label>\n<eval \"[2010]+=1\">\n<wait 50>\n<if \"[2010]<3\">\n<call scene1>\n<endif>\n"
         "<return>\n",
         "<eval \"[2010]=0\">\n<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:6: <return> at scene1.txt:8 comes back here again and again with nothing changed "
         "and no wait between: the script ends\n"},
        {"the same with a label passed on the way (the history fills, then nothing changes)",
         "*scene1_top\n<label>\n<wait 50>\n<call scene1,*aside>\n*again\n<label>\n<return>\n"
         "*aside\n<label>\n<wait 50>\n<return>\n",
         "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:4: <return> at scene1.txt:7 comes back here again and again with nothing changed "
         "and no wait between: the script ends\n"},
        {"the end of a file that comes back to its own call",
         "*scene1_top\n<label>\n<jump scene1,*go>\n*aside\n<label>\n<wait 50>\n<return>\n*go\n<label>\n"
         "<wait 50>\n<call scene1,*aside>\n",
         "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:11: the end of scene1.txt comes back here again and again with nothing changed "
         "and no wait between: the script ends\n"},
        {"a return to its own call with a wait on the way",
         "*scene1_top\n<label>\n<call scene1,*aside>\n<wait 50>\n<return>\n*aside\n<label>\n<return>\n",
         "<call scene1>\n<wait 50>\n", nullptr},
        {"two counters, one inside the other, counted out without a wait",
         "<wait 50>\n",
         "<eval \"[2010]=0\">\n*outer\n<label>\n<eval \"[2011]=0\">\n*inner\n<eval \"[2011]+=1\">\n"
         "<jump story,*inner,\"[2011]<100\">\n<eval \"[2010]+=1\">\n<jump story,*outer,\"[2010]<10\">\n"
         "*wait\n<wait 50>\n<jump story,*wait>\n",
         nullptr},
        {"a draw repeated until a number comes, without a wait",
         "<wait 50>\n",
         "*roll\n<eval \"[2010]=rand(0,9)\">\n<jump story,*roll,\"[2010]!=7\">\n*wait\n<wait 50>\n<jump story,*wait>\n",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        ASSERT_TRUE(Scripts({{"story.txt", c.story}, {"scene1.txt", c.scene1}}));
        g_draw = 0;
        GSL_ScriptRandomSet(DrawsSevenAtTheTenth);
        testing::internal::CaptureStderr();
        Start("story.txt");
        Frame(60);
        const std::string err = testing::internal::GetCapturedStderr();
        GSL_ScriptRandomSet(nullptr);
        const int waits = int(std::count_if(executed.begin(), executed.end(),
                                            [](const Executed& e) { return e.index == 132; }));
        if (c.line) {
            EXPECT_EQ(Count(err, c.line), 1) << err;
            EXPECT_EQ(Count(err, "vn: "), 1) << err;
            EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
        } else {
            EXPECT_EQ(Count(err, "vn: "), 0) << err;
            EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
            EXPECT_GE(waits, 3);
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
