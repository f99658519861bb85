#include <gtest/gtest.h>

#include "app/frame.h"
#include "engine/core/frame_clock.h"

namespace {

uint64_t g_now = 0;
bool NoMessage() { return false; }
uint64_t Now() { return g_now; }
int NoTasks(bool) { return 0; }
void NoService() {}

TEST(FramePeriod, TheClockTakesANewPeriodOverFromTheNextPass) {
    EXPECT_EQ(FrameRateSwitch, 1);
    const uint8_t saved = FrameRateConfig;
    const GamePassOps ops{NoMessage, Now, NoTasks, NoService};
    Lib_FrameRateSet(60);
    FrameClock clock(16666);
    g_now = 2'000'000;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);

    // A task halves the rate during a frame: the next frame is due one new
    // period after the last one.
    Lib_FrameRateSet(30);
    g_now += 16666;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    EXPECT_EQ(clock.periodUs(), 33333u);
    g_now += 33333 - 16666 - 1;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    g_now += 1;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);
    Lib_FrameRateSet(saved);

    // A period of 0 counts as one microsecond rather than dividing by zero.
    FrameClock zero(0);
    EXPECT_TRUE(zero.step(g_now));
    EXPECT_FALSE(zero.step(g_now));
    EXPECT_TRUE(zero.step(g_now + 1));
    zero.setPeriod(0);
    EXPECT_EQ(zero.periodUs(), 1u);
}

}  // namespace
