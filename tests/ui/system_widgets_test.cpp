// The colour pulse and widget pause, window frame, scroll bar, move and alpha
// widgets, number display and sway, through the screen harness with the
// group-0 and group-3 sheets loaded by the real sprite loader.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/core/heap.h"
#include "engine/input/input.h"
#include "engine/render/sprite_load.h"
#include "tests/ui/screen_harness.h"
#include "ui/color_pulse.h"
#include "ui/move_alpha.h"
#include "ui/number_display.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/trans_num.h"
#include "ui/window_frame.h"

namespace {

int32_t Idle(void*) { return 0; }
int32_t Other(void*) { return 0; }

class SystemWidgetsTest : public ScreenHarness {
protected:
    void Start() {
        ASSERT_TRUE(Files({Tool("image_data.py", "visual/system/sys_system_00.ext", "ext0 {} --size 208 760"),
                           Tool("image_data.py", "visual/system/sys_system_04.ext", "ext0 {} --size 176 192")}));
        StartMinimal();
        SetBody(0, [] {});
        ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    }
    static int32_t Blank() { return Lib_SpriteLoad(-1, nullptr, -1, 0); }
    static SpriteRecord& S(int32_t sprite) { return SpriteTable[sprite]; }
    static int InUse() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
        return n;
    }
};

TEST_F(SystemWidgetsTest, ColourPulseDimsToOneNinetyOneAndComesBack) {
    if (IsSkipped()) return;
    Start();
    const int32_t s = Blank();
    Lib_SpriteSetColor(s, 0x80123456u);
    int32_t angle = 0;
    GSL_SystemColorCycle(s, -1, 255, 255, 255, -32, &angle);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0x80FFFFFFu);  // e = 0; alpha kept
    EXPECT_EQ(angle, 5);
    angle = 180;
    GSL_SystemColorCycle(s, -1, 255, 255, 255, -32, &angle);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0x80BFBFBFu);
    for (int i = 0; i < 71; ++i) GSL_SystemColorCycle(s, -1, 255, 255, 255, -32, &angle);
    EXPECT_EQ(angle, 180);  // 72 calls: a whole turn
    // A channel given as 0 keeps the current one; the word is red << 16.
    Lib_SpriteSetColor(s, 0xFF0000AAu);
    angle = 0;
    GSL_SystemColorCycle(s, -1, 0x40, 0x20, 0, -32, &angle);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFF4020AAu);
    // Rising: the blue guard holds at 255.
    angle = 180;
    GSL_SystemColorCycle(s, -1, 10, 250, 250, 32, &angle);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFF4AFFFFu);
    // A text object gets the colour word.
    const TextPos at{0, 0, 0};
    const int32_t t = Lib_TextSet(0, "A", &at);
    ASSERT_GE(t, 0);
    Lib_TextRgbaSet(t, 0xC0FFFFFFu);
    angle = 180;
    GSL_SystemColorCycle(-1, t, 255, 255, 255, -32, &angle);
    EXPECT_EQ(TextTable[t]->colour, 0xC0BFBFBFu);
    Lib_TextDel(t);
    Lib_SpriteFree(s);
}

