// The message commands on the stage harness: the name and the message text
// in the story screen's text slots, their settings, the append after a
// continued line, and the small rules the waits and the scroll bar share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/charcode.h"
#include "engine/input/input.h"
#include "engine/text/text_layout.h"
#include "script/message.h"
#include "script/msg_window.h"
#include "script/replay.h"
#include "script/syntax.h"
#include "tests/script/markup_env.h"
#include "script/script_host.h"
#include "ui/screen_slots.h"

namespace {

class MessageTest : public MarkupEnv {
public:
    StageRecord& Stage() { return GameStateBlock.stage; }
    TextRecord* Text(uint32_t textSlot) {
        const int32_t h = GSL_WorkTextGet(GSL_ScreenOf(SCREEN_STORY), textSlot);
        return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    }
    // Frames with the message texts laid out after each, so that their
    // reveal runs as it does on screen.
    void Frames(int n = 1) {
        for (int i = 0; i < n; ++i) {
            Frame();
            for (uint32_t t = kMessageNameText; t <= kMessageLastText; ++t)
                if (TextRecord* r = Text(t)) Lib_TextDrawCB(uint64_t(uintptr_t(r)));
        }
    }
    // Runs a script until the command has run (in the frame it ran).
    void RunTo(const std::string& body, const char* command) {
        if (Alive()) {
            Finish();
            Frames();
        }
        ASSERT_TRUE(Scripts({{"m.txt", body}}));
        executed.clear();
        Start("m.txt");
        for (int i = 0; i < 10; ++i) {
            Frames();
            const std::vector<std::string> names = Names();
            if (std::find(names.begin(), names.end(), command) != names.end()) return;
        }
        ADD_FAILURE() << command << " did not run";
    }
    void Run(const std::string& body, int frames = 3) {
        ASSERT_TRUE(Scripts({{"m.txt", body}}));
        Start("m.txt");
        Frames(frames);
    }
};

}  // namespace

TEST_F(MessageTest, VoiceSlotsOutsideTheEightAreSlotZero) {
    EXPECT_EQ(GSL_VoiceSlot(-9999), 0);
    EXPECT_EQ(GSL_VoiceSlot(-1), 0);
    EXPECT_EQ(GSL_VoiceSlot(8), 0);
    EXPECT_EQ(GSL_VoiceSlot(7), 7);
    EXPECT_EQ(GSL_VoiceSlot(3), 3);
}

TEST_F(MessageTest, RevealSpeedFromTheStageOrTheSetting) {
    StageRecord st{};
    const int32_t cases[][2] = {{0, 25}, {100, 0}, {99, 1}, {40, 15}, {-50, 38}, {127, 0}};
    for (const auto& c : cases) {
        st.textSpeed = c[0];
        EXPECT_EQ(GSL_MessageSpeed(&st), c[1]) << c[0];
    }
    st.textSpeed = -1;  // follow the setting
    SystemDataBlock.textSpeed = 60;
    EXPECT_EQ(GSL_MessageSpeed(&st), 10);
    st.textSpeed = 0x1FF;  // only the low byte counts
    EXPECT_EQ(GSL_MessageSpeed(&st), 10);
    StoryPlayMode = 1;  // skipping: at once
    SystemDataBlock.skipAll = 1;
    EXPECT_EQ(GSL_MessageSpeed(&st), 0);
    StoryPlayMode = 0;
    SystemDataBlock.skipAll = 0;
}

