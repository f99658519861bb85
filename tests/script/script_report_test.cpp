#include "script/script_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "script/flow.h"
#include "script/saved_position.h"
#include "story/story_window.h"
#include "script/script_host.h"
#include "script/syntax.h"
#include "script/vars.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/script/stage_env.h"
#include "tests/ui/stderr_lines.h"

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
    // Skipping, the wait is over in its first call, and is a wait still.
    for (const Case& c : cases) {
        for (const bool skip : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (skip ? ", skipping" : ""));
            TearDown();
            SetUp();
            ASSERT_TRUE(Scripts({{"story.txt", c.script}, {"other.txt", "<wait>\n"}}));
            StoryPlayMode = skip ? uint32_t(PLAY_SKIP) : 0u;
            SystemDataBlock.skipAll = skip;
            testing::internal::CaptureStderr();
            Start("story.txt");
            Frame(skip ? 2 : 30);
            StoryPlayMode = 0;
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(Count(err, c.line), 1) << err;
            const int loops = int(std::count_if(executed.begin(), executed.end(),
                                                [](const Executed& e) { return e.index == 111 || e.index == 114; }));
            if (c.ends) {
                // Back at the same failing tag without a wait: a loop, ended with one line.
                EXPECT_EQ(loops, 2);
                EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
                EXPECT_EQ(Count(err, "story.txt:1: <jump missing,*x>: no script missing.txt; story.txt goes on from "
                                     "its top, again without a wait between: the script ends\n"),
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
        const char* also = nullptr;  // a line told before it
    } cases[] = {
        {"a return that comes back behind its own file's call", returnToOwnCall, "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:4: <return> at scene1.txt:5 comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"a counted call of its own file, guarded",
         "*scene1_top\n<label>\n<eval \"[2010]+=1\">\n<wait 50>\n<if \"[2010]<3\">\n<call scene1>\n<endif>\n"
         "<return>\n",
         "<eval \"[2010]=0\">\n<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:6: <return> at scene1.txt:8 comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"the same with a label passed on the way (the history fills, then nothing changes)",
         "*scene1_top\n<label>\n<wait 50>\n<call scene1,*aside>\n*again\n<label>\n<return>\n"
         "*aside\n<label>\n<wait 50>\n<return>\n",
         "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:4: <return> at scene1.txt:7 comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"the end of a file that comes back to its own call",
         "*scene1_top\n<label>\n<jump scene1,*go>\n*aside\n<label>\n<wait 50>\n<return>\n*go\n<label>\n"
         "<wait 50>\n<call scene1,*aside>\n",
         "<call scene1>\n<wait 50>\n",
         "vn: script scene1.txt:11: the end of scene1.txt comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"a return to its own call with a wait on the way",
         "*scene1_top\n<label>\n<call scene1,*aside>\n<wait 50>\n<return>\n*aside\n<label>\n<return>\n",
         "<call scene1>\n<wait 50>\n", nullptr},
        {"two counters, one inside the other, counted out without a wait",
         "<wait 50>\n",
         "<eval \"[2010]=0\">\n*outer\n<label>\n<eval \"[2011]=0\">\n*inner\n<eval \"[2011]+=1\">\n"
         "<jump story,*inner,\"[2011]<100\">\n<eval \"[2010]+=1\">\n<jump story,*outer,\"[2010]<10\">\n"
         "*wait\n<wait 50>\n<jump story,*wait>\n",
         nullptr},
        {"a loop through two places, each a jump into the other file",
         "*b\n<jump story,*a>\n",
         "<wait 50>\n*a\n<jump scene1,*b>\n",
         "vn: script story.txt:2: <jump story,*a> at scene1.txt:2 comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"a loop through three places: two jumps into the other file and one back in it",
         "*c\n<jump story,*a>\n*b\n<jump scene1,*c>\n",
         "<wait 50>\n*a\n<jump scene1,*b>\n",
         "vn: script scene1.txt:3: <jump scene1,*b> at story.txt:3 comes back here again and again with nothing "
         "changed and no tag between that waits or reads the player's input or the clock: the script ends\n"},
        {"a loop through a tag the command table lacks, which waits for nothing",
         "<wait 50>\n",
         "<wait 50>\n*a\n<nosuch 1>\n<jump story,*a>\n",
         "vn: script story.txt:2: <jump story,*a> at story.txt:4 comes back here again and again with nothing changed "
         "and no tag between that waits or reads the player's input or the clock: the script ends\n",
         "vn: script story.txt:3: <nosuch 1>: unknown command; the tag is passed over\n"},
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
            EXPECT_EQ(Count(err, "vn: "), c.also ? 2 : 1) << err;
            if (c.also) {
                EXPECT_EQ(err.find(c.also), 0u) << err;
            }
            EXPECT_EQ(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
        } else {
            EXPECT_EQ(Count(err, "vn: "), 0) << err;
            EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
            EXPECT_GE(waits, 3);
        }
    }
}

// The rounds of a loop (its jumps) and whether trophy 7 ran, counted by the
// trace hook in place of the harness's record: a skipped loop goes round
// thousands of times a frame.
int g_rounds = 0;
bool g_stopped = false;
void CountRounds(const char*, uint32_t, int32_t index, const CommandContext* ctx) {
    g_rounds += index == 114;
    char word[8];
    if (index == 130 && GSL_ScriptArgWord(ctx, 0, word, sizeof word) && std::strcmp(word, "7") == 0) g_stopped = true;
}

// A loop that waits, or would wait but for skip or auto, goes round on in
// every play mode: in skip mode its waits are over in their first call, yet
// the player's click still leaves it. Each loop holds a scene3.txt page
// (called by story.txt; loop i's are scene3_i.txt and story_i.txt, all in
// one container, packed once) with a label passed on every round, so the
// label history fills and nothing the variables hold changes; the click-out loop
// is left at *staffroll_stop by a click. A restored line inside the held
// page replays into the loop and goes on round it as well.
TEST_F(ScriptReport, ALoopThatWaitsPlaysOnInEveryPlayModeAndAClickLeavesTheClickOutLoop) {
    struct Loop {
        const char* what;
        const char* hold;
        uint32_t roundsIn;  // the modes (bits of PLAY_AUTO, 2 for normal play) it goes round in unskipped
    } loops[] = {
        {"a timed wait", "*hold\n<label>\n<wait time:1000>\n<jump scene3,*hold>\n", 2 | PLAY_AUTO},
        {"a line held for a key", "<text The page holds.>\n*hold\n<label>\n<keywait 0>\n<jump scene3,*hold>\n",
         PLAY_AUTO},
        {"an effect waited for, then a wait",
         "*hold\n<label>\n<playse 0,tone>\n<ws 0>\n<wait time:1000>\n<jump scene3,*hold>\n", 2 | PLAY_AUTO},
        {"the click-out loop", "<click 0>\n*hold\n<label>\n<wait time:1000>\n<jump scene3,*hold>\n", 2 | PLAY_AUTO},
        {"a looping effect held until skipped", "<playse 0,tone,true>\n*hold\n<label>\n<ws 0>\n<jump scene3,*hold>\n",
         0},
    };
    struct Mode {
        const char* what;
        uint32_t play;
        bool readAhead;  // the lines ahead already read
        uint8_t skipAll;
    } modes[] = {
        {"normal play", 0, false, 0},
        {"skip, the lines ahead read", PLAY_SKIP, true, 0},
        {"skip with the option that skips every line", PLAY_SKIP, false, 1},
        {"auto", PLAY_AUTO, false, 0},
    };
    const std::string after = "*staffroll_stop\n<label>\n<click 1>\n<trophy 7>\n<text The end.>\n<keywait 1>\n"
                              "<return>\n";
    const char* line = "comes back here again and again";
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) {
            Frame();
            sound_test::FakeAudio::Advance(SoundChannelTable[3].voice, 1 << 20);  // the effect plays out
        }
    };
    auto click = [&] {
        InputButtons.pressed = BUTTON_DECIDE;
        frames(1);
        InputButtons.pressed = 0;
    };
    StageEnv::Sources sources;
    for (size_t i = 0; i < std::size(loops); ++i) {
        const std::string scene = "scene3_" + std::to_string(i);
        std::string hold = loops[i].hold;
        for (size_t at; (at = hold.find("scene3,")) != std::string::npos;) hold.replace(at, 6, scene);
        sources.push_back({"story_" + std::to_string(i) + ".txt", "<call " + scene + ">\n<trophy 9>\n<wait>\n"});
        sources.push_back({scene + ".txt", hold + after});
    }
    // Frames until the loop has gone round `want` times or the script has
    // ended; an effect is loaded by the sound worker, in its own time. A loop
    // held with no round to come is watched for 133 frames. Skipping, a frame
    // runs the script up to its tag limit: no frame more than needed.
    auto roundsUpTo = [&](int want) {
        if (!want) return frames(133);
        WorkerUntil([&] { return g_rounds >= want || GSL_ScriptStatusGet(slot) == int32_t(SCRIPT_ENDED); },
                    [&] { frames(1); }, "the loop's rounds");
    };
    for (size_t i = 0; i < std::size(loops); ++i) {
        const Loop& l = loops[i];
        for (const Mode& m : modes) {
            SCOPED_TRACE(std::string(l.what) + ", " + m.what);
            TearDown();
            SetUp();
            if (std::strstr(l.hold, "<playse")) {
                const char* tone = "ogg {} --rate 22050 --frames 2205 --tone 441";
                ASSERT_TRUE(Files({Tool("sound_data.py", "sound/se/tone.ogg", tone)}));
            }
            ASSERT_TRUE(Scripts(sources));
            StoryPlayMode = m.play;
            SystemDataBlock.skipAll = m.skipAll;
            SystemDataBlock.autoSpeed = 100;
            SystemDataBlock.textSpeed = 100;
            if (m.readAhead) std::memset(SystemDataBlock.readText, 0xFF, sizeof SystemDataBlock.readText);
            drawTexts = true;
            LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;  // the window's sheet
            GSL_ScriptTraceSet(CountRounds);
            g_rounds = 0;
            g_stopped = false;
            const int want = m.play == PLAY_SKIP ? 1000 : l.roundsIn & (m.play ? m.play : 2) ? 2 : 0;
            testing::internal::CaptureStderr();
            Start(("story_" + std::to_string(i) + ".txt").c_str());
            roundsUpTo(want);
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(Count(err, line), 0) << err;
            EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
            EXPECT_GE(g_rounds, want);
            EXPECT_FALSE(g_stopped);
            if (l.hold == loops[3].hold) {
                testing::internal::CaptureStderr();
                click();
                frames(3);
                err = testing::internal::GetCapturedStderr();
                EXPECT_TRUE(g_stopped);
                EXPECT_EQ(Count(err, line), 0) << err;
            } else if (l.hold == loops[1].hold && m.play == PLAY_SKIP) {
                // A restore of the last line read replays into the loop.
                testing::internal::CaptureStderr();
                ASSERT_GE(RestoreAt(-1), 0);
                g_rounds = 0;
                roundsUpTo(1000);
                err = testing::internal::GetCapturedStderr();
                EXPECT_EQ(Count(err, line), 0) << err;
                EXPECT_NE(GSL_ScriptStatusGet(slot), int32_t(SCRIPT_ENDED));
                EXPECT_GE(g_rounds, 1000);
            }
            StoryPlayMode = 0;
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

// A save made with one set of script files and loaded with another: the
// story plays to a player wait, the save is what the history restore leaves
// there, and each load is played on with confirms, collecting the lines
// shown (file and text) and what stderr was told.
class SavedScripts : public ScriptReport {
protected:
    void SetUp() override {
        ScriptReport::SetUp();
        drawTexts = true;
        fresh_ = std::make_unique<GameState>(GameStateBlock);
    }
    std::unique_ptr<GameState> fresh_;  // the histories of no story
    bool WaitOrEnd() {
        for (int i = 0; i < 200 && Alive() && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) Frame();
        return Alive() && (Work()->script.status & SCRIPT_PLAYER_WAIT);
    }
    // Plays files from 00_init.txt to its waits-th player wait (from 1) and
    // saves there.
    std::unique_ptr<GameState> SaveAt(const Sources& files, int waits) {
        Finish();
        Frame();
        if (!Scripts(files)) return nullptr;
        GameStateBlock = *fresh_;
        Start("00_init.txt");
        for (int k = 1; k < waits && WaitOrEnd(); ++k) {
            // Confirms (the first may only show the whole line) until the
            // next line is read.
            const uint32_t lines = GameStateBlock.readLineCount;
            for (int i = 0; i < 200 && Alive() && GameStateBlock.readLineCount == lines; ++i) {
                InputButtons.pressed = i % 2 ? 0u : uint32_t(BUTTON_DECIDE);
                Frame();
            }
            InputButtons.pressed = 0;
        }
        if (!WaitOrEnd() || !GSL_StoryRestoreHistory(-1, nullptr)) return nullptr;
        auto save = std::make_unique<GameState>(GameStateBlock);
        const uint8_t* record = nullptr;
        const uint32_t size = GSL_SavedScriptsMake(*save, &record);
        records_[save.get()].assign(record, record + size);
        return save;
    }
    std::map<const GameState*, std::vector<uint8_t>> records_;  // what each save was made with
    struct Loaded {
        std::string err;
        Names_ texts;
        int asked = 0;  // members asked for by number that the container does not have
    };
    static inline int unknownMembers_ = 0;
    static void CountUnknown(const char* line) {
        if (std::strstr(line, "Lib_ArcGetData(index")) ++unknownMembers_;
    }
    Loaded Load(const GameState& save, const Sources& files, bool recorded = true,
                const GameState* recordOf = nullptr) {
        Finish();
        Frame();
        Loaded out;
        if (!Scripts(files)) return {"the scripts do not pack", {}};
        GSL_ScriptReportReset();
        GameStateBlock = save;
        const std::vector<uint8_t>& record = records_[recordOf ? recordOf : &save];
        GSL_SavedScriptsLoaded(recorded ? record.data() : nullptr, recorded ? uint32_t(record.size()) : 0);
        executed.clear();
        unknownMembers_ = 0;
        Lib_DebugSetSink(CountUnknown);
        testing::internal::CaptureStderr();
        Start(save.scriptName, save.startOffset, save.restartOffset);
        for (int k = 0; k < 20 && WaitOrEnd(); ++k) {
            for (const Executed& e : executed)
                if (e.index == 11 && !(e.status & SCRIPT_REPLAY_RUN)) out.texts.push_back(e.file + " " + e.args[0]);
            executed.clear();
            InputButtons.pressed = BUTTON_DECIDE;
            Frame();
            InputButtons.pressed = 0;
        }
        out.err = testing::internal::GetCapturedStderr();
        Lib_DebugSetSink(nullptr);
        out.asked = unknownMembers_;
        return out;
    }
    // files with text put in front of the first occurrence of at in member name.
    static Sources Insert(Sources files, const std::string& name, const std::string& at, const std::string& text) {
        for (auto& [n, t] : files)
            if (n == name) t.insert(t.find(at), text);
        return files;
    }
};

// A save holds its script positions by member number. Loaded with the same
// files it plays on as saved, telling nothing; loaded after a file was added
// in front (the members renumbered), it is told once and still returns from
// the saved file to its caller and on into the next scene.
TEST_F(SavedScripts, ASaveFromAnEarlierSetOfScriptFilesIsToldAndGoesOnByName) {
    const Sources saved = {{"00_init.txt", "<jump story>\n"},
                           {"story.txt", "*top\n<label>\n<call scene1>\n<call scene2>\n"},
                           {"scene1.txt", "*scene1\n<label>\n<text one>\n<keywait 0>\n<text two>\n<keywait 1>\n"
                                          "<return>\n"},
                           {"scene2.txt", "*scene2\n<label>\n<text three>\n<keywait 2>\n"}};
    const auto save = SaveAt(saved, 1);
    ASSERT_TRUE(save);
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
        // The caller renumbered and changed: found by its one call of scene1.txt.
        {"00_a.txt", "story.txt", told + "\n", on},
        // The saved file changed above its label: the label found by name, the
        // same lines behind it.
        {nullptr, "scene1.txt",
         "vn: script scene1.txt:3: the save at *scene1 was made with other script files; it goes on there, found by "
         "name\n",
         on},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.added ? c.added : "the same files") + (c.edited ? c.edited : ""));
        Sources files = saved;
        if (c.added) files.push_back({c.added, "*added\n<label>\n<text added>\n<keywait 9>\n"});
        for (auto& [name, text] : files)
            if (c.edited && name == c.edited) text = "; changed\n" + text;
        const Loaded loaded = Load(*save, files);
        EXPECT_EQ(loaded.err, c.err);
        EXPECT_EQ(loaded.texts, c.texts);
    }
    // Without the record (none, or another save's): the save goes on where
    // it places itself, returns and all, told.
    const std::string none = "vn: script scene1.txt:2: the save at *scene1 has no record of its script files; it "
                             "goes on where the save places it\n";
    const Loaded old = Load(*save, saved, false);
    EXPECT_EQ(old.err, none);
    EXPECT_EQ(old.texts, on);
    const auto later = SaveAt(saved, 2);
    ASSERT_TRUE(later);
    const Loaded other = Load(*later, saved, true, save.get());
    EXPECT_EQ(other.err, none);
    EXPECT_EQ(other.texts, on);
    // The saved file renamed: the story cannot start, and says so.
    Sources renamed = saved;
    renamed[1].second = "*top\n<label>\n<call scene_one>\n<call scene2>\n";
    renamed[2].first = "scene_one.txt";
    const Loaded loaded = Load(*save, renamed);
    EXPECT_EQ(loaded.err, "vn: no script scene1.txt in script/script.arc; the story cannot start\n");
    EXPECT_EQ(loaded.texts, Names_{});
}

