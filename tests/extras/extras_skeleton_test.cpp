// The extras skeleton through the screen harness: a test screen calls the
// skeleton's pieces with injected input, as the gallery, the music room and
// the special-scenario menu do.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "extras/extras_skeleton.h"
#include "tests/ui/screen_harness.h"
#include "ui/number_display.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"

namespace {

class ExtrasSkeleton : public ScreenHarness {
protected:
    bool Start(bool sample = true) {
        if (sample && !SampleData()) return false;
        StartMinimal();
        SetBody(0, [this] {
            if (body) body();
        });
        return MakeContext(TestScreen(0)) != nullptr;
    }
    std::function<void()> body;
};

TEST(ExtrasZoom, SixFramesDownAndFiveUpInSinglePrecision) {
    float scale = 1.0f;
    const float down[6] = {0.8f, 0.6f, 0.40000004f, 0.20000003f, 2.9802322e-8f, -0.19999997f};
    for (int i = 0; i < 6; ++i) {
        const bool end = Extras_ZoomStep(&scale, -0.2f);
        EXPECT_EQ(scale, down[i]) << i;
        EXPECT_EQ(end, i == 5) << i;
    }
    scale = 0.0f;  // the redraw's exact 0
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Extras_ZoomStep(&scale, 0.2f), i == 4) << i;
    EXPECT_EQ(scale, 1.0f);
}

TEST(ExtrasFollow, ScrollsToKeepTheSelectionInThreeRows) {
    const ExtrasGrid grid{4, 150.0f, 3};
    EXPECT_EQ(Extras_FollowRows(grid, 11, 0), 0);
    EXPECT_EQ(Extras_FollowRows(grid, 12, 0), 1);   // row 3: one row
    EXPECT_EQ(Extras_FollowRows(grid, 20, 0), 3);   // row 5: the third visible row
    EXPECT_EQ(Extras_FollowRows(grid, 0, 3), -3);   // row 0 from below: the first row
    EXPECT_EQ(Extras_FollowRows(grid, 17, 3), 0);
}

TEST_F(ExtrasSkeleton, CountUpShowsStepsOfThreeWithMoveEverySixth) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    const float at[3] = {0.0f, 0.0f, 0.0f};
    const int32_t number = GSL_SystemNumSet(at, -1);
    int32_t counter = 0;
    std::vector<int32_t> shown, moves;
    for (int i = 0; i < 40; ++i) {
        const int32_t before = counter, rotation = SystemSeRotation;
        if (Extras_CountUp(&counter, 53, number, false)) break;
        shown.push_back(GSL_SystemNumWork(number)->value);
        if (SystemSeRotation != rotation) moves.push_back(before);
    }
    std::vector<int32_t> want;
    for (int32_t v = 3; v <= 51; v += 3) want.push_back(v);
    want.push_back(53);
    EXPECT_EQ(shown, want);
    EXPECT_EQ(moves, (std::vector<int32_t>{0, 6, 12, 18, 24, 30, 36, 42, 48}));
    EXPECT_EQ(counter, 0);
    // Rate 0 ends at once and plays nothing.
    const int32_t rotation = SystemSeRotation;
    EXPECT_TRUE(Extras_CountUp(&counter, 0, number, false));
    EXPECT_EQ(SystemSeRotation, rotation);
    FramesUntil([number] { return GSL_SystemNumWork(number)->done != 0; }, 30, "the digits");
    GSL_SystemNumDel(number);
}

TEST_F(ExtrasSkeleton, ArrowsBobNineteenPixelsOutAndBackEverySixtyFrames) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Extras_LayerLoad(1, "visual/system/sys_system_01.ext", 1);
    ASSERT_TRUE(FramesUntil([] { return GSL_WorkLayersReady(nullptr); }, 30, "the sheet"));
    Extras_ArrowsSet();
    const int32_t prev = GSL_WorkLayerGet(nullptr, 3), next = GSL_WorkLayerGet(nullptr, 4);
    ASSERT_TRUE(Lib_SpriteIsLive(prev));
    int32_t angle = 0;
    float widest = 0.0f;
    for (int i = 0; i < 60; ++i) {
        Extras_ArrowBob(&angle);
        widest = std::fmax(widest, SpriteTable[next].posX - 491.0f);
        EXPECT_NEAR(SpriteTable[prev].posX + 490.0f, -(SpriteTable[next].posX - 491.0f), 1e-3f);
    }
    EXPECT_NEAR(widest, 19.08f, 0.01f);
    EXPECT_NEAR(SpriteTable[next].posX, 491.0f, 1e-3f);
    EXPECT_EQ(angle, 0);
}

