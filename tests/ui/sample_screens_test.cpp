// The sample's manual page over the title through the screen harness and the
// full main initialisation, compared with a stored picture.
#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "screens/boot.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"

namespace {
using SampleScreens = ScreenHarness;

// The overlay faded away.
bool OverlayClear() {
    const auto* w = static_cast<const DispColorWork*>(TaskTable.slots[DispColorTask]->work);
    return GSL_SystemDispColorCheck() && w->current < 0x01000000u;
}

// Loaded, and the overlay's fade over.
bool Ready(ModeFunction screen) {
    return GSL_ModeTop() == screen && Lib_SpriteGetState(GSL_WorkLayerGet(screen, 0)) == 2 && OverlayClear();
}

int InUse() {
    int n = 0;
    for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
    return n;
}

// The title's menu taking input.
bool TitleMenu() {
    const ScreenWork* w = GSL_WorkGet(GSL_TitleModeCB);
    return GSL_ModeTop() == GSL_TitleModeCB && w && !w->suspended && w->step == TITLE_STEP_INPUT &&
           w->subState == 0 && OverlayClear();
}
// The manual is up, its opening wipe over.
bool PageIn() {
    const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    return Ready(GSL_ManualModeCB) && w && w->step == 2;
}

TEST_F(SampleScreens, TitleThenManualPageOverIt) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    ASSERT_TRUE(Fonts());
    StartFull();
    ModeStack[0] = GSL_TitleModeCB;  // in the boot's place, without the movie
    TitleFlags = 6;
    FramesUntil(TitleMenu, 600, "the title menu");
    Frame(30);
    const int sprites = InUse(), tasks = TaskCount(400);
    // New game, load, options, manual.
    for (int i = 0; i < 3; ++i) {
        Hold(BUTTON_DOWN);
        Frame();
        Release(BUTTON_DOWN);
        Frame();
    }
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    FramesUntil(PageIn, 300, "the manual page");
    EXPECT_TRUE(MatchesReference("screen_manual"));
    // Right turns to the second page, Left back; a further Left changes
    // nothing.
    auto x = [](uint32_t n) { return SpriteTable[GSL_WorkLayerGet(GSL_ManualModeCB, n)].posX; };
    for (uint32_t key : {0x4000u, 0x1000u, 0x1000u}) {
        Hold(key);
        Frame();
        Release(key);
        Frame(20);
    }
    EXPECT_EQ(x(6), 0.0f);
    EXPECT_EQ(x(7), 1000.0f);
    Hold(0x4000u);
    Frame();
    Release(0x4000u);
    Frame(20);
    EXPECT_EQ(x(6), -1000.0f);
    EXPECT_EQ(x(7), 0.0f);
    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    FramesUntil(TitleMenu, 90, "the title again");
    // The page's widgets went with it.
    EXPECT_EQ(InUse(), sprites);
    EXPECT_EQ(TaskCount(400), tasks);
}
}  // namespace
