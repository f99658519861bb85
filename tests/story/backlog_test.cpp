// The backlog over the stage harness's story context, on the sample's
// sheets, tables and voices, with a script of its own: lines without a
// voice, with two and with nine voice tags, a quoted voice name, a voice
// name that is not ASCII and a choice. Navigation and the page, the replay
// grouping, the jump back and the empty history (the ASan build runs it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <set>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "script/flow.h"
#include "story/backlog.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "tests/script/stage_env.h"
#include "ui/message_box.h"
#include "ui/mode.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"

namespace {
constexpr uint32_t kKeyZ = 0x1, kKeyX = 0x2, kKeyC = 0x8, kUp = 0x2000, kDown = 0x8000, kLeft = 0x1000,
                   kRight = 0x4000;

// Lines 0..11: the tags the history points at, in order (the voice name of
// the last is one character, three bytes here and two in the script).
const char kScript[] =
    "*top\r\n<label>\r\n"
    "<name Ann>\r\n<text Plain>\r\n<keywait 0>\r\n"
    "<name Ben>\r\n<voice 0,v_bl_01>\r\n<voice 1,v_bl_02>\r\n<text Pair>\r\n<keywait 1>\r\n"
    "<name Cy>\r\n<voice 0,v_bl_01>\r\n<voice 1,v_bl_02>\r\n<voice 2,v_bl_03>\r\n<voice 3,v_bl_04>\r\n"
    "<voice 4,v_bl_05>\r\n<voice 5,v_bl_06>\r\n<voice 6,v_bl_07>\r\n<voice 7,v_bl_08>\r\n<voice 0,v_bl_09>\r\n"
    "<text Crowd>\r\n<keywait 2>\r\n"
    "<name Dee>\r\n<voice 1,\"v_bl_03\">\r\n<text Quoted>\r\n<keywait 3>\r\n"
    "<menuadd A>\r\n<menustart>\r\n"
    "<text L5>\r\n<keywait 5>\r\n<text L6>\r\n<keywait 6>\r\n<text L7>\r\n<keywait 7>\r\n"
    "<text L8>\r\n<keywait 8>\r\n<text L9>\r\n<keywait 9>\r\n<text L10>\r\n<keywait 10>\r\n"
    "<name Eve>\r\n<voice 0,\xE5\xA3\xB0>\r\n<text Wide>\r\n<keywait 11>\r\n";

class Backlog : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!SampleData()) GTEST_SKIP() << "sample data not built";
        Messages();
        ASSERT_TRUE(Scripts({{"00_init.txt", kScript}}));
        StartFull();
        // The start-up cleared the contexts: the story's again, idle below.
        ASSERT_NE(MakeContext(GSL_StoryModeCB), nullptr);
        Story()->step = 99;
        TextLanguage = 1;
        SystemDataBlock.voiceVolume = 80;
        window_ = &LayerSprite(25, SPRITE_IN_USE | SPRITE_READY, 64, 64);
        window_->visible = 1;
        window_->posY = -250.0f;
    }
    // History lines 0..count-1 at the sample script's waits and its choice.
    void History(uint32_t count) {
        const std::string text(kScript);
        const uint32_t member = uint32_t(GSL_ScriptMemberIndex("00_init.txt"));
        size_t at = 0;
        GameStateBlock.labelCount = 1;
        GameStateBlock.labelPos[0] = member << 20;
        GameStateBlock.labelFlags[0] = 1;
        for (uint32_t n = 0; n < count; ++n) {
            const size_t wait = text.find("<keywait", at), menu = text.find("<menustart", at);
            at = std::min(wait, menu);
            ASSERT_NE(at, std::string::npos);
            const size_t wide = text.find("\xE5");
            GameStateBlock.readLinePos[n] = member << 20 | uint32_t(at > wide ? at - 1 : at);
            GameStateBlock.readLineLabel[n] = 0;
            ++at;
        }
        GameStateBlock.readLineCount = count;
    }
    // Pushes the backlog over the story and runs it into its run step.
    void Open(uint32_t count) {
        History(count);
        if (HasFatalFailure()) return;
        Push(GSL_BacklogModeCB);
        ASSERT_TRUE(FramesUntil([] { return Step() == BACKLOG_RUN; }, 200, "the backlog's run step"));
    }
    static int32_t Step() {
        const ScreenWork* w = GSL_WorkGet(GSL_BacklogModeCB);
        return w ? w->step : -1;
    }
    static BacklogWork* B() { return GSL_BacklogWork(); }
    // The key task answers after the screen's step, and the page follows
    // the selection on the frame after: three frames.
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame(2);
    }
    static std::string Voice(int j) { return SoundChannelTable[kBacklogFirstVoiceSlot + j].st.path; }
    static bool Sounding(int j) { return Lib_SoundStateGet(int32_t(kBacklogFirstVoiceSlot) + j) != 0; }
    static std::string LastSe() {
        const int32_t ch = 19 + (SystemSeRotation + 2) % 3;
        return SoundChannelTable[ch].st.path;
    }
    static float BarPosition() {
        const ScrollBarWork* bar = GSL_SystemBarWork(B()->bar);
        return bar ? bar->position : -1.0f;
    }
    static std::string EntryText(uint32_t slot) {
        const TextRecord* r = Text(GSL_BacklogModeCB, slot);
        return r ? std::string(r->text) : std::string("(none)");
    }
    SpriteRecord* window_ = nullptr;
};