TEST_F(SystemWidgetsTest, PauseRestoresOnlyTheTasksItSaved) {
    if (IsSkipped()) return;
    Start();
    const int32_t a = Lib_TaskSet("A", Idle, 100, 400, 0);
    const int32_t b = Lib_TaskSet("B", Idle, 100, 400, 0);
    const int32_t sys = Lib_TaskSet("S", Idle, 100, 401, 0);
    const int32_t dlg = Lib_TaskSet("D", Idle, 100, 300, 0);
    TaskTable.slots[b]->suspended = 2;
    TaskTable.slots[sys]->suspended = 7;
    GSL_SystemTaskPause(1, 0);
    ASSERT_NE(TaskPauseSave[0], nullptr);
    EXPECT_EQ(TaskTable.slots[a]->suspended, 1);
    EXPECT_EQ(TaskTable.slots[b]->suspended, 1);
    EXPECT_EQ(TaskTable.slots[sys]->suspended, 7);
    EXPECT_EQ(TaskTable.slots[dlg]->suspended, 0);

    // a's slot goes to another group-400 task; a new task comes meanwhile.
    Lib_TaskDel(uint32_t(a));
    Lib_TaskPass(true);
    int32_t reused = -1;
    std::vector<int32_t> spare;
    for (int i = 0; i < kTaskSlots && reused != a; ++i) {
        reused = Lib_TaskSet("R", Other, 100, 400, 0);
        if (reused != a) spare.push_back(reused);
    }
    ASSERT_EQ(reused, a);
    TaskTable.slots[reused]->suspended = 5;
    TaskTable.slots[spare.empty() ? b : spare[0]]->suspended = spare.empty() ? 1 : 3;
    GSL_SystemTaskPause(1, 0);
    EXPECT_EQ(TaskPauseSave[0], nullptr);
    EXPECT_EQ(TaskTable.slots[reused]->suspended, 5);  // not handed a's saved 0
    EXPECT_EQ(TaskTable.slots[b]->suspended, 2);
    if (!spare.empty()) {
        EXPECT_EQ(TaskTable.slots[spare[0]]->suspended, 3);
    }
    EXPECT_EQ(TaskTable.slots[sys]->suspended, 7);
    for (int32_t t : spare) Lib_TaskDel(uint32_t(t));

    // With no memory for the saved bytes nothing is paused.
    std::vector<std::pair<int, void*>> taken;
    for (int h : {0, 1, 4}) {
        MemHeap* heap = &HeapTable.heaps[h];
        while (Lib_MemHeapLargestFree(heap) > 4096)
            if (void* p = Lib_MemHeapAlloc(heap, Lib_MemHeapLargestFree(heap) - 1024, 8, true)) taken.push_back({h, p});
            else break;
        while (void* p = Lib_MemHeapAlloc(heap, 512, 8, true)) taken.push_back({h, p});
    }
    GSL_SystemTaskPause(1, 1);
    EXPECT_EQ(TaskPauseSave[1], nullptr);
    EXPECT_EQ(TaskTable.slots[b]->suspended, 2);
    for (auto [h, p] : taken) Lib_MemHeapFree(&HeapTable.heaps[h], p);
    for (int32_t t : {reused, b, sys, dlg}) Lib_TaskDel(uint32_t(t));
}

TEST_F(SystemWidgetsTest, WindowFrameCornersHiddenUntilShownAndFreedWithTheScreen) {
    if (IsSkipped()) return;
    Start();
    const int before = InUse();
    const float centre[2] = {100.0f, 50.0f}, one[2] = {1.0f, 1.0f}, half[2] = {0.5f, 0.5f};
    const int32_t a = GSL_SystemWinSet(centre, one, 500, 0);
    const int32_t b = GSL_SystemWinSet(centre, half, 500, 1);
    EXPECT_EQ(GSL_SystemWinCheck(a), 0);
    EXPECT_EQ(GSL_SystemWinCheck(-3), -1);
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemWinCheck(a) == 1 && GSL_SystemWinCheck(b) == 1; }, 20, "load"));
    const WindowWork* wa = GSL_SystemWinWork(a);
    const WindowWork* wb = GSL_SystemWinWork(b);
    EXPECT_EQ(S(wa->parts[0]).posX, 36.0f);
    EXPECT_EQ(S(wa->parts[0]).posY, 114.0f);
    EXPECT_EQ(S(wa->parts[8]).posX, 164.0f);
    EXPECT_EQ(S(wa->parts[8]).posY, -14.0f);
    EXPECT_EQ(S(wb->parts[2]).posX, 148.0f);
    EXPECT_EQ(S(wb->parts[6]).posY, 2.0f);
    EXPECT_EQ(S(wb->parts[1]).scaleX, 0.5f);
    EXPECT_EQ(S(wb->parts[1]).scaleY, 1.0f);
    EXPECT_EQ(S(wb->parts[4]).scaleY, 0.5f);
    EXPECT_EQ(S(wb->parts[5]).srcRect[0], 136);  // group 0 item 5
    for (int32_t p : wa->parts) EXPECT_EQ(S(p).visible, 0);
    Frame(3);
    for (int32_t p : wa->parts) EXPECT_EQ(S(p).visible, 0);
    GSL_SystemWinShow(a);
    Frame();
    for (int32_t p : wa->parts) EXPECT_EQ(S(p).visible, 1);
    GSL_SystemWinSetColor(a, 0x80FFFFFFu);
    GSL_SystemWinFixCam(a);
    EXPECT_EQ(S(wa->parts[4]).color, 0x80FFFFFFu);
    EXPECT_EQ(S(wa->parts[4]).cameraMode, 2u);
    GSL_SystemWinDel(a);
    EXPECT_EQ(GSL_SystemWinCheck(a), -1);
    GSL_WorkDeleteAll();  // b's nine sprites go through its delete call
    EXPECT_EQ(InUse(), before);
}

