// The message commands on the stage harness: the name and the message text
// in the story screen's text slots, their settings, the append after a
// continued line, and the small rules the waits and the scroll bar share.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/charcode.h"
#include "engine/input/input.h"
#include "engine/text/text_layout.h"
#include "script/message.h"
#include "tests/script/markup_env.h"
#include "story/story_standins.h"
#include "ui/screen_slots.h"

namespace {

class MessageTest : public MarkupEnv {
public:
    StageRecord& Stage() { return GameStateBlock.stage; }
    TextRecord* Text(uint32_t textSlot) {
        const int32_t h = GSL_WorkTextGet(ScreenUpper.storyScreen, textSlot);
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
    auto sprite = [&](uint32_t s) { return GSL_WorkLayerGet(ScreenUpper.storyScreen, s); };
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