TEST_F(Backlog, KeysScrollThePageWhichHoldsTheSelectionAndMovesTheBar) {
    if (IsSkipped()) return;
    Lib_FrameRateSet(30);
    Open(12);
    EXPECT_EQ(FrameRateConfig, 60);
    EXPECT_EQ(FramePeriodUs, 16666u);
    EXPECT_EQ(B()->selected, 11);
    EXPECT_EQ(B()->top, 9);
    EXPECT_FLOAT_EQ(BarPosition(), 9.0f);
    EXPECT_FLOAT_EQ(window_->posY, -250.0f - 720.0f);
    EXPECT_NE(EntryText(3).find("L9"), std::string::npos);
    EXPECT_EQ(EntryText(2), "Eve");
    // Up moves inside the page, then the page follows the selection.
    Press(kUp);
    EXPECT_EQ(B()->selected, 10);
    EXPECT_EQ(B()->top, 9);
    Press(kUp);
    Press(kUp);
    EXPECT_EQ(B()->selected, 8);
    EXPECT_EQ(B()->top, 8);
    EXPECT_FLOAT_EQ(BarPosition(), 8.0f);
    EXPECT_NE(EntryText(3).find("L8"), std::string::npos);
    // Ten at a time: from the last line to the second, the page with it,
    // and back.
    B()->selected = 11;
    Frame();
    Press(kLeft);
    EXPECT_EQ(B()->selected, 1);
    EXPECT_EQ(B()->top, 1);
    EXPECT_FLOAT_EQ(BarPosition(), 1.0f);
    Press(kRight);
    EXPECT_EQ(B()->selected, 11);
    EXPECT_EQ(B()->top, 9);
    // Held at the ends: from 4 to 0, from count - 3 to the last.
    B()->selected = 4;
    Frame();
    Press(kLeft);
    EXPECT_EQ(B()->selected, 0);
    EXPECT_EQ(B()->top, 0);
    EXPECT_FLOAT_EQ(BarPosition(), 0.0f);
    EXPECT_EQ(EntryText(0), "Ann");
    B()->selected = 9;
    Frame();
    Press(kRight);
    EXPECT_EQ(B()->selected, 11);
    EXPECT_EQ(B()->top, 9);
    EXPECT_FLOAT_EQ(BarPosition(), 9.0f);
    // Down at the last line stays, silently.
    SystemSeRotation = 0;
    Press(kDown);
    EXPECT_EQ(B()->selected, 11);
    // Cancel: the window comes back, the rate and the period with it.
    Press(kKeyX);
    EXPECT_EQ(LastSe(), "cancel.wav");
    ASSERT_TRUE(FramesUntil([] { return GSL_WorkGet(GSL_BacklogModeCB) == nullptr; }, 60, "the exit"));
    EXPECT_FLOAT_EQ(window_->posY, -250.0f);
    EXPECT_EQ(FrameRateConfig, 30);
    EXPECT_EQ(FramePeriodUs, 1000000u / 30u);
}

