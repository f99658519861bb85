// The message commands on the stage harness: the name and the message text
// in the story screen's text slots, their settings, the append after a
// continued line, and the small rules the waits and the scroll bar share.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/core/charcode.h"
#include "script/message.h"
#include "tests/script/markup_env.h"
#include "tests/script/script_env.h"
#include "ui/screen_slots.h"

namespace {

class MessageTest : public MarkupEnv {
public:
    StageRecord& Stage() { return GameStateBlock.stage; }
    TextRecord* Text(uint32_t textSlot) {
        const int32_t h = GSL_WorkTextGet(ScreenUpper.storyScreen, textSlot);
        return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    }
    void Run(const std::string& body, int frames = 3) {
        ASSERT_TRUE(Scripts({{"m.txt", body}}));
        Start("m.txt");
        Frame(frames);
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