TEST_F(MessageTest, ScrollStepsNeverDivideByAnEmptyTrack) {
    EXPECT_EQ(GSL_ScrollSteps(30.0f, 10.0f), 3);
    EXPECT_EQ(GSL_ScrollSteps(-25.0f, 10.0f), -2);
    EXPECT_EQ(GSL_ScrollSteps(4.0f, 10.0f), 1);
    EXPECT_EQ(GSL_ScrollSteps(-4.0f, 10.0f), -1);
    EXPECT_EQ(GSL_ScrollSteps(0.0f, 10.0f), 0);
    EXPECT_EQ(GSL_ScrollSteps(17.0f, 0.0f), 1);
    EXPECT_EQ(GSL_ScrollSteps(-17.0f, 0.0f), -1);
    EXPECT_EQ(GSL_ScrollSteps(0.0f, 0.0f), 0);
    EXPECT_EQ(GSL_ScrollSteps(5.0f, -3.0f), 1);
    EXPECT_EQ(GSL_ScrollSteps(1e30f, 1e-30f), 2147483520);
}

TEST_F(MessageTest, AppendKeepsTheShownPrefixOrReplacesAndStaysBounded) {
    char text[kTextBufferSize];
    std::strcpy(text, "abc");
    EXPECT_TRUE(GSL_MessageAppend(text, sizeof text, "abcdef"));
    EXPECT_STREQ(text, "abcdef");
    // The conversion changed the shown part: the whole result, no repeat.
    EXPECT_FALSE(GSL_MessageAppend(text, sizeof text, "abXdefgh"));
    EXPECT_STREQ(text, "abXdefgh");

    // 1,600 bytes of three-byte characters behind a one-byte prefix.
    std::string joined = "a";
    while (joined.size() < 1600) joined += "あ";
    std::strcpy(text, "a");
    GSL_MessageAppend(text, sizeof text, joined.c_str());
    const size_t n = std::strlen(text);
    EXPECT_LE(n, 1535u);
    EXPECT_EQ((n - 1) % 3, 0u);  // whole characters only
    EXPECT_EQ(std::string(text), joined.substr(0, n));
    // The same when the prefix differs.
    std::strcpy(text, "z");
    GSL_MessageAppend(text, sizeof text, joined.c_str());
    EXPECT_EQ(std::strlen(text), n);
}

TEST_F(MessageTest, FontSpeedAndOffsetCommandsSetTheStage) {
    Run("<font size:45,color:FF8000>\n<textspeed 100>\n<position 40>\n");
    EXPECT_FLOAT_EQ(Stage().textSizeX, 0.75f);
    EXPECT_FLOAT_EQ(Stage().textSizeY, 0.75f);
    EXPECT_EQ(Stage().textColor, 0xFF0080FFu);
    EXPECT_EQ(Stage().textSpeed, 0);
    EXPECT_EQ(Stage().textOffsetY, 40);

    Run("<font size:45,color:FF8000>\n<font size:60>\n<textspeed 0>\n<position>\n");
    EXPECT_NEAR(Stage().textSizeX, 0.92f, 1e-6f);
    EXPECT_EQ(Stage().textColor, 0xFF0080FFu);  // no colour: the stage's stays
    EXPECT_EQ(Stage().textSpeed, 100);
    EXPECT_EQ(Stage().textOffsetY, -9999);

    Run("<font color:00FF00>\n<textspeed>\n");
    EXPECT_FLOAT_EQ(Stage().textSizeX, 0.5f);  // no size: default and black
    EXPECT_EQ(Stage().textColor, 0xFF000000u);
    EXPECT_EQ(Stage().textSpeed, -1);
}