TEST_F(ExtrasSkeleton, SwipeChangesOncePerPressBeyond171Pixels) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(false));
    int changes = 0;
    body = [&] { changes += Extras_Swipe(1, 4) ? 1 : 0; };
    for (int distance : {171, 172}) {
        changes = 0;
        ExtrasSwipeLatch[1] = 0;
        Pointer(800, 300);
        Frame();
        Left(true);
        Frame();
        Pointer(800 - distance, 300);
        Frame();
        body = [&] {
            const bool c = Extras_Swipe(1, 4);
            changes += c ? 1 : 0;
            if (c) ExtrasSwipeLatch[1] = 1;  // the screen sets it on a change
        };
        Frame(5);
        Pointer(800 - distance - (distance > 171 ? 60 : 0), 300);
        Frame(3);
        Left(false);
        Frame(2);
        EXPECT_EQ(changes, distance > 171 ? 1 : 0) << distance;
    }
}

// The scan skips a cell above the band and stops at one below it, whatever
// the pointer is over.
TEST_F(ExtrasSkeleton, HoverScanSkipsAboveTheBandAndStopsBelowIt) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(false));
    int32_t cells[3];
    const int32_t rect[4] = {0, 0, 100, 100};
    for (int32_t& c : cells) {
        c = Lib_SpriteLoad(-1, nullptr, -1, 0);  // blanks cut to 100x100 at the centre
        Lib_SpriteSetRect(c, rect);
    }
    const float above[3] = {300.0f, 100.0f, 0.0f}, below[3] = {-300.0f, 100.0f, 0.0f};
    int32_t first = -2, second = -2;
    bool clicked = false;
    Pointer(10, 10);
    Frame();
    body = [&] {
        first = Extras_HoverScan(cells, above, 3, -1, 268.0f, -258.0f, &clicked);
        second = Extras_HoverScan(cells, below, 3, -1, 268.0f, -258.0f, &clicked);
    };
    Pointer(640, 360);
    Frame();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, -1);
    body = nullptr;
    for (int32_t c : cells) Lib_SpriteFree(c);
}

// A button whose sprite could not be made is never clicked (the check
// without a sprite would take the whole screen).
TEST_F(ExtrasSkeleton, NoClickWithoutAButtonSprite) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(false));
    int missing = 0, screen = 0;
    body = [&] {
        missing += Extras_Clicked(-1, 0, 0) ? 1 : 0;
        int32_t whole[4] = {-1, 0, 0, 0};
        screen += GSL_ButtonCheck(nullptr, -1, whole, 0, 0, 0, -1) == 1 ? 1 : 0;
    };
    Click(640, 360);
    Frame(3);
    EXPECT_EQ(screen, 1);
    EXPECT_EQ(missing, 0);
    body = nullptr;
}

TEST_F(ExtrasSkeleton, BarDragStartsOnlyWithin22PixelsOfTheTrack) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    const int32_t bar = Extras_BarCreate(3, 6);
    Frame(3);
    int32_t track[4];
    GSL_SystemBarGetRect(track, bar, BAR_TRACK);
    ASSERT_GT(track[3], track[1]);
    ExtrasDrag drag{0, 0};
    int32_t rows = 0;
    bool ended = false;
    body = [&] { rows += Extras_BarDrag(&drag, bar, 6, &ended); };
    const int32_t y = (track[1] + track[3]) / 2;
    for (int32_t x : {track[0] - 23, track[2] + 23, track[0] - 22}) {
        Pointer(x, y);
        Frame();
        Left(true);
        Frame();
        EXPECT_EQ(drag.dragging, x == track[0] - 22 ? 1 : 0) << x;
        if (drag.dragging) {
            // Every frame with motion moves at least a row.
            Pointer(x, y + 1);
            Frame();
            EXPECT_EQ(rows, 1);
        }
        Left(false);
        Frame(2);
        EXPECT_EQ(drag.dragging, 0);
    }
    body = nullptr;
    GSL_SystemBarDel(bar);
}

}  // namespace