// Each return of the history is found by what it is, the end of the one
// <call> of the file it comes from in the file it goes to, however an edit
// moved it: at the saved file's caller and two files up. A return that
// cannot be placed is told in the one line, and the story ends there.
// The saved file itself is checked at its label and its restored line, and
// placed again over many loads in one run; a save without its record is
// taken only where its files show it.
TEST_F(SavedScripts, AReturnIsFoundByItsCallAtEveryDepthOrToldWhenItCannotBe) {
    const Sources saved = {
        {"00_init.txt", "*top0\n<label>\n<call mid>\n<call lst>\n"},
        {"mid.txt", "*mid\n<label>\n<call inner>\n<text mid>\n<keywait 5>\n"},
        {"inner.txt", "*inner\n<label>\n<text one>\n<keywait 1>\n<text two>\n<keywait 2>\n"},
        {"lst.txt", "*lst\n<label>\n<text lst>\n<keywait 9>\n"}};
    const auto save = SaveAt(saved, 1);
    ASSERT_TRUE(save);
    ASSERT_EQ(save->startOffset, 29u);
    const std::string at = "vn: script inner.txt:2: the save at *inner was made with other script files; it goes on "
                           "there, found by name";
    auto near = [](int line) {
        return "vn: script inner.txt:" + std::to_string(line) + ": the save at *inner was made with other script "
               "files and inner.txt has changed between *inner and the saved line; it goes on from *inner\n";
    };
    const Names_ on = {"inner.txt one", "inner.txt two", "mid.txt mid", "lst.txt lst"};
    Sources renamedMid = saved;
    renamedMid[0].second = "*top0\n<label>\n<call mid2>\n<call lst>\n";
    renamedMid[1].first = "mid2.txt";
    const Names_ toMid = {"inner.txt one", "inner.txt two", "mid.txt mid"};
    Sources cutMid = saved;
    cutMid[1].second = "*mid\n<label>\n";
    // The scene changed, and a file in front with a label of the same name.
    Sources twin = Insert(saved, "inner.txt", "*inner", "; changed\n");
    twin.push_back({"00_a.txt", "*inner\n<label>\n<text a>\n<keywait 9>\n"});
    // Saved more than 64 KiB behind its label.
    Sources far = saved;
    far[2].second = "*inner\n<label>\n; " + std::string(70000, 'x') +
                    "\n<text one>\n<keywait 1>\n<text two>\n<keywait 2>\n";
    const auto farSave = SaveAt(far, 1);
    ASSERT_TRUE(farSave);
    // A long play's history: all but one of its read lines in a file the
    // update changed.
    Sources longer = saved;
    std::string lines;
    for (int i = 0; i < 16000; ++i) lines += "; line\n";
    longer.push_back({"lines.txt", lines});
    const auto longSave = SaveAt(longer, 1);
    ASSERT_TRUE(longSave);
    {
        GameState& g = *longSave;
        const uint32_t n = g.readLineCount, last = kReadLineSize - 1;
        g.readLinePos[last] = g.readLinePos[n];
        g.readLineLabel[last] = g.readLineLabel[n];
        for (uint32_t j = 0; j < last; ++j) {
            g.readLinePos[j] = GSL_ScriptPosition(GSL_ScriptMemberIndex("lines.txt"), 8 * j);
            g.readLineLabel[j] = g.readLineLabel[n];
        }
        g.readLineCount = last;
        const uint8_t* record = nullptr;
        const uint32_t size = GSL_SavedScriptsMake(g, &record);
        records_[&g].assign(record, record + size);
    }
    // Saved in the second of two calls, the last bytes of its caller.
    Sources atEnd = saved;
    atEnd[0].second = "*top0\n<label>\n<call inner>\n<call inner>";
    const auto endSave = SaveAt(atEnd, 4);
    ASSERT_TRUE(endSave);
    const std::string foundAt3 = "vn: script inner.txt:3: the save at *inner was made with other script files; it "
                                 "goes on there, found by name\n";
    struct Case {
        const char* what;
        Sources files;
        std::string err;
        Names_ texts;
        bool recorded = true;
        const GameState* other = nullptr;  // a save of other files, loaded instead
        int loads = 1;  // in a row, in this run
    } cases[] = {
        {"the same files", saved, "", on},
        // The old return point now ends another tag of the caller's caller,
        // a text, or a call of another file.
        {"a text above the call two files up", Insert(saved, "00_init.txt", "<call mid>", "<text ab1>\n"),
         at + "\n", on},
        {"another call above the call two files up", Insert(saved, "00_init.txt", "<call mid>", "<call lst>\n"),
         at + "\n", on},
        {"a comment at the top two files up", Insert(saved, "00_init.txt", "*top0", "; changed\n"), at + "\n", on},
        {"a line above the caller's call", Insert(saved, "mid.txt", "<call inner>", "<wait 0>\n"), at + "\n", on},
        // Another call of the scene below the caller's: the return's own
        // stretch still stands.
        {"a second call below the caller's call", Insert(saved, "mid.txt", "<text mid>", "<call inner,*inner>\n"),
         at + "\n", {"inner.txt one", "inner.txt two", "inner.txt one", "inner.txt two", "mid.txt mid", "lst.txt lst"}},
        {"the caller's call twice", Insert(saved, "mid.txt", "<call inner>", "<call inner,*inner>\n"),
         at + ", but inner.txt returns into mid.txt, which has changed and calls it in 2 places, so the story ends "
              "at that return\n",
         {"inner.txt one", "inner.txt two"}},
        {"the call two files up twice", Insert(saved, "00_init.txt", "<call mid>", "<call mid,*mid>\n"),
         at + ", but mid.txt returns into 00_init.txt, which has changed and calls it in 2 places, so the story "
              "ends at that return\n",
         toMid},
        {"the caller renamed", renamedMid,
         at + ", but inner.txt returns into mid.txt, which is no longer there, so the story ends at that return\n",
         {"inner.txt one", "inner.txt two"}},
        {"the call two files up gone", Insert(saved, "00_init.txt", "<call mid>", "<wait 0>\n<call lst>\n; "),
         at + ", but mid.txt returns into 00_init.txt, which has changed and no longer calls it, so the story ends "
              "at that return\n",
         toMid},
        // The saved file changed between its label and the saved line: the
        // scene again from its label.
        {"a longer line above the saved one", Insert(saved, "inner.txt", "<text one>", "<text one0>\n<wait 0>\n"),
         near(2), {"inner.txt one0", "inner.txt one", "inner.txt two", "mid.txt mid", "lst.txt lst"}},
        {"the label below the line above the saved one", Insert(saved, "inner.txt", "<label>", "<text one>\n"),
         near(1), {"inner.txt one", "inner.txt one", "inner.txt two", "mid.txt mid", "lst.txt lst"}},
        // The changed scene placed by its own label, however far behind it
        // the saved line lies; a return point at its caller's last byte.
        {"the scene changed, a label of its name in a file in front", twin, foundAt3, on},
        {"the scene changed, saved 70,000 bytes behind its label", Insert(far, "inner.txt", "*inner", "; changed\n"),
         foundAt3, on, true, farSave.get()},
        {"the caller changed, its call of the scene twice, the second at its end",
         Insert(atEnd, "00_init.txt", "*top0", "; changed\n"), at + "\n", {"inner.txt one", "inner.txt two"}, true,
         endSave.get()},
        {"a long history in a changed file, loaded again and again", Insert(longer, "lines.txt", "; line", "; top\n"),
         at + "\n", on, true, longSave.get(), 5},
        // Without the record: a tag that is no <label> where the label was,
        // the caller cut short of the return point.
        {"without the record, another tag where the label was",
         Insert(saved, "inner.txt", "*inner", "; abcd\n<wait 0>\n"),
         "vn: script inner.txt:1: the save has no record of its script files, and its label is no label of inner.txt; "
         "it goes on from its top\n",
         on, false},
        {"without the record, the caller cut short", cutMid,
         "vn: script inner.txt:2: the save at *inner has no record of its script files; it goes on where the save "
         "places it, but inner.txt returns behind a call of it that the script files do not hold where the save "
         "places it, so the story ends at that return\n",
         {"inner.txt one", "inner.txt two"}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int n = 0; n < c.loads; ++n) {
            const Loaded loaded = Load(c.other ? *c.other : *save, c.files, c.recorded);
            EXPECT_EQ(loaded.err, c.err);
            EXPECT_EQ(loaded.asked, 0);
            if (!c.texts.empty()) {
                EXPECT_EQ(loaded.texts, c.texts);
            }
        }
    }
    // A file called twice: the return of its first call, long taken, does
    // not stand in for the return of the second that cannot be placed.
    Sources twice = saved;
    twice[0].second = "*top0\n<label>\n<call inner>\n<call mid>\n<call lst>\n";
    const auto second = SaveAt(twice, 3);
    ASSERT_TRUE(second);
    const Loaded loaded = Load(*second, Insert(twice, "mid.txt", "<call inner>", "<call inner,*inner>\n"));
    EXPECT_EQ(loaded.err, at + ", but inner.txt returns into mid.txt, which has changed and calls it in 2 places, so "
                               "the story ends at that return\n");
    EXPECT_EQ(loaded.texts, (Names_{"inner.txt one", "inner.txt two"}));
    // Inside the second of two calls under two labels, the update takes
    // that call out: the return goes behind the other, told.
    Sources labels = saved;
    labels[1].second = "*mid\n<label>\n<call inner>\n*mid2\n<label>\n<call inner>\n<text mid>\n<keywait 5>\n";
    const auto inSecond = SaveAt(labels, 3);
    ASSERT_TRUE(inSecond);
    Sources taken = labels;
    taken[1].second = "*mid\n<label>\n<call inner>\n*mid2\n<label>\n<text mid>\n<keywait 5>\n";
    const Loaded other = Load(*inSecond, taken);
    EXPECT_EQ(other.err, at + ", and inner.txt returns into mid.txt behind a call of it under another label than the "
                              "one it was called under\n");
    // The stage restored from the label before, then on behind the other call.
    EXPECT_EQ(other.texts, (Names_{"mid.txt mid", "inner.txt one", "inner.txt two", "mid.txt mid", "lst.txt lst"}));
}