TEST_F(SystemWidgetsTest, ScrollBarKnobStepClampHitAndPointerStep) {
    if (IsSkipped()) return;
    Start();
    const float pos[2] = {0.0f, 0.0f}, size[2] = {1.0f, 8.0f};
    const int32_t bar = GSL_SystemBarSet(pos, size, 300, 1, 0, 5, -1, -1);
    EXPECT_EQ(GSL_SystemWinCheck(bar), 0);
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemWinCheck(bar) == 1; }, 20, "bar loaded"));
    ScrollBarWork* w = GSL_SystemBarWork(bar);
    const struct {
        int32_t range;
        float k, step;
    } cases[] = {{5, 5.5f, 32.0f}, {10, 3.9f, 26.24f}, {20, 2.3f, 18.24f}, {40, 0.7f, 11.68f}};
    for (const auto& c : cases) {
        GSL_SystemBarSetRange(bar, 0, c.range);
        Frame();
        EXPECT_NEAR(S(w->parts[1]).scaleY - 2.0f / 64.0f, c.k, 1e-4) << c.range;
        EXPECT_NEAR(w->step, c.step, 1e-3) << c.range;
    }
    // R = 10: the knob top starts at 3.9 × 32 + 32 + c, c = 256 - 124.8.
    GSL_SystemBarSetRange(bar, 0, 10);
    Frame();
    const float top = S(w->parts[0]).posY;
    EXPECT_EQ(top, std::floor(3.9f * 32.0f + 32.0f + 256.0f - 3.9f * 32.0f));
    EXPECT_FALSE(GSL_SystemBarScroll(bar, -1));
    EXPECT_TRUE(GSL_SystemBarScroll(bar, 3));
    EXPECT_EQ(w->stepsMoved, 3);
    EXPECT_EQ(S(w->parts[0]).posY, std::floor(w->knobBase[0] - 3.0f * w->step));
    EXPECT_TRUE(GSL_SystemBarScroll(bar, 50));
    EXPECT_EQ(w->stepsMoved, 10);
    EXPECT_FALSE(GSL_SystemBarScroll(bar, 1));
    EXPECT_TRUE(GSL_SystemBarScroll(bar, -10));
    EXPECT_EQ(S(w->parts[0]).posY, top);
    // A show or hide keeps the knob where the position puts it; a new range
    // puts both back at the top.
    EXPECT_TRUE(GSL_SystemBarScroll(bar, 3));
    const float third = S(w->parts[0]).posY;
    GSL_SystemBarSetFlag(bar, 1);
    Frame();
    EXPECT_EQ(S(w->parts[0]).posY, third);
    EXPECT_TRUE(GSL_SystemBarScroll(bar, 7));
    EXPECT_FALSE(GSL_SystemBarScroll(bar, 1)) << "seven more steps reach the end";
    EXPECT_EQ(S(w->parts[0]).posY, std::floor(w->knobBase[0] - 10.0f * w->step));
    GSL_SystemBarSetRange(bar, 0, 10);
    Frame();
    EXPECT_EQ(S(w->parts[0]).posY, top);
    EXPECT_FALSE(GSL_SystemBarScroll(bar, -1)) << "the top";

    // The pointer's step: above and below the span, and in its middle.
    int32_t knob[4], track[4];
    GSL_SystemBarGetRect(knob, bar, BAR_KNOB);
    GSL_SystemBarGetRect(track, bar, BAR_TRACK);
    EXPECT_EQ(track[1], 360 - 256 - 64);
    EXPECT_EQ(track[3], 360 + 256 + 64);
    const int32_t half = (knob[3] - knob[1]) / 2;
    Pointer(640, track[1] + half - 2);
    Frame();
    EXPECT_EQ(GSL_SystemBarGetPos(bar), 0);
    Pointer(640, track[3] - half + 2);
    Frame();
    EXPECT_EQ(GSL_SystemBarGetPos(bar), 10);
    Pointer(640, 360);
    Frame();
    EXPECT_EQ(GSL_SystemBarGetPos(bar), 5);

    // Holding the down arrow.
    int32_t down[4];
    GSL_SystemBarGetRect(down, bar, BAR_DOWN);
    Pointer((down[0] + down[2]) / 2, (down[1] + down[3]) / 2);
    Left(true);
    Frame();
    EXPECT_EQ(GSL_SystemBarHit(bar, BAR_DOWN), 3);
    EXPECT_EQ(GSL_SystemBarHit(bar, BAR_UP), 0);
    std::vector<int32_t> held;
    for (int i = 0; i < 40; ++i) {
        Frame();
        held.push_back(GSL_SystemBarHit(bar, BAR_DOWN));
    }
    for (int i = 0; i < 40; ++i) EXPECT_EQ(held[size_t(i)], (i + 1 == 30 || i + 1 == 35 || i + 1 == 40) ? 5 : 4) << i;
    Left(false);
    Frame(2);
    EXPECT_EQ(GSL_SystemBarHit(bar, BAR_DOWN), 0);

    // A knob that fills the track: no step size and no span.
    GSL_SystemBarSetRange(bar, 0, 0);
    Frame();
    EXPECT_EQ(w->step, 0.0f);
    EXPECT_NEAR(S(w->parts[1]).scaleY, 8.0f + 2.0f / 64.0f, 1e-5);
    EXPECT_EQ(GSL_SystemBarGetPos(bar), 0);
    EXPECT_FALSE(GSL_SystemBarScroll(bar, 1));

    // No arrows; bad slots.
    w->flags = BAR_NO_ARROWS;
    GSL_SystemBarSetFlag(bar, 1);
    Frame();
    EXPECT_EQ(w->parts[6], -1);
    EXPECT_EQ(w->parts[7], -1);
    GSL_SystemBarDel(bar);
    EXPECT_EQ(GSL_SystemBarHit(bar, BAR_KNOB), -1);
    EXPECT_EQ(GSL_SystemBarGetPos(bar), 0);
    EXPECT_FALSE(GSL_SystemBarScroll(bar, 1));
    GSL_SystemBarGetRect(knob, bar, BAR_KNOB);
    EXPECT_EQ(knob[0] | knob[1] | knob[2] | knob[3], 0);
}

