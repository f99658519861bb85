// Widgets deleted before their sheets have arrived: each sheet still loading
// is given back once its load ends, loaded or failed, whether the widget went
// by its own delete call, with the screen's tasks or with the system widgets.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/render/sprite.h"
#include "tests/ui/screen_harness.h"
#include "ui/loading.h"
#include "ui/number_display.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/utility_dialog.h"
#include "ui/window_frame.h"
#include "ui/wipe.h"

namespace {

class WidgetFreeTest : public ScreenHarness {
protected:
    void Start() {
        ASSERT_TRUE(Files({Tool("image_data.py", "visual/system/sys_system_00.ext", "ext0 {} --size 208 760"),
                           Tool("image_data.py", "visual/system/sys_system_03.ext", "ext0 {} --size 64 64"),
                           Tool("image_data.py", "visual/system/sys_system_04.ext", "ext0 {} --size 176 192"),
                           Tool("image_data.py", "visual/system/sys_system_05.ext", "ext0 {} --size 64 64")}));
        StartMinimal();
        SetBody(0, [] {});
        ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    }
    static int InUse() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
        return n;
    }
    // Sprites holding one of the widgets' sheets (the mode task starts the
    // boot screen's logos once the stack is empty: those are not counted).
    static int Sheets() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable)
            n += (s.flags & SPRITE_IN_USE) && std::strncmp(s.fileName, "visual/system/sys_system_0", 26) == 0 ? 1 : 0;
        return n;
    }
    static int Loading() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable)
            n += (s.flags & (SPRITE_IN_USE | SPRITE_READY | SPRITE_FAILED)) == SPRITE_IN_USE && !s.texture ? 1 : 0;
        return n;
    }
    static constexpr float kCentre[2] = {0.0f, 0.0f}, kOne[2] = {1.0f, 1.0f}, kBar[2] = {1.0f, 5.0f};
    static constexpr float kAt[3] = {0.0f, 0.0f, 0.0f};
};

TEST_F(WidgetFreeTest, SheetsStillLoadingAreGivenBackOnceTheyArrive) {
    if (IsSkipped()) return;
    Start();
    const int before = InUse();

    // Each by its own delete call, before a single frame has run: the
    // sheets of their own and those in the screen's layer slots.
    const int32_t win = GSL_SystemWinSet(kCentre, kOne, 500, 1);
    const int32_t bar = GSL_SystemBarSet(kCentre, kBar, 600, 1, 0, 10, -1, -1);
    const int32_t slotBar = GSL_SystemBarSet(kCentre, kBar, 600, 1, 0, 10, 0, -1);
    const int32_t num = GSL_SystemNumSet(kAt, -1);
    const int32_t slotNum = GSL_SystemNumSet(kAt, 10);
    const int32_t loading = GSL_SystemLoadingSet(20, 1);
    const int32_t dialog = Lib_DialogOpen(0, "?", 0, 98, 0);  // its picture is missing: the load fails
    ASSERT_EQ(Loading(), 7);
    GSL_SystemWinDel(win);
    GSL_SystemBarDel(bar);
    GSL_SystemBarDel(slotBar);
    GSL_SystemNumDel(num);
    GSL_SystemNumDel(slotNum);
    GSL_SystemLoadingDel(loading);
    Lib_DialogClose(dialog);
    Frame(8);
    EXPECT_EQ(InUse(), before);

    // A layer slot loaded again before its first picture has come.
    GSL_WorkLayerLoad(nullptr, 5, -1, kSystemSheet, -1, 1, nullptr, nullptr);
    GSL_WorkLayerLoad(nullptr, 5, -1, kDigitSheet, -1, 1, nullptr, nullptr);
    Frame(8);
    EXPECT_EQ(InUse(), before + 1);
    GSL_WorkLayerFree(nullptr, 5);
    EXPECT_EQ(InUse(), before);

    // With the screen's tasks, all at once (the sheets are cached by now: they
    // still arrive through the loader, a frame later).
    GSL_SystemWinSet(kCentre, kOne, 500, 1);
    GSL_SystemBarSet(kCentre, kBar, 600, 1, 0, 10, -1, -1);
    GSL_SystemNumSet(kAt, -1);
    ASSERT_EQ(Loading(), 3);
    GSL_WorkDeleteAll();
    Frame(4);
    EXPECT_EQ(Sheets(), 0);

    // The save icon's frame, with the system widgets.
    GSL_SystemSaveIcon0Set(1000);
    Frame();
    ASSERT_EQ(Sheets(), 1);
    GSL_SystemWidgetsEnd();
    Frame(4);
    EXPECT_EQ(Sheets(), 0);

    // A whole screen going while a layer's picture is still on its way.
    ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    GSL_WorkLayerLoad(nullptr, 5, -1, kSystemSheet, -1, 1, nullptr, nullptr);
    ASSERT_EQ(Loading(), 1);
    GSL_WorkDeleteAll();
    Frame(8);
    EXPECT_EQ(Sheets(), 0);
}

}  // namespace