TEST_F(Backlog, ThePointerSelectsAChoiceLineByWhereTheEntryIsLaidOut) {
    if (IsSkipped()) return;
    Open(12);
    B()->selected = 3;
    Frame(2);
    ASSERT_EQ(B()->top, 3);
    // Entry 1 of the page is the choice: a name in green and no second text.
    const TextRecord* choice = Text(GSL_BacklogModeCB, 1);
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->colour, 0xFF32CD32u);
    EXPECT_EQ(Text(GSL_BacklogModeCB, 4), nullptr);
    Pointer(600, 100);
    Frame(2);
    EXPECT_EQ(B()->selected, 3);
    // Into the second entry's area, below the first's.
    Pointer(600, 420);
    Frame(3);
    EXPECT_EQ(B()->selected, 4);
    EXPECT_EQ(LastSe(), "move.wav");
    // A drag held more than 171 pixels down scrolls one line a frame.
    Pointer(600, 300);
    Left(true);
    Frame();
    Pointer(600, 472);
    Frame(2);
    const int32_t top = B()->top;
    Frame();
    EXPECT_EQ(B()->top, top - 1);
    Frame();
    EXPECT_EQ(B()->top, top - 2);
    Left(false);
    Frame(2);
    const int32_t still = B()->top;
    Frame(2);
    EXPECT_EQ(B()->top, still);
}

// The line the keys act on is seen: its jump icon's colour, which the
// drawing multiplies the icon by, pulses while the others keep the plain
// colour, and the pulse goes with the selection.
TEST_F(Backlog, TheSelectedLinesJumpIconPulsesAndTheOthersStayPlain) {
    if (IsSkipped()) return;
    Open(12);
    ASSERT_EQ(B()->selected - B()->top, 2);
    // Over some frames, entry by entry: the colours the jump icon had.
    auto watch = [&] {
        std::vector<std::set<uint32_t>> colours(3);
        for (int f = 0; f < 8; ++f) {
            Frame(4);
            for (uint32_t k = 0; k < 3; ++k) colours[k].insert(Layer(GSL_BacklogModeCB, 5 + k)->color);
        }
        return colours;
    };
    const std::set<uint32_t> plain{0xFFF0F0F0u};
    auto seen = watch();
    EXPECT_GE(seen[2].size(), 3u) << "the selected line's icon pulses";
    EXPECT_EQ(seen[0], plain);
    EXPECT_EQ(seen[1], plain);
    Press(kUp);
    Press(kUp);
    ASSERT_EQ(B()->selected - B()->top, 0);
    seen = watch();
    EXPECT_GE(seen[0].size(), 3u) << "the pulse follows the selection to the page's first line";
    EXPECT_EQ(seen[2], plain) << "the line left behind is plain again";
    EXPECT_EQ(seen[1], plain);
}

TEST_F(Backlog, OneOrTwoLinesStartAtTheFirstWithAnEmptyBarRange) {
    if (IsSkipped()) return;
    for (uint32_t count : {1u, 2u}) {
        SCOPED_TRACE(count);
        Open(count);
        EXPECT_EQ(B()->top, 0);
        EXPECT_EQ(B()->selected, int32_t(count) - 1);
        const ScrollBarWork* bar = GSL_SystemBarWork(B()->bar);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->maximum - bar->minimum, 0);
        EXPECT_FLOAT_EQ(bar->position, 0.0f);
        EXPECT_EQ(GSL_SystemBarGetPos(B()->bar), 0);
        Press(kUp);
        EXPECT_EQ(B()->selected, 0);
        EXPECT_EQ(B()->top, 0);
        Press(kKeyX);
        ASSERT_TRUE(FramesUntil([] { return GSL_WorkGet(GSL_BacklogModeCB) == nullptr; }, 60, "the exit"));
    }
}