TEST_F(SystemWidgetsTest, MoveFollowsUnmaskedAxesAndAlphaReportsDone) {
    if (IsSkipped()) return;
    Start();
    const int32_t s = Blank();
    const float goals[3] = {100.0f, 999.0f, 999.0f};
    const int32_t move = GSL_SystemMoveSet(s, -1, goals, 10, TRANS_LINEAR, 0, MOVE_POSITION, 1);
    ASSERT_GE(move, 0);
    for (int i = 0; i < 15; ++i) {
        S(s).posY = float(i);
        Frame();
        EXPECT_EQ(S(s).posY, float(i));
    }
    EXPECT_EQ(S(s).posX, 100.0f);
    EXPECT_EQ(S(s).posZ, 0.0f);
    EXPECT_EQ(GSL_SystemMoveCheck(move), 1);
    Frame(3);  // end flag 0: waits in its last state
    EXPECT_EQ(GSL_SystemMoveCheck(move), 1);
    GSL_SystemMoveDel(move);
    EXPECT_EQ(GSL_SystemMoveCheck(move), -1);
    EXPECT_EQ(GSL_SystemMoveSet(-1, -1, goals, 10, 0, 0, 0, 7), -1);
    // A finish request takes the running transitions with the widget.
    const int32_t asked = GSL_SystemMoveSet(s, -1, goals, 50, 0, 0, MOVE_SCALE, 7);
    Frame(2);
    EXPECT_EQ(Tasks(GSL_SystemTransNumCB).size(), 3u);
    TaskTable.slots[asked]->finishRequest = 1;
    Frame();
    EXPECT_EQ(GSL_SystemMoveCheck(asked), -1);
    EXPECT_EQ(Tasks(GSL_SystemTransNumCB).size(), 0u);

    // A text target's rotation is done at once, changing nothing.
    const TextPos at{10, 20, 0};
    const int32_t t = Lib_TextSet(0, "A", &at);
    const int32_t turn = GSL_SystemMoveSet(-1, t, goals, 10, 0, 1, MOVE_ROTATION, 7);
    Frame();
    EXPECT_EQ(GSL_SystemMoveCheck(turn), -1);  // finished itself
    EXPECT_EQ(TextTable[t]->x, 10);

    // Alpha to the alpha it has: done on the second frame, colour unchanged.
    Lib_SpriteSetColor(s, 0x80123456u);
    const int32_t same = GSL_SystemAlphaSet(s, -1, 0x80, 10, 0, 0);
    Frame();
    EXPECT_EQ(GSL_SystemAlphaCheck(same), 0);
    Frame();
    EXPECT_EQ(GSL_SystemAlphaCheck(same), 1);
    EXPECT_EQ(Lib_SpriteGetColor(s), 0x80123456u);
    GSL_SystemAlphaDel(same);
    EXPECT_EQ(GSL_SystemAlphaCheck(same), -1);
    // A text fade to 0 keeps the low 24 bits.
    Lib_TextRgbaSet(t, 0xFF00FF00u);
    const int32_t fade = GSL_SystemAlphaSet(-1, t, 0, 8, 0, 0);
    Frame(4);
    EXPECT_EQ(GSL_SystemAlphaCheck(fade), 0);
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemAlphaCheck(fade) == 1; }, 10, "fade"));
    EXPECT_EQ(TextTable[t]->colour, 0x0000FF00u);
    GSL_WorkDeleteAll();
    EXPECT_EQ(Tasks(GSL_SystemTransNumCB).size(), 0u);
    Lib_TextDel(t);
    Lib_SpriteFree(s);
}

