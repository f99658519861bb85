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
    const uint32_t saved = FramePeriodUs;
    const GamePassOps ops{NoMessage, Now, NoTasks, NoService};
    FramePeriodUs = 16666;
    FrameClock clock(16666);
    g_now = 2'000'000;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);

    // A task halves the rate during a frame: the next frame is due one new
    // period after the last one.
    FramePeriodUs = 33333;
    g_now += 16666;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    EXPECT_EQ(clock.periodUs(), 33333u);
    g_now += 33333 - 16666 - 1;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    g_now += 1;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);

    // A period of 0 counts as one microsecond rather than dividing by zero.
    FramePeriodUs = 0;
    g_now += 5;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    g_now += 1;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);
    FramePeriodUs = saved;
}

}  // namespace