TEST_F(Backlog, ReplayPlaysAStepsVoicesTogetherAndTheNextWhenTheyEnd) {
    if (IsSkipped()) return;
    Open(12);
    B()->selected = 0;
    Frame();
    // No voice: no icon, and Z starts nothing.
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 2)->visible, 0);
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 3)->visible, 1);
    Press(kKeyZ);
    EXPECT_EQ(B()->replayEntry, -1);
    for (int j = 0; j < 8; ++j) EXPECT_FALSE(Sounding(j)) << j;
    // Two voices start together on slots 11 and 12 (as the tags were found,
    // the last first), at the configured volume.
    Press(kDown);
    Press(kKeyZ);
    EXPECT_EQ(Voice(0), "sound/voice/v_bl_02.ogg");
    EXPECT_EQ(Voice(1), "sound/voice/v_bl_01.ogg");
    EXPECT_TRUE(Sounding(0) && Sounding(1));
    EXPECT_FALSE(Sounding(2));
    EXPECT_FLOAT_EQ(SoundChannelTable[kBacklogFirstVoiceSlot].st.volume, 80.0f);
    // Nine: eight together (once the two before have faded out), then the
    // ninth alone once they have ended.
    Press(kDown);
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return B()->replayEntry == 2 && B()->replayStep == 1; }, 60, "the first step"));
    for (int j = 0; j < 8; ++j) {
        EXPECT_EQ(Voice(j), "sound/voice/v_bl_0" + std::to_string(9 - j) + ".ogg") << j;
        EXPECT_TRUE(Sounding(j)) << j;
    }
    EXPECT_EQ(B()->replayStep, 1);
    Frame(5);
    EXPECT_EQ(B()->replayStep, 1);  // not while they sound
    // The harness's voices do not run out by themselves: end them.
    for (int j = 0; j < 8; ++j) Lib_SoundStop(int32_t(kBacklogFirstVoiceSlot) + j, 1);
    ASSERT_TRUE(FramesUntil([] { return B()->replayStep == 2; }, 60, "the second step"));
    EXPECT_EQ(Voice(0), "sound/voice/v_bl_01.ogg");
    for (int j = 1; j < 8; ++j) EXPECT_FALSE(Sounding(j)) << j;
    Frame(2);
    Lib_SoundStop(int32_t(kBacklogFirstVoiceSlot), 1);
    ASSERT_TRUE(FramesUntil([] { return B()->replayEntry == -1; }, 60, "the replay's end"));
    // A quoted name plays without its quotes.
    Press(kDown);
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return B()->replayEntry == 3 && B()->replayStep == 1; }, 60, "the quoted voice"));
    EXPECT_EQ(Voice(0), "sound/voice/v_bl_03.ogg");
    EXPECT_TRUE(Sounding(0));
    Frame(2);
    Lib_SoundStop(int32_t(kBacklogFirstVoiceSlot), 1);
    ASSERT_TRUE(FramesUntil([] { return B()->replayEntry == -1; }, 60, "the replay's end"));
    // A name that does not begin with an ASCII byte is not replayed.
    B()->selected = 11;
    Frame();
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 4)->visible, 1);
    Press(kKeyZ);
    EXPECT_EQ(B()->replayEntry, -1);
    for (int j = 0; j < 8; ++j) EXPECT_FALSE(Sounding(j)) << j;
}

