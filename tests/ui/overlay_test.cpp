// The screen colour overlay through the full main initialisation, and the
// key repeat task, with frames driven by the screen harness.
#include <gtest/gtest.h>

#include "engine/core/task.h"
#include "engine/input/input.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/trans_num.h"
#include "ui/widget_task.h"

namespace {

class OverlayTest : public ScreenHarness {
protected:
    // The main tasks and the overlay, with an idle screen in place of the boot.
    void Start() {
        StartFull();
        ModeStack[0] = TestScreen(0);
        SetBody(0, [this] {
            ++screenFrame;
            if (checkSeen < 0 && GSL_SystemDispColorCheck()) checkSeen = screenFrame;
        });
        Frame();
    }
    static DispColorWork* Overlay() { return static_cast<DispColorWork*>(TaskTable.slots[DispColorTask]->work); }
    static bool Drawn() { return SpriteTable[Overlay()->sprite].visible != 0; }
    int screenFrame = 0;
    int checkSeen = -1;
};

int32_t Idle(void*) { return 0; }

TEST_F(OverlayTest, FadeFromBlackRunsOnlyTheAlphaAndStopsDrawingAtZero) {
    if (IsSkipped()) return;
    Start();
    EXPECT_TRUE(Drawn());
    EXPECT_EQ(Overlay()->current, 0xFF000000u);

    GSL_SystemDispColorSet(0x00000000u, 30);
    checkSeen = -1;
    const int setAt = screenFrame;
    Frame();
    const std::vector<int32_t> transitions = Tasks(GSL_SystemTransNumCB);
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(TaskTable.slots[transitions[0]]->group, kWidgetGroupSystem);
    EXPECT_EQ(Overlay()->componentTasks[0], transitions[0]);

    int lastStep = -1, hiddenAt = -1;
    for (int i = 0; i < 40; ++i) {
        const int32_t before = Overlay()->alpha;
        Frame();
        if (Overlay()->alpha != before) lastStep = screenFrame;
        if (hiddenAt < 0 && !Drawn()) hiddenAt = screenFrame;
    }
    EXPECT_EQ(Overlay()->alpha, 0);
    EXPECT_EQ(lastStep - setAt, 30);
    // The overlay runs before its transitions: it packs the last step one frame
    // later, and the screens see the check one frame after that.
    EXPECT_EQ(hiddenAt, lastStep + 1);
    EXPECT_EQ(checkSeen, lastStep + 2);
    EXPECT_TRUE(Tasks(GSL_SystemTransNumCB).empty());

    // A fade to what already shows is complete at once.
    GSL_SystemDispColorSet(0x00000000u, 30);
    EXPECT_TRUE(GSL_SystemDispColorCheck());
}

TEST_F(OverlayTest, NewTargetMidFadeRestartsFromTheColourReached) {
    if (IsSkipped()) return;
    Start();
    GSL_SystemDispColorSet(0x00000000u, 30);
    Frame(11);
    // The colour showing, one step behind its transition.
    const int32_t reached = int32_t(Overlay()->current >> 24);
    ASSERT_GT(reached, 0);
    ASSERT_LT(reached, 255);
    GSL_SystemDispColorSet(0xFF000000u, 10);
    Frame();
    EXPECT_GT(Overlay()->alpha, reached);
    EXPECT_LE(Overlay()->alpha, reached + (255 - reached) / 10 + 1);
    FramesUntil([] { return GSL_SystemDispColorCheck(); }, 15, "the restarted fade");
    EXPECT_EQ(Overlay()->current, 0xFF000000u);
}

// Colour words keep red in the lowest byte: the picture shows it so.
TEST_F(OverlayTest, RenderedColourFollowsTheEngineByteOrder) {
    if (IsSkipped()) return;
    Start();
    GSL_SystemDispColorSet(0xFFD4B420u, 8);
    FramesUntil([] { return GSL_SystemDispColorCheck(); }, 20, "the fade");
    Frame();
    const Image frame = Render();
    ASSERT_EQ(frame.width, 1280u);
    const Bgra px = frame.at(640, 360);
    EXPECT_EQ(px.r, 0x20);
    EXPECT_EQ(px.g, 0xB4);
    EXPECT_EQ(px.b, 0xD4);
}

// The overlay belongs to no screen: a push pauses nothing of it, and a
// transition that vanished (its slot since given to another task) counts as
// arrived and is never deleted through the stale slot.
TEST_F(OverlayTest, FadeSurvivesAPushAndAVanishedTransition) {
    if (IsSkipped()) return;
    Start();
    ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    SetBody(1, [] {});
    GSL_SystemDispColorSet(0x00000000u, 20);
    Frame(5);
    GSL_ModePush(TestScreen(1), 1);
    FramesUntil([] { return GSL_SystemDispColorCheck(); }, 30, "the fade over a push");
    EXPECT_EQ(Overlay()->current, 0x00000000u);

    GSL_SystemDispColorSet(0xFF102030u, 20);
    Frame(5);
    GSL_WorkDeleteAll();
    ModeStack[0] = TestScreen(0);
    const int32_t stale = Overlay()->componentTasks[0];
    ASSERT_GE(stale, 0);
    Lib_TaskDel(uint32_t(stale));
    Lib_TaskPass(true);
    int32_t other = -1;
    for (int i = 0; i < kTaskSlots && other != stale; ++i) {
        other = Lib_TaskSet("Idle", Idle, 100, 300, 0);
        if (other != stale && other >= 0) Lib_TaskDel(uint32_t(other));
        Lib_TaskPass(true);
    }
    ASSERT_EQ(other, stale);
    FramesUntil([] { return GSL_SystemDispColorCheck(); }, 30, "the fade after its transition vanished");
    EXPECT_EQ(Overlay()->current, 0xFF102030u);
    ASSERT_NE(TaskTable.slots[stale], nullptr);
    EXPECT_EQ(TaskTable.slots[stale]->callback, Idle);
    Lib_TaskDel(uint32_t(stale));
}

TEST_F(OverlayTest, KeyRepeatPulsesAndIntervalZeroActsAsOne) {
    if (IsSkipped()) return;
    StartMinimal();
    const int32_t five = GSL_SystemKeySet(BUTTON_DECIDE, 5);
    const int32_t zero = GSL_SystemKeySet(BUTTON_DECIDE, 0);
    ASSERT_GE(five, 0);
    ASSERT_GE(zero, 0);
    EXPECT_EQ(GSL_SystemKeyGet(-1), -1);
    Hold(BUTTON_DECIDE);
    std::vector<int32_t> got, gotZero;
    for (int held = 0; held <= 41; ++held) {
        Frame();
        got.push_back(GSL_SystemKeyGet(five));
        gotZero.push_back(GSL_SystemKeyGet(zero));
    }
    std::vector<int32_t> want(42, 4);
    want[0] = 3;
    for (int held : {30, 35, 40}) want[size_t(held)] = 5;
    EXPECT_EQ(got, want);
    for (int held = 30; held <= 41; ++held) EXPECT_EQ(gotZero[size_t(held)], 5) << held;
    EXPECT_EQ(gotZero[29], 4);
    Release(BUTTON_DECIDE);
    Frame();
    EXPECT_EQ(GSL_SystemKeyGet(five), 0);
    Lib_TaskDel(uint32_t(five));
    Lib_TaskDel(uint32_t(zero));
    Lib_TaskPass(true);
    EXPECT_EQ(GSL_SystemKeyGet(five), -1);
}

}  // namespace