// Two chapters of the same shape, both calling s1.txt: a save in s1.txt as
// called by either, loaded after ch0.txt renumbered them, returns into its
// own chapter, found by name. Without the record, where both chapters hold
// the call at a number the return may stand for, it goes into neither.
TEST_F(SavedScripts, AReturnIntoOneOfTwoFilesOfTheSameShapeGoesToItsOwnByName) {
    for (const char* chapter : {"ch1", "ch2"}) {
        SCOPED_TRACE(chapter);
        const Sources saved = {{"00_init.txt", std::string("<jump ") + chapter + ">\n"},
                               {"ch1.txt", "*ch1\n<label>\n<call s1>\n<call s3>\n"},
                               {"ch2.txt", "*ch2\n<label>\n<call s1>\n<call s2>\n"},
                               {"s1.txt", "*s1\n<label>\n<text s1>\n<keywait 1>\n"},
                               {"s2.txt", "*s2\n<label>\n<text s2>\n<keywait 2>\n"},
                               {"s3.txt", "*s3\n<label>\n<text s3>\n<keywait 3>\n"}};
        const auto save = SaveAt(saved, 1);
        ASSERT_TRUE(save);
        Sources added = saved;
        added.push_back({"ch0.txt", "*ch0\n<label>\n<text ch0>\n<keywait 0>\n"});
        Loaded loaded = Load(*save, saved);
        EXPECT_EQ(loaded.err, "");
        EXPECT_EQ(loaded.texts, (Names_{"s1.txt s1", chapter == std::string("ch1") ? "s3.txt s3" : "s2.txt s2"}));
        loaded = Load(*save, added);
        EXPECT_EQ(loaded.err, "vn: script s1.txt:2: the save at *s1 was made with other script files; it goes on "
                              "there, found by name\n");
        EXPECT_EQ(loaded.texts, (Names_{"s1.txt s1", chapter == std::string("ch1") ? "s3.txt s3" : "s2.txt s2"}));
        // Without the record: ch0.txt in front moves both chapters and the
        // scene alike, ch9.txt between them and the scene moves the scene
        // alone.
        Sources between = saved;
        between.push_back({"ch9.txt", "*ch9\n<label>\n<text ch9>\n<keywait 0>\n"});
        const std::string bare = "vn: script s1.txt:2: the save at *s1 has no record of its script files; it goes "
                                 "on where the save places it";
        const std::string neither = bare + ", but s1.txt returns behind a call of it that more than one script file "
                                           "holds where the save places it, so the story ends at that return\n";
        for (const Sources* files : {&added, &between}) {
            const bool placed = chapter == std::string("ch1") && files == &added;
            loaded = Load(*save, *files, false);
            EXPECT_EQ(loaded.err, placed ? bare + "\n" : neither);
            EXPECT_EQ(loaded.texts, (placed ? Names_{"s1.txt s1", "s3.txt s3"} : Names_{"s1.txt s1"}));
        }
    }
}