TEST_F(MessageTest, KeywaitCompletesTheRevealThenGoesOn) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 60;
    SystemDataBlock.autoSpeed = 80;
    SystemDataBlock.readText[0] = 0;
    Run("<name Welm>\n<font size:45,color:FF8000>\n<text abcdefghij>\n<keywait 7>\n<text next>\n", 4);
    TextRecord* name = Text(kMessageNameText);
    TextRecord* text = Text(kMessageFirstText);
    ASSERT_TRUE(name && text);
    EXPECT_EQ(name->x, 58);
    EXPECT_EQ(name->y, -491);
    EXPECT_FLOAT_EQ(name->scaleX, 0.45f);
    EXPECT_EQ(text->x, 110);
    EXPECT_EQ(text->y, -558);
    EXPECT_EQ(text->lineSpacing, 19);
    EXPECT_EQ(text->clipY, 532);
    EXPECT_EQ(text->clipHeight, 174);
    EXPECT_EQ(text->speed, 10);
    EXPECT_EQ(text->colour, 0xFF0080FFu);
    EXPECT_NE(std::string(text->text).find("abcdefghij"), std::string::npos);
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);

    // The first confirm completes the reveal; the wait stands.
    InputButtons.pressed = BUTTON_DECIDE;
    Frames();
    InputButtons.pressed = 0;
    EXPECT_EQ(text->speed, 0);
    Frames(2);
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
    EXPECT_EQ(SystemDataBlock.readText[0], 0);
    // A confirm with input off is ignored.
    Stage().messageInput = 0;
    InputButtons.pressed = BUTTON_DECIDE;
    Frames(2);
    InputButtons.pressed = 0;
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
    // The second goes on: read bit, defaults back, the next text replaces the old.
    Stage().messageInput = 1;
    InputButtons.pressed = BUTTON_DECIDE;
    Frames();
    InputButtons.pressed = 0;
    Frames(3);
    EXPECT_EQ(SystemDataBlock.readText[0], 1 << 7);
    EXPECT_FLOAT_EQ(Stage().textSizeX, 0.5f);
    EXPECT_EQ(Stage().textColor, 0xFF000000u);
    ASSERT_TRUE(Text(kMessageFirstText));
    EXPECT_EQ(std::string(Text(kMessageFirstText)->text).find("abcdefghij"), std::string::npos);
    EXPECT_EQ(Text(kMessageNameText), nullptr);  // the name was cleared
}

TEST_F(MessageTest, ContinuedLineAppendsAndKeepsTheReveal) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;  // at once
    Run("<text first>\n<lw 1>\n<text second>\n<keywait -1>\n", 6);
    TextRecord* text = Text(kMessageFirstText);
    ASSERT_TRUE(text);
    const std::string t = text->text;
    EXPECT_NE(t.find("first"), std::string::npos);
    EXPECT_NE(t.find("second"), std::string::npos);
    EXPECT_LT(t.find("first"), t.find("second"));
    EXPECT_EQ(t.find("first", t.find("first") + 1), std::string::npos);  // not repeated
    EXPECT_EQ(Text(2), nullptr);
}

TEST_F(MessageTest, VoicePlaysOnItsSlotAndNeverOutsideTheEight) {
    SystemDataBlock.voiceVolume = 50;
    std::memset(SystemDataBlock.voiceMute, 0, sizeof SystemDataBlock.voiceMute);
    const char* cases[][2] = {{"3", "14"}, {"-9999", "11"}, {"-1", "11"}, {"8", "11"}};
    for (const auto& c : cases) {
        for (int ch = 0; ch < kSoundChannels; ++ch) SoundChannelTable[ch].st.path[0] = 0;
        Run(std::string("<voice ") + c[0] + ",V_Welm_0001.wav,80>\n", 3);
        const int channel = std::atoi(c[1]);
        EXPECT_STREQ(SoundChannelTable[channel].st.path, "sound/voice/v_welm_0001.ogg") << c[0];
        EXPECT_FLOAT_EQ(SoundChannelTable[channel].st.volume.load(), 40.0f) << c[0];
        for (int ch = 0; ch < kSoundChannels; ++ch) {
            if (ch == channel) continue;
            EXPECT_EQ(SoundChannelTable[ch].st.path[0], 0) << c[0] << " wrote channel " << ch;
        }
        Lib_SoundReset();
    }
    // Muted characters stay silent.
    std::memset(SystemDataBlock.voiceMute, 1, sizeof SystemDataBlock.voiceMute);
    SoundChannelTable[11].st.path[0] = 0;
    Run("<voice 0,V_Welm_0001.wav>\n", 3);
    EXPECT_EQ(SoundChannelTable[11].st.path[0], 0);
    std::memset(SystemDataBlock.voiceMute, 0, sizeof SystemDataBlock.voiceMute);
}