TEST_F(SystemWidgetsTest, NumberDisplayDigitsClampRebuildAndLayerSlots) {
    if (IsSkipped()) return;
    Start();
    const float at[3] = {200.0f, 100.0f, 0.0f};
    const int32_t own = GSL_SystemNumSet(at, -1);
    ASSERT_GE(own, 0);
    NumberDisplayWork* w = GSL_SystemNumWork(own);
    EXPECT_GE(w->sheet, 0);  // an own sheet: no screen slot taken
    EXPECT_EQ(GSL_WorkLayerGet(nullptr, 9), -1);
    auto digitsAt = [&](const int32_t* d) {
        std::vector<std::pair<float, int32_t>> v;
        for (int j = 0; j < 5; ++j)
            if (d[j] >= 0) v.push_back({S(d[j]).posX - 200.0f, S(d[j]).srcRect[0] * 1000 + S(d[j]).srcRect[1]});
        return v;
    };
    using V = std::vector<std::pair<float, int32_t>>;
    GSL_SystemNumSetValue(own, 7);
    ASSERT_TRUE(FramesUntil([&] { return w->done == 1; }, 20, "sheet"));
    EXPECT_EQ(digitsAt(w->first), (V{{-43.0f, 132 * 1000 + 64}}));  // item 8: digit 7
    EXPECT_EQ(S(w->sheet).visible, 0);
    EXPECT_EQ(S(w->secondDigits[0]).srcRect[0], 132);  // the lone separator, item 11
    EXPECT_EQ(S(w->first[0]).priority, 608);

    GSL_SystemNumSetValue(own, 7);
    EXPECT_EQ(w->done, 0u);
    Frame();
    EXPECT_EQ(w->done, 1u);
    EXPECT_EQ(digitsAt(w->first), (V{{-43.0f, 132 * 1000 + 64}}));

    GSL_SystemNumSetValue(own, 10000);
    Frame();
    EXPECT_EQ(digitsAt(w->first).back().first, -215.0f);
    GSL_SystemNumSetValue(own, 123456);
    Frame();
    const V nines = digitsAt(w->first);
    ASSERT_EQ(nines.size(), 5u);
    for (const auto& d : nines) EXPECT_EQ(d.second, 44 * 1000 + 128);  // item 10: digit 9
    GSL_SystemNumSetValue(own, -5);
    Frame();
    EXPECT_EQ(digitsAt(w->first), (V{{-43.0f, 0 * 1000 + 0}}));  // item 1: digit 0

    GSL_SystemNumSetValue(own, 3);
    w->second = 12;
    Frame();
    EXPECT_EQ(digitsAt(w->first), (V{{-43.0f, 132 * 1000 + 0}}));  // item 4: digit 3
    EXPECT_EQ(digitsAt(w->secondDigits), (V{{86.0f, 88 * 1000 + 0}, {43.0f, 44 * 1000 + 0}}));
    EXPECT_EQ(S(w->sheet).visible, 1);
    EXPECT_EQ(S(w->sheet).srcRect[1], 128);  // "/" at item 0

    // In the screen's layer slots from base 20: the sheet in 30.
    const int32_t slots = GSL_SystemNumSet(at, 20);
    GSL_SystemNumSetValue(slots, 42);
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemNumWork(slots)->done == 1; }, 20, "slots"));
    EXPECT_GE(GSL_WorkLayerGet(nullptr, 30), 0);
    EXPECT_GE(GSL_WorkLayerGet(nullptr, 20), 0);
    EXPECT_GE(GSL_WorkLayerGet(nullptr, 21), 0);
    EXPECT_EQ(GSL_WorkLayerGet(nullptr, 22), -1);
    EXPECT_GE(GSL_WorkLayerGet(nullptr, 25), 0);  // separator
    GSL_SystemNumDel(slots);
    for (uint32_t i = 20; i <= 30; ++i) EXPECT_EQ(GSL_WorkLayerGet(nullptr, i), -1);
    GSL_SystemNumDel(own);
}

