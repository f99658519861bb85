#include "script/stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "script/staffroll.h"
#include "script_env.h"

namespace {

// The record's bytes after a reset, written here from the layout: every
// byte starts as `fill`; the reset values go to their offsets.
std::vector<uint8_t> Golden(uint8_t fill, bool name) {
    std::vector<uint8_t> b(792, fill);
    auto i32 = [&](size_t at, int32_t v) { std::memcpy(&b[at], &v, 4); };
    auto f32 = [&](size_t at, float v) { std::memcpy(&b[at], &v, 4); };
    for (size_t i = 0; i < 23; ++i) f32(4 * i, 1.0f);
    if (name) b[92] = b[93] = 0;
    for (size_t at = 160; at < 720; at += 4) i32(at, -1);
    for (size_t at = 720; at < 732; ++at) b[at] = 1;
    b[732] = 0;  // 733..735: padding, kept
    for (size_t at = 736; at < 756; at += 4) i32(at, 0);
    f32(756, 0.5f);
    f32(760, 0.5f);
    i32(764, int32_t(0xFF000000u));
    i32(768, -1);
    i32(772, 0);
    i32(776, 0);
    i32(780, 0);
    i32(784, -1);
    b[788] = 1;  // 789..791: padding, kept
    return b;
}

std::vector<uint8_t> Bytes(const StageRecord& s) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&s);
    return std::vector<uint8_t>(p, p + sizeof s);
}

class StageTest : public ScriptEnv {};

TEST_F(StageTest, ResetsAgainstTheLayout) {
    StageRecord s;
    std::memset(&s, 0xAB, sizeof s);
    StageCamera[0].fov = 123.0f;
    MoveQueues[5].count = 9;
    GSL_StageReset(&s, 1 | 2);
    EXPECT_EQ(Bytes(s), Golden(0xAB, true));
    EXPECT_EQ(StageCamera[0].fov, 123.0f);  // flag 4 alone touches the cameras
    EXPECT_EQ(MoveQueues[5].count, 0);

    // Flag 2 keeps the flag byte and the name (a staff roll saved keeps bit 0).
    std::memset(&s, 0xCD, sizeof s);
    GSL_StageReset(&s, 2);
    EXPECT_EQ(Bytes(s), Golden(0xCD, false));

    // Flags 2|4 at script start: the four stage cameras take the defaults.
    std::memset(&s, 0xEF, sizeof s);
    ActiveCamera.fov = 0.5f;
    GSL_StageReset(&s, 2 | 4);
    EXPECT_EQ(Bytes(s), Golden(0xEF, false));
    for (const CameraRecord& c : StageCamera) {
        EXPECT_FLOAT_EQ(c.fov, 1.0471976f);
        EXPECT_FLOAT_EQ(c.aspect, 16.0f / 9.0f);
        EXPECT_EQ(c.distance, 50.0f);
        EXPECT_EQ(c.target[0], 0.0f);
    }
    Lib_CameraReset(&ActiveCamera);

    // Flag 1 alone: only the flag byte and the name's first byte.
    std::memset(&s, 0x11, sizeof s);
    GSL_StageReset(&s, 1);
    std::vector<uint8_t> only(792, 0x11);
    only[92] = only[93] = 0;
    EXPECT_EQ(Bytes(s), only);
    GSL_StageReset(nullptr, 7);
}