TEST_F(MessageTest, TheWindowOpensAtTheFirstWaitAndScriptsCloseIt) {
    FixedAdvances();
    SystemDataBlock.windowOpacity = 60;
    SystemDataBlock.textSpeed = 100;
    ASSERT_TRUE(Scripts({{"m.txt",
                          "<name Welm>\n<text hello>\n<keywait 1>\n<winframe 1>\n<winframe 1>\n"
                          "<layopt message1,fore,false>\n<text again>\n<keywait 2>\n"
                          "<layopt message0,fore,false>\n"}}));
    LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;
    Start("m.txt");
    Frames(5);
    auto sprite = [&](uint32_t s) { return GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), s); };
    ASSERT_GE(sprite(25), 0);
    EXPECT_EQ(Lib_SpriteGetColor(sprite(25)), 0x99FFFFFFu);
    EXPECT_EQ(Lib_SpriteGetFlag(sprite(25)), 1);
    EXPECT_EQ(Lib_SpriteGetFlag(sprite(24)), 0);  // the hidden master
    EXPECT_EQ(Lib_SpriteGetFlag(sprite(26)), 1);  // a name is shown
    EXPECT_EQ(Lib_SpriteGetColor(sprite(27)), 0xFFF0F0F0u);
    EXPECT_EQ(Lib_SpriteGetFlag(sprite(28)), 1);
    EXPECT_EQ(SpriteTable[sprite(26)].posX, -315.0f);
    EXPECT_EQ(Stage().layerVisible[9], 1);
    ASSERT_TRUE(Text(kMessageFirstText));
    EXPECT_TRUE(Text(kMessageFirstText)->state & TEXT_STATE_DRAWN);

    // On: winframe 1 closes at once, the same frame again does nothing, another
    // layer does nothing; the next wait opens with frame 1.
    InputButtons.pressed = BUTTON_DECIDE;
    Frames();
    InputButtons.pressed = 0;
    Frames(4);
    EXPECT_EQ(Stage().windowFrame, 1);
    ASSERT_GE(sprite(25), 0);
    EXPECT_EQ(Stage().layerVisible[9], 1);
    EXPECT_EQ(Lib_SpriteGetFlag(sprite(26)), 0);  // no name this time
    InputButtons.pressed = BUTTON_DECIDE;
    Frames();
    InputButtons.pressed = 0;
    Frames(4);
    EXPECT_LT(sprite(25), 0);
    EXPECT_LT(sprite(27), 0);
    EXPECT_EQ(Stage().layerVisible[9], 0);
    EXPECT_EQ(Text(kMessageFirstText), nullptr);
}

TEST_F(MessageTest, AutoModeGoesOnAfterItsCountdown) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    const int cases[][2] = {{80, 85}, {100, 31}};
    for (const auto& c : cases) {
        SystemDataBlock.autoSpeed = uint8_t(c[0]);
        StoryPlayMode = 4;
        Run("<text auto>\n<keywait>\n<wait>\n", 3);
        int waited = 0;
        while ((Work()->script.status & SCRIPT_PLAYER_WAIT) && waited < 400) {
            Frames();
            ++waited;
        }
        StoryPlayMode = 0;
        EXPECT_GE(waited, c[1] - 2) << c[0];
        EXPECT_LE(waited, c[1] + 1) << c[0];
    }
}

TEST_F(MessageTest, ConfirmNeedsInputAndANewPress) {
    Run("<wait>\n", 2);
    CommandContext c{};
    c.stage = &Stage();
    Stage().messageInput = 1;
    InputButtons.pressed = BUTTON_DECIDE;
    EXPECT_TRUE(GSL_FlagCheck(&c, BUTTON_DECIDE, 10));
    Stage().messageInput = 0;
    EXPECT_FALSE(GSL_FlagCheck(&c, BUTTON_DECIDE, 10));
    Stage().messageInput = 1;
    InputButtons.pressed = 0;
    InputButtons.held = BUTTON_DECIDE;  // held, not new
    EXPECT_FALSE(GSL_FlagCheck(&c, BUTTON_DECIDE, 10));
    InputButtons.held = 0;
}

