#include <gtest/gtest.h>

#include "app/frame.h"
#include "engine/core/frame_clock.h"

namespace {

uint64_t g_now = 0;
uint8_t g_rateFromTask = 0;  // a rate the next task pass sets, as a screen would
bool g_everyPassWork = false;
bool NoMessage() { return false; }
uint64_t Now() { return g_now; }
int NoTasks(bool) { return 0; }
int RateTask(bool) {
    if (g_rateFromTask) Lib_FrameRateSet(g_rateFromTask);
    g_rateFromTask = 0;
    return 0;
}
void NoService() {}
bool EveryPassWork() { return g_everyPassWork; }

TEST(FramePeriod, TheClockTakesANewPeriodOverFromTheNextPass) {
    EXPECT_EQ(FrameRateSwitch, 1);
    const uint8_t saved = FrameRateConfig;
    const GamePassOps ops{NoMessage, Now, NoTasks, NoService, EveryPassWork};
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

TEST(FramePeriod, TheWaitBetweenFramesEndsWhenARateIsSet) {
    const GamePassOps ops{NoMessage, Now, RateTask, NoService, EveryPassWork};
    Lib_FrameRateSet(30);
    FrameClock clock(FramePeriodUs);
    g_now = 2'000'000;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);
    g_now += 1000;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    EXPECT_EQ(Main_BetweenFramesWaitUs(clock, ops), 33333u - 1000);  // until the next frame
    g_everyPassWork = true;
    EXPECT_EQ(Main_BetweenFramesWaitUs(clock, ops), 1000u);  // an every-pass task's rest
    g_everyPassWork = false;

    // A task doubles the rate in a pass between frames: the game thread does
    // not wait out the old period, and the next frame comes one new period
    // after the last.
    g_rateFromTask = 60;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    EXPECT_LE(Main_BetweenFramesWaitUs(clock, ops), 16666u - 1000);
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_BETWEEN);
    EXPECT_EQ(Main_BetweenFramesWaitUs(clock, ops), 16666u - 1000);
    g_now += 16666 - 1000;
    EXPECT_EQ(Main_GamePass(clock, ops), PASS_FRAME);
    Lib_RunStateReset();
}

}  // namespace