TEST_F(StageTest, ResourcePaths) {
    static std::vector<std::string> unlocked;
    unlocked.clear();
    ScriptHost host{};
    host.accessFlagGal = [](const char* name, int32_t id, int8_t mode) -> int32_t {
        unlocked.push_back(std::string(name) + "/" + std::to_string(id) + "/" + std::to_string(mode));
        return 0;
    };
    GSL_ScriptHostSet(&host);
    auto path = [](int32_t kind, const char* name, bool unlock = false) {
        char out[256];
        std::memset(out, 'q', sizeof out);
        GSL_ResPathMake(kind, name, out, sizeof out, unlock);
        return std::string(out);
    };
    EXPECT_EQ(path(0, "Bg/Event_01.png"), "visual/adv/event_01.ext");
    EXPECT_TRUE(unlocked.empty());
    EXPECT_EQ(path(0, "Bg/Event_01.png", true), "visual/adv/event_01.ext");
    EXPECT_EQ(unlocked, std::vector<std::string>{"event_01/-1/1"});
    EXPECT_EQ(path(0, "bg02", true), "visual/adv/bg02.ext");
    EXPECT_EQ(unlocked.size(), 1u);
    EXPECT_EQ(path(10, "Wipe_003"), "visual/wipe/wipe_003.ext");
    EXPECT_EQ(path(20, "op.avi.x"), "movie/op.avi");
    EXPECT_EQ(path(30, "v\\V_WELM_01"), "sound/voice/v_welm_01.ogg");
    EXPECT_EQ(path(40, "bgm03"), "sound/bgm/bgm03.oggl");
    EXPECT_EQ(path(50, "SE_01.wav"), "sound/se/se_01.ogg");
    EXPECT_EQ(path(7, "a/Name.png"), "name");
    EXPECT_EQ(path(40, "\x83\x41X"), "sound/bgm/\x83\x41x.oggl");
    EXPECT_EQ(path(0, ""), "");
    EXPECT_EQ(path(0, nullptr), "");
    // A path that does not fit gives an empty result and one debug line.
    const std::string longest(240, 'n');
    EXPECT_EQ(path(40, longest.c_str()).size(), 255u);
    script_env::g_debug.clear();
    EXPECT_EQ(path(40, (longest + "n").c_str()), "");
    EXPECT_EQ(path(0, std::string(255, 'e').c_str()), "");
    EXPECT_EQ(script_env::g_debug.size(), 2u);
}

TEST_F(StageTest, WaitLengths) {
    EXPECT_EQ(GSL_WaitFrames(0), 0u);
    EXPECT_EQ(GSL_WaitFrames(1), 4u);
    EXPECT_EQ(GSL_WaitFrames(16), 4u);
    EXPECT_EQ(GSL_WaitFrames(200), 12u);
    EXPECT_EQ(GSL_WaitFrames(4050), 243u);
    EXPECT_EQ(GSL_WaitFrames(-9999), 0u);
    EXPECT_EQ(GSL_WaitFrames(INT32_MAX), 128849019u);
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    EXPECT_EQ(GSL_WaitFrames(200), 0u);
}

TEST_F(StageTest, SkipDecisions) {
    Scripts({{"00_init.txt", "<wait>\n<keywait 5>\n<keywait 9>\n"},
             {"far.txt", "<keywait>\n<keywait 40000>\n"},
             {"neg.txt", "<keywait -1>\n"},
             {"none.txt", "<wait>\n"}});
    auto skip_in = [&](const char* file) {
        Start(file);
        StoryPresent(true);
        Frame();  // the text is loaded
        return GSL_IsSkip();
    };
    // Skip mode off: never, except in the replay modes.
    EXPECT_FALSE(skip_in("00_init.txt"));
    Work()->script.status = SCRIPT_REPLAY_RUN;
    EXPECT_TRUE(GSL_IsSkip());
    Work()->script.status = SCRIPT_REPLAYING;
    EXPECT_TRUE(GSL_IsSkip());
    Work()->script.status = 0;

    StoryPlayMode = PLAY_SKIP;
    EXPECT_FALSE(GSL_IsSkip());  // message 5 is unread
    SystemDataBlock.readText[0] = 1 << 5;
    EXPECT_TRUE(GSL_IsSkip());
    Work()->script.readOffset = 20;  // behind the first keywait: message 9
    EXPECT_FALSE(GSL_IsSkip());
    SystemDataBlock.readText[1] = 1 << 1;
    EXPECT_TRUE(GSL_IsSkip());
    Work()->context.stage->flags |= kStageRollBit;  // a staff roll runs
    EXPECT_FALSE(GSL_IsSkip());
    Work()->context.stage->flags &= uint8_t(~kStageRollBit);
    Work()->script.readOffset = 0;
    SystemDataBlock.readText[0] = 0;
    SystemDataBlock.skipAll = 1;
    EXPECT_TRUE(GSL_IsSkip());
    SystemDataBlock.skipAll = 0;
    SpecialScenarioFlag = 1;
    EXPECT_TRUE(GSL_IsSkip());
    SpecialScenarioFlag = 0;
    EXPECT_FALSE(GSL_IsSkip());

    // A keywait without a number is passed over; 33600 and above is never read.
    EXPECT_FALSE(skip_in("far.txt"));
    EXPECT_TRUE(skip_in("neg.txt"));
    EXPECT_TRUE(skip_in("none.txt"));
    // No story script: nothing to wait for.
    StoryPresent(false);
    EXPECT_TRUE(GSL_IsSkip());
}

}  // namespace