namespace {

std::vector<std::pair<std::string, std::string>> g_records;

// Lists the replay records (command name and argument 0) inside the main run.
void ListRecords(CommandContext* c) {
    if (GSL_ReplayModeGet(c) != REPLAY_RUN) return;
    g_records.clear();
    char key[64];
    for (int32_t i = 0; i < GSL_ReplayCount(); ++i) {
        const int32_t cmd = GSL_ReplayRecordKey(i, 0, key, sizeof key);
        g_records.emplace_back(GSL_ScriptCommandGet(cmd).name, key);
    }
}

TEST_F(MessageTest, ReplayRowsKeepWhatTheRestoredLineNeeds) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    const std::string body =
        "<name A>\n<text a1>\n<voice 0,v_a>\n<font size:45>\n<textspeed 80>\n<winframe 1>\n<position 40>\n"
        "<layopt message0,back,true>\n<layopt message1,back,true>\n<lw>\n<analyze_00>\n<keywait 1>\n"
        "<name B>\n<text b1>\n<voice 1,v_b>\n<voice 1,v_c>\n<voice_stop 1>\n<font size:30>\n<textspeed 50>\n"
        "<winframe 0>\n<position 0>\n<140>\n<keywait 2>\n";
    ASSERT_TRUE(Scripts({{"m.txt", body}}));
    Handler(140, ListRecords);
    g_records.clear();
    const size_t at = body.find("<keywait 2>");
    const uint32_t offset = uint32_t(at + size_t(std::count(body.begin(), body.begin() + long(at), '\n')));
    Start("m.txt", offset, 0);
    Frames(8);
    using Records = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(g_records, (Records{{"text", "a1"}, {"layopt", "message0"}, {"keywait", "1"}, {"name", "B"},
                                  {"text", "b1"}, {"font", "size:30"}, {"textspeed", "50"}, {"winframe", "0"},
                                  {"position", "0"}}));
    // The records replayed: the first keywait only set its flags; the
    // restored line waits with the second message and its name.
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
    ASSERT_TRUE(Text(kMessageFirstText) && Text(kMessageNameText));
    EXPECT_NE(std::string(Text(kMessageFirstText)->text).find("b1"), std::string::npos);
    EXPECT_EQ(std::string(Text(kMessageFirstText)->text).find("a1"), std::string::npos);
    EXPECT_STREQ(Text(kMessageNameText)->text, "B");
    EXPECT_EQ(Stage().windowFrame, 0);
    EXPECT_EQ(Stage().textSpeed, 50);
}

TEST_F(MessageTest, SkippingGoesOnAtEveryWait) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 60;
    // Skipping goes on in the same call: the whole script in one frame.
    SystemDataBlock.skipAll = 1;
    StoryPlayMode = 1;
    RunTo("<text one>\n<keywait 3>\n<text two>\n<keywait 4>\n<text three>\n", "text");
    Frames(4);  // a frame for each message's reveal to be drawn complete
    EXPECT_EQ(executed.size(), 5u);
    StoryPlayMode = 0;
    SystemDataBlock.skipAll = 0;
    EXPECT_EQ(SystemDataBlock.readText[0], (1 << 3) | (1 << 4));
}

