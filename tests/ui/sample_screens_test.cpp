// The sample's logo and manual stand-ins through the screen harness and the
// full main initialisation, compared with stored pictures.
#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "screens/boot.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
using SampleScreens = ScreenHarness;

bool Ready(ModeFunction screen) {
    return GSL_ModeTop() == screen && Lib_SpriteGetState(GSL_WorkLayerGet(screen, 0)) == 2;
}

TEST_F(SampleScreens, LogoThenManualPageOverIt) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    ASSERT_TRUE(Fonts());
    StartFull();
    FramesUntil([] { return Ready(GSL_LogoModeCB); }, 60, "the logo");
    EXPECT_TRUE(MatchesReference("screen_logo"));
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    FramesUntil([] { return Ready(GSL_ManualModeCB); }, 60, "the manual page");
    EXPECT_TRUE(MatchesReference("screen_manual"));
    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    FramesUntil([] { return GSL_ModeTop() == GSL_LogoModeCB && !GSL_WorkGet(GSL_LogoModeCB)->suspended; }, 5,
                "the logo again");
    EXPECT_TRUE(MatchesReference("screen_logo"));
}
}  // namespace