TEST_F(Backlog, JumpBackAsksThenRestoresTheLineOrGoesOn) {
    if (IsSkipped()) return;
    Open(12);
    // A line a load could not place lies past its file's end: its entry
    // shows no jump icon, and the jump key asks nothing.
    const uint32_t placed = GameStateBlock.readLinePos[9];
    GameStateBlock.readLinePos[9] = placed | 0xFFFFFu;
    B()->selected = 9;
    Frame(2);
    ASSERT_EQ(B()->top, 9);
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 5)->visible, 0);
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 6)->visible, 1);
    EXPECT_EQ(Layer(GSL_BacklogModeCB, 7)->visible, 1);
    Press(kKeyC);
    EXPECT_EQ(LastSe(), "error.wav");
    Frame(2);
    EXPECT_EQ(Step(), BACKLOG_RUN);
    GameStateBlock.readLinePos[9] = placed;
    B()->selected = 11;
    Frame(2);
    // The selection below the page's first line: the jump takes the line
    // selected, not the page's.
    Press(kUp);
    ASSERT_EQ(B()->selected, 10);
    ASSERT_EQ(B()->top, 9);
    // No: back to the list, nothing restored.
    Press(kKeyC);
    EXPECT_EQ(LastSe(), "enter.wav");
    ASSERT_TRUE(FramesUntil([] { return Step() == BACKLOG_JUMP && GSL_WorkGet(GSL_BacklogModeCB)->subState == 1; },
                            10, "the question"));
    Frame(8);
    Press(kKeyX);
    ASSERT_TRUE(FramesUntil([] { return Step() == BACKLOG_RUN; }, 30, "the list again"));
    EXPECT_EQ(StoryExitRequest, 0u);
    EXPECT_EQ(GameStateBlock.readLineCount, 12u);
    // Yes: the story restarts at the line, and the backlog leaves silently.
    Press(kKeyC);
    Frame(8);
    SystemSeRotation = 0;
    for (int i = 0; i < 3; ++i) SoundChannelTable[19 + i].st.path[0] = 0;
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return GSL_WorkGet(GSL_BacklogModeCB) == nullptr; }, 60, "the exit"));
    EXPECT_EQ(StoryExitRequest, 3u);
    EXPECT_EQ(GameStateBlock.readLineCount, 10u);
    EXPECT_EQ(GameStateBlock.startOffset, GameStateBlock.readLinePos[10] & 0xFFFFF);
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
    for (int i = 0; i < 3; ++i) EXPECT_STRNE(SoundChannelTable[19 + i].st.path, "cancel.wav");
    EXPECT_FLOAT_EQ(window_->posY, -250.0f);
}

TEST_F(Backlog, AnEmptyHistoryOnlyShowsTheNoticeAndTouchesNothing) {
    if (IsSkipped()) return;
    Lib_FrameRateSet(30);
    GameStateBlock.readLineCount = 0;
    Push(GSL_BacklogModeCB);
    ASSERT_TRUE(FramesUntil([] { return Step() == BACKLOG_NOTICE && GSL_WorkGet(GSL_BacklogModeCB)->subState == 1; },
                            10, "the notice"));
    EXPECT_EQ(GSL_BacklogWork(), nullptr);
    const int32_t box = GSL_WorkWord(GSL_WorkGet(GSL_BacklogModeCB), 5);
    const MessageBoxWork* m = GSL_SystemMsgWork(box);
    ASSERT_NE(m, nullptr);
    ASSERT_GE(m->text, 0);
    EXPECT_STREQ(TextTable[m->text]->text, "No lines have been read yet.");
    EXPECT_EQ(FrameRateConfig, 30);
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemMsgWork(box)->head.state >= MSGBOX_WAITING; }, 120, "the box"));
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return GSL_WorkGet(GSL_BacklogModeCB) == nullptr; }, 60, "the exit"));
    EXPECT_EQ(LastSe(), "enter.wav");
    EXPECT_FLOAT_EQ(window_->posY, -250.0f);
    EXPECT_EQ(window_->visible, 1);
    EXPECT_EQ(FrameRateConfig, 30);
    EXPECT_EQ(FramePeriodUs, 33333u);
}
}  // namespace