TEST_F(MessageTest, TheNoWaitFlagWaitsForTheRevealAndKeepsTheVoice) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 60;
    SystemDataBlock.voiceCut = 1;
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    RunTo("<text abcdef>\n<keywait 5,1>\n<wait>\n", "text");
    // A channel the worker leaves alone stands for a voice still sounding.
    SoundChannel& voice = SoundSlot(11, 11, SOUND_STARTING);
    voice.st.fadeOutFrames.store(0);
    Frames(3);
    ASSERT_NE(Text(kMessageFirstText), nullptr);
    EXPECT_EQ(Text(kMessageFirstText)->speed, 10);
    int frames = 0;
    while (!(SystemDataBlock.readText[0] & (1 << 5)) && frames < 200) Frames(), ++frames;
    EXPECT_GE(frames, 40);  // six characters at ten frames
    EXPECT_EQ(voice.st.state.load(), SOUND_STARTING);
    EXPECT_EQ(voice.st.fadeOutFrames.load(), 0u);  // never asked to stop
}

// The line's voice while the player reads on with a confirm: the "stop the
// voice when the text advances" setting stops it over 30 frames; without
// the setting it plays to its end under the next line.
TEST_F(MessageTest, AConfirmedAdvanceStopsTheVoiceOnlyWithItsSetting) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    for (const uint8_t cut : {uint8_t(1), uint8_t(0)}) {
        SCOPED_TRACE(cut ? "the setting on" : "the setting off");
        SystemDataBlock.voiceCut = cut;
        SystemDataBlock.readText[0] = 0;
        RunTo("<text spoken>\n<keywait 6>\n<wait>\n", "keywait");
        // A channel the worker leaves alone stands for the line's voice.
        SoundChannel& voice = SoundSlot(12, 12, SOUND_STARTING);
        voice.st.fadeOutFrames.store(0);
        Frames(3);
        ASSERT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
        InputButtons.pressed = BUTTON_DECIDE;
        Frames();
        InputButtons.pressed = 0;
        Frames(2);
        EXPECT_EQ(SystemDataBlock.readText[0], 1 << 6);
        EXPECT_EQ(voice.st.fadeOutFrames.load(), cut ? 30u : 0u);
    }
    SystemDataBlock.voiceCut = 0;
}

TEST_F(MessageTest, IdsOutsideTheReadBitsSetNone) {
    FixedAdvances();
    std::memset(SystemDataBlock.readText, 0, sizeof SystemDataBlock.readText);
    SystemDataBlock.skipAll = 1;
    StoryPlayMode = 1;
    RunTo("<text x>\n<keywait -1>\n<text y>\n<keywait 33600>\n<text z>\n<keywait 33599>\n", "text");
    Frames(6);
    StoryPlayMode = 0;
    SystemDataBlock.skipAll = 0;
    int set = 0;
    for (uint8_t b : SystemDataBlock.readText) set += __builtin_popcount(b);
    EXPECT_EQ(set, 1);
    EXPECT_EQ(SystemDataBlock.readText[33599 >> 3], 1 << (33599 & 7));
}

TEST_F(MessageTest, TheIconBlinksInStepsOfFive) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;
    Run("<text blink>\n<keywait>\n<wait>\n", 4);
    const int32_t icon = GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), kMessageIconSlot);
    ASSERT_GE(icon, 0);
    std::vector<uint32_t> alphas;
    for (int i = 0; i < 54; ++i) Frames(), alphas.push_back(Lib_SpriteGetColor(icon) >> 24);
    const auto top = std::find(alphas.begin(), alphas.end(), 255u);
    ASSERT_NE(top, alphas.end());
    for (auto it = alphas.begin(); it + 1 != top + 1 && it + 1 != alphas.end(); ++it) EXPECT_EQ(*(it + 1), *it + 5);
    ASSERT_NE(top + 1, alphas.end());
    EXPECT_EQ(*(top + 1), 250u);
}