// A restored scene whose replay takes another way than the play did (a
// system variable that changed since the save) and passes the saved line
// without meeting it, or leaves its file by a return or a jump, stops there,
// says so, and keeps nothing it wrote unseen to the system data; the story
// goes on from there, seen. A call made on the way and come back does not
// hide the passing.
TEST_F(SavedScripts, AReplayThatMissesTheSavedLineStopsWhereItPassesItAndWritesNoSystemData) {
    const std::string next = "*n\n<label>\n<text next>\n<keywait 3>\n<eval \"[07]=1\">\n<text last>\n<keywait 4>\n",
                      pass = "<eval \"[08]=1\">\n<jump scene,*other,\"[05]==1\">\n<text one>\n<keywait 1>\n<return>\n"
                             "*other\n<label>\n<eval \"[06]=1\">\n<text other>\n<keywait 2>\n<return>\n",
                      leave = "*s\n<label>\n<eval \"[08]=1\">\n<jump scene,*one,\"[05]!=1\">\n",
                      one = "*one\n<text one>\n<keywait 1>\n<return>\n";
    auto told = [](const char* what, int line = 4) {
        return "vn: script scene.txt:" + std::to_string(line) + ": the replay of the restored scene " + what +
               "; the story goes on from here\n";
    };
    const char* passes = "passes the saved line of scene.txt here without meeting it";
    const std::string leaves = told("leaves scene.txt here without meeting the saved line", 5);
    const Names_ onOther = {"scene.txt other", "next.txt next", "next.txt last"};
    const struct {
        const char* what;
        std::string scene;
        std::string err;
        Names_ texts;
        uint8_t read;  // the read marks of lines 0 to 7 its texts set
        bool sub = false;  // sub.txt stands between scene.txt and next.txt
    } rows[] = {
        {"a jump past the saved line", "*s\n<label>\n" + pass, told(passes), onOther, 0x0C},
        {"a return before the saved line", leave + "<return>\n" + one, leaves, {"next.txt next", "next.txt last"},
         0x08},
        // The file jumped to takes the scene's return as its own.
        {"a jump into another file", leave + "<jump next>\n" + one, leaves,
         {"next.txt next", "next.txt last", "next.txt next", "next.txt last"}, 0x08},
        {"a call on the way come back before the jump past it", "*s\n<label>\n<call sub>\n" + pass, told(passes, 5),
         onOther, 0x0C, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Sources files = {{"00_init.txt", "*top\n<label>\n<call scene>\n<call next>\n"}, {"scene.txt", row.scene}};
        if (row.sub) files.push_back({"sub.txt", "*sub\n<label>\n<return>\n"});
        files.push_back({"next.txt", next});
        const auto save = SaveAt(files, 1);
        ASSERT_TRUE(save);
        const SystemData system = SystemDataBlock;
        SystemDataBlock.systemVars[5] = 1;
        SystemDataBlock.systemVars[8] = 0;
        std::memset(SystemDataBlock.readText, 0, sizeof SystemDataBlock.readText);
        const SystemData before = SystemDataBlock;
        const Loaded loaded = Load(*save, files);
        const SystemData after = SystemDataBlock;
        SystemDataBlock = system;
        EXPECT_EQ(loaded.err, row.err);
        // On from where it stopped, seen: its lines and what they set.
        EXPECT_EQ(loaded.texts, row.texts);
        EXPECT_EQ(after.systemVars[8], 0) << "written unseen";
        const auto shown = [&](const char* text) {
            return std::find(row.texts.begin(), row.texts.end(), text) != row.texts.end() ? 1 : 0;
        };
        EXPECT_EQ(after.systemVars[6], shown("scene.txt other"));
        EXPECT_EQ(after.systemVars[7], shown("next.txt last"));
        EXPECT_EQ(after.readText[0] & 0x02, 0) << "line 1 marked read unseen";
        EXPECT_EQ(after.readText[0] & row.read, row.read);
        EXPECT_EQ(std::memcmp(after.choiceSeen, before.choiceSeen, sizeof before.choiceSeen), 0);
    }
}

// Names and text from a save or a script reach stderr with their control
// bytes escaped: no colour, no second line of their own.
TEST_F(SavedScripts, NamesAndTextFromASaveOrAScriptAreToldWithTheirControlBytesEscaped) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "<wait 0>\n"}}));
    testing::internal::CaptureStderr();
    Start("a\x1b[31m\r\nvn: forged\a.txt");
    Frame(3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vn: no script a\\x1b[31m\\x0d\\x0avn: forged\\x07.txt in script/script.arc; the story cannot start\n");
    Finish();
    Frame();
    Raw({{"b\x1b[2J.txt", "<bogus\x07>\r\n<wait 0>\r\n"}});
    testing::internal::CaptureStderr();
    Start("b\x1b[2J.txt");
    Frame(3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vn: script b\\x1b[2J.txt:1: <bogus\\x07>: unknown command; the tag is passed over\n");
    Finish();
    Frame();

    // Every control byte, the C1 controls at both ends of their range in
    // UTF-8 and one behind a Shift-JIS lead byte that would pair with the
    // C2, in a saved name told in the one line.
    std::string name = "c", told = "c";
    for (int b = 1; b < 0x20; ++b) {
        name += char(b);
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", b);
        told += escape;
    }
    name += "\x7f\xc2\x80\xc2\x9f\x81\xc2\x9b[2J.txt";
    told += "\\x7f\\xc2\\x80\\xc2\\x9f\\x81\\xc2\\x9b[2J.txt";
    testing::internal::CaptureStderr();
    Start(name.c_str());
    Frame(3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vn: no script " + told + " in script/script.arc; the story cannot start\n");
    Finish();
    Frame();

    // The same bytes in script words, with the trace on: the trace's lines
    // and the debug lines it shows (a layer word that names no layer).
    std::string words;
    for (int b = 1; b < 0x20; ++b)
        if (b != '\n' && b != '\r') words += char(b);
    Raw({{"d.txt", "<freeimage \x1b[2J>\r\n<freeimage " + words + "\x7f>\r\n<freeimage \xc2\x80\xc2\x9fx>\r\n"
                   "<freeimage \x81\xc2\x9b[2J>\r\n<wait 0>\r\n"}});
    ::setenv("VN_SCRIPT_TRACE", "1", 1);
    GSL_ScriptTraceFromEnv();
    ::unsetenv("VN_SCRIPT_TRACE");
    testing::internal::CaptureStderr();
    Start("d.txt");
    Frame(3);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ShowsOnlyCharacters(err)) << err;
    EXPECT_EQ(Count(err, "Error -> freeimage: layer \\x1b[2J\n"), 1) << err;
    EXPECT_EQ(Count(err, "Error -> freeimage: layer \\x01\\x02\\x03\\x04"), 1) << err;
    EXPECT_EQ(Count(err, "\\x1e\\x1f\\x7f\n"), 2) << err;  // the debug line and the trace's
    EXPECT_EQ(Count(err, "Error -> freeimage: layer \\xc2\\x80\\xc2\\x9fx\n"), 1) << err;
    EXPECT_EQ(Count(err, "Error -> freeimage: layer \\x81\\xc2\\x9b[2J\n"), 1) << err;
}

}  // namespace