TEST_F(SystemWidgetsTest, SwayMovesOnlyASpriteWithItsCentreSet) {
    if (IsSkipped()) return;
    Start();
    const int32_t still = Blank(), swayed = Blank();
    S(still).centerX = kSpriteUnset;
    int32_t tasks[2];
    for (int i = 0; i < 2; ++i) {
        auto* w = reinterpret_cast<SwayWork*>(
            GSL_WidgetCreate("GSL_SystemFbSetCB", GSL_SystemFbSetCB, kWidgetPriority, kWidgetGroupScreen, 0));
        ASSERT_NE(w, nullptr);
        w->sprite = i == 0 ? still : swayed;
        w->amplitudeX = w->amplitudeY = 20;
        w->speedMin = 3, w->speedMax = 7;
        w->sign1 = w->sign2 = 1;
        tasks[i] = w->head.slot;
    }
    Frame(10);
    EXPECT_EQ(S(still).shiftX, 0.0f);
    EXPECT_EQ(S(still).centerX, kSpriteUnset);
    EXPECT_NE(S(swayed).shiftX, 0.0f);
    EXPECT_LE(std::fabs(S(swayed).shiftY), 20.0f);
    GSL_SystemFbDel(tasks[1]);
    EXPECT_EQ(S(swayed).shiftX, 0.0f);
    EXPECT_EQ(S(swayed).shiftY, 0.0f);
    GSL_SystemFbDel(tasks[0]);
    Lib_SpriteFree(still);
    Lib_SpriteFree(swayed);
}

// The sample's sheets: a frame of 4 × 3 middle pieces, a bar scrolled 4 of
// 10 steps and the page number 3 / 12 inside the frame.
TEST_F(SystemWidgetsTest, FrameBarAndPageNumberRendered) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    StartMinimal();
    SetBody(0, [] {});
    ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    const float centre[2] = {-200.0f, 0.0f}, scale[2] = {4.0f, 3.0f};
    GSL_SystemWinSet(centre, scale, 700, 1);  // behind the digits (608)
    const float pos[2] = {300.0f, 0.0f}, size[2] = {1.0f, 6.0f};
    const int32_t bar = GSL_SystemBarSet(pos, size, 500, 1, 0, 10, -1, -1);
    const float at[3] = {-200.0f, -110.0f, 0.0f};
    const int32_t num = GSL_SystemNumSet(at, 40);
    GSL_SystemNumSetValue(num, 3);
    GSL_SystemNumWork(num)->second = 12;
    ASSERT_TRUE(FramesUntil([&] { return GSL_SystemWinCheck(bar) == 1 && GSL_SystemNumWork(num)->done; }, 20, "load"));
    GSL_SystemBarScroll(bar, 4);
    Frame();
    EXPECT_TRUE(MatchesReference("widgets_frame_bar_number"));
}

}  // namespace
