// The sample's logo and manual stand-ins through the screen harness and the
// full main initialisation, compared with stored pictures.
#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "screens/boot.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/utility_dialog.h"

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

// The logo menu's current item at its own colour: the pulse would put
// another shade in each picture.
void MenuStill() {
    for (TaskRecord* t : TaskTable.slots) {
        if (!t || t->dead || t->callback != GSL_InputCB) continue;
        const auto* w = static_cast<const SelectInputWork*>(t->work);
        if (w->cursor >= 0 && w->cursor < kSelectItems)
            Lib_SpriteSetColor(GSL_WorkLayerGet(GSL_LogoModeCB, uint32_t(w->layers[w->cursor])), 0xFFFFFFFFu);
    }
}

// The manual is up, its opening wipe over.
bool PageIn() {
    const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    return Ready(GSL_ManualModeCB) && w && w->step == 2;
}

TEST_F(SampleScreens, LogoThenManualPageOverIt) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    ASSERT_TRUE(Fonts());
    StartFull();
    FramesUntil([] { return Ready(GSL_LogoModeCB); }, 90, "the logo");
    MenuStill();
    EXPECT_TRUE(MatchesReference("screen_logo"));
    const int sprites = InUse(), tasks = TaskCount(400);
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    FramesUntil(PageIn, 60, "the manual page");
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
    FramesUntil(
        [] {
            return GSL_ModeTop() == GSL_LogoModeCB && !GSL_WorkGet(GSL_LogoModeCB)->suspended &&
                   OverlayClear();
        },
        90, "the logo again");
    MenuStill();
    EXPECT_TRUE(MatchesReference("screen_logo"));
    // The page's widgets went with it.
    EXPECT_EQ(InUse(), sprites);
    EXPECT_EQ(TaskCount(400), tasks);

    // Item 2 asks its question in front of everything on the logo.
    Hold(BUTTON_DOWN);
    Frame();
    Release(BUTTON_DOWN);
    Frame();
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    FramesUntil(
        [] {
            for (const TaskRecord* t : TaskTable.slots)
                if (t && t->callback == Lib_UtilityCB && static_cast<const UtilityDialogWork*>(t->work)->state == 10)
                    return true;
            return false;
        },
        30, "the question");
    Frame();  // its first waiting frame marks the selected button
    EXPECT_TRUE(MatchesReference("screen_logo_question"));
    // "No" closes it; the logo's sprites are as they were.
    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    Frame(2);
    for (const TaskRecord* t : TaskTable.slots) EXPECT_FALSE(t && t->callback == Lib_UtilityCB);
    EXPECT_EQ(InUse(), sprites);
}
}  // namespace