TEST_F(MessageTest, AutoWaitsForVoicesAndGoesOnWithInputOff) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    // Auto speed 0: 301 frames, standing while a voice channel sounds; a
    // confirm with input off is ignored, auto still goes on.
    SystemDataBlock.autoSpeed = 0;
    StoryPlayMode = 4;
    RunTo("<text auto>\n<keywait>\n<wait>\n", "keywait");
    Stage().messageInput = 0;
    SoundChannel& voice = SoundSlot(12, 12, SOUND_STARTING);
    InputButtons.pressed = BUTTON_DECIDE;
    Frames(100);
    InputButtons.pressed = 0;
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);  // the voice holds the countdown
    voice.st.state.store(0);
    int waited = 0;
    while ((Work()->script.status & SCRIPT_PLAYER_WAIT) && waited < 400) Frames(), ++waited;
    StoryPlayMode = 0;
    Stage().messageInput = 1;
    EXPECT_GE(waited, 299);
    EXPECT_LE(waited, 302);
}

TEST_F(MessageTest, LayoptOpensOverSixtyFramesOrAtOnce) {
    FixedAdvances();
    SystemDataBlock.textSpeed = 100;
    LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;
    SystemDataBlock.windowOpacity = 100;
    auto window = [] { return GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), kMessageWindowSlot); };
    // layopt message0,back,true fades in over 60 frames; fore,false closes at once.
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    RunTo("<layopt message0,back,true>\n<wait>\n", "layopt");
    ASSERT_GE(Stage().openTask, 0);
    Frames(30);
    EXPECT_GE(Stage().openTask, 0);
    Frames(35);
    EXPECT_EQ(Stage().openTask, -1);
    RunTo("<layopt message0,fore,false>\n<wait>\n", "layopt");
    EXPECT_LT(window(), 0);
    SystemDataBlock.instantEffects = 1;  // byte 28: at once
    RunTo("<layopt message0,back,true>\n<wait>\n", "layopt");
    EXPECT_EQ(Stage().openTask, -1);
    EXPECT_GE(window(), 0);
    SystemDataBlock.instantEffects = 0;
}

TEST_F(MessageTest, VoiceStopNeedsItsSettingAndAVoiceStillSoundingIsStoppedFirst) {
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    // voice_stop only with the stop setting on.
    SoundChannel& v = SoundSlot(11, 11, SOUND_STARTING);
    v.st.fadeOutFrames.store(0);
    SystemDataBlock.voiceCut = 0;
    RunTo("<voice_stop 0>\n<wait>\n", "voice_stop");
    EXPECT_EQ(v.st.fadeOutFrames.load(), 0u);
    // Over a voice still sounding the first call stops it, a later one plays.
    SystemDataBlock.voiceVolume = 100;
    RunTo("<voice 0,V_Welm_0001.wav>\n<wait>\n", "voice");
    EXPECT_STRNE(SoundChannelTable[11].st.path, "sound/voice/v_welm_0001.ogg");
    EXPECT_EQ(v.st.fadeOutFrames.load(), 16u);  // stopped over the default fade
    EXPECT_TRUE(Work()->script.status & SCRIPT_BUSY);
    Frames(2);
    EXPECT_STREQ(SoundChannelTable[11].st.path, "sound/voice/v_welm_0001.ogg");
}

TEST_F(MessageTest, AClickAnywhereButTheCornerBoxesConfirms) {
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    Run("<wait>\n", 2);
    StartInput();
    bool fired = false;
    CommandContext c{};
    c.stage = &Stage();
    auto clickAt = [&](int32_t x, int32_t y) {
        fired = false;
        Pointer(x, y);
        Frame();
        Left(true);
        Frame();
        EXPECT_FALSE(GSL_FlagCheck(&c, 0, 10)) << "a bare press at " << x;
        Left(false);
        Frame();
        fired = fired || GSL_FlagCheck(&c, 0, 10);
        return fired;
    };
    EXPECT_TRUE(clickAt(640, 400));
    EXPECT_FALSE(clickAt(1250, 20));  // the right corner box
    EXPECT_FALSE(clickAt(20, 20));    // the left one
    Stage().messageInput = 0;
    EXPECT_FALSE(clickAt(640, 400));
    Stage().messageInput = 1;
}

}  // namespace
