#include "ui/trans_num.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "shaders/shader_set2.h"

namespace {

int32_t Idle(void*) { return 0; }

int32_t AddIdleTask() {
    int32_t slot = Lib_TaskSet("Idle", Idle, 100, 300, 0);
    if (slot >= 0 && !Lib_TaskWorkAlloc(uint32_t(slot), 16)) return -1;
    return slot;
}

// One frame as the program runs it: a between-frames pass, then a frame pass.
void Frame() {
    Lib_TaskPass(true);
    Lib_TaskPass(false);
}

// Takes a heap's free space until its largest free block is at most about
// `leave` + 160 bytes.
void FillHeap(int h, uint64_t leave) {
    MemHeap* heap = &HeapTable.heaps[h];
    for (int i = 0; i < 64; ++i) {
        uint64_t largest = Lib_MemHeapLargestFree(heap);
        if (largest <= leave + 160) break;
        if (!Lib_MemHeapAlloc(heap, largest - leave - 128, 8, true)) break;
    }
}

class TransNumTest : public ::testing::Test {
protected:
    void SetUp() override {
        const uint64_t sizes[HEAP_COUNT] = {4u << 20, 2u << 20, 2u << 20, 2u << 20, 2u << 20};
        ASSERT_TRUE(Lib_MemInit(sizes));
        ASSERT_TRUE(Lib_TaskInit());
    }
    void TearDown() override { Lib_MemRelease(); }
};

// The values an integer transition writes, one per frame, until it is done.
std::vector<int32_t> IntRun(int32_t start, int32_t goal, int32_t frames, int8_t mode) {
    int32_t target = start;
    int32_t slot = GSL_SystemTransNumSet(&target, goal, frames, mode, kWidgetPriority, kWidgetGroupScreen, 0);
    std::vector<int32_t> seen;
    if (slot < 0) return seen;
    for (int f = 0; f < 100 && !GSL_SystemTransNumCheck(slot, &target); ++f) {
        Frame();
        seen.push_back(target);
    }
    GSL_SystemTransNumDel(slot, &target);
    return seen;
}

struct Case {
    bool isFloat;
    float start, goal;
};

class TransNumCurves : public TransNumTest, public ::testing::WithParamInterface<int> {};

TEST_P(TransNumCurves, ReachTheGoalExactlyByTheLastFrameWithoutOvershoot) {
    const auto mode = int8_t(GetParam());
    const Case cases[] = {
        {false, 0, 100},   {false, 300, -45}, {false, 1000, 1017}, {false, 7, 7},
        {true, 0.0f, 1.0f}, {true, 255.0f, 12.5f}, {true, -3.25f, 10000.0f}, {true, 0.1f, 0.3f},
    };
    for (int32_t frames : {0, 1, 2, 7, 30}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "frames " << frames << (c.isFloat ? " float " : " int ") << c.start
                                            << " -> " << c.goal);
            int32_t intTarget = int32_t(c.start);
            float floatTarget = c.start;
            void* target = c.isFloat ? static_cast<void*>(&floatTarget) : static_cast<void*>(&intTarget);
            int32_t slot = c.isFloat ? GSL_SystemTransNumSetF(&floatTarget, c.goal, frames, mode, kWidgetPriority,
                                                              kWidgetGroupScreen, 0)
                                     : GSL_SystemTransNumSet(&intTarget, int32_t(c.goal), frames, mode,
                                                             kWidgetPriority, kWidgetGroupScreen, 0);
            ASSERT_GE(slot, 2);
            EXPECT_FALSE(GSL_SystemTransNumCheck(slot, target));
            const float lo = std::min(c.start, c.goal), hi = std::max(c.start, c.goal);
            const float dir = c.goal > c.start ? 1.0f : -1.0f;
            float last = c.start;
            int doneAt = 0;
            const int limit = std::max(frames, 1);
            for (int f = 1; f <= limit + 2; ++f) {
                Frame();
                float v = c.isFloat ? floatTarget : float(intTarget);
                ASSERT_FALSE(std::isnan(v)) << "frame " << f;
                ASSERT_TRUE(v >= lo && v <= hi) << "frame " << f << " value " << v;
                ASSERT_GE((v - last) * dir, 0.0f) << "frame " << f << " value " << v << " after " << last;
                last = v;
                bool done = GSL_SystemTransNumCheck(slot, target);
                if (done && !doneAt) doneAt = f;
                if (doneAt) {
                    if (c.isFloat)
                        ASSERT_EQ(floatTarget, c.goal) << "frame " << f;
                    else
                        ASSERT_EQ(intTarget, int32_t(c.goal)) << "frame " << f;
                }
            }
            EXPECT_GE(doneAt, 1);
            EXPECT_LE(doneAt, limit);
            // Done, the task stays until its owner deletes it.
            EXPECT_TRUE(GSL_SystemTransNumDel(slot, target));
            EXPECT_EQ(TaskTable.slots[slot], nullptr);
        }
    }
    // Only the sign matters beyond 1: 3 runs as 2 and -5 as -2.
    if (mode > 2 || mode < -2) {
        int8_t same = mode > 0 ? 2 : -2;
        for (int32_t frames : {7, 30}) EXPECT_EQ(IntRun(-20, 480, frames, mode), IntRun(-20, 480, frames, same));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, TransNumCurves, ::testing::Values(0, 1, -1, 2, -2, 3, -5));

TEST_F(TransNumTest, FiveCurvesOverTenFrames) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(IntRun(0, 100, 10, 0), (V{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_EQ(IntRun(0, 100, 10, 1), (V{1, 4, 9, 16, 25, 36, 49, 64, 81, 100}));
    EXPECT_EQ(IntRun(0, 100, 10, -1), (V{19, 36, 51, 64, 75, 84, 91, 96, 99, 100}));
    EXPECT_EQ(IntRun(0, 100, 10, 2), (V{18, 32, 42, 48, 50, 52, 58, 68, 82, 100}));
    EXPECT_EQ(IntRun(0, 100, 10, -2), (V{2, 8, 18, 32, 50, 68, 82, 92, 98, 100}));
    // Downward, and truncated toward zero.
    EXPECT_EQ(IntRun(10, -10, 4, 0), (V{5, 0, -5, -10}));
    EXPECT_EQ(IntRun(0, 5, 2, 0), (V{2, 5}));

    float speed1 = -1, accel1 = -1, speed2 = -1, accel2 = -1;
    // Two halves need two frames: no division by zero.
    GSL_SystemTransCurve(3, 0.0f, 100.0f, 1, &speed1, &accel1, &speed2, &accel2);
    EXPECT_TRUE(std::isfinite(speed1) && std::isfinite(accel1) && std::isfinite(speed2) && std::isfinite(accel2));
}

TEST_F(TransNumTest, CloneMadeHalfWayEndsWithItsSource) {
    int32_t source = 0, intClone = -1;
    float floatClone = -1.0f;
    int32_t slot = GSL_SystemTransNumSet(&source, 300, 30, 2, kWidgetPriority, kWidgetGroupScreen, 0);
    ASSERT_GE(slot, 0);
    for (int f = 0; f < 15; ++f) Frame();
    // An integer transition given only a float drives it as a float.
    int32_t c1 = GSL_SystemTransNumCopy(slot, &intClone, &floatClone, 34001);
    int32_t asFloat = GSL_SystemTransNumCopy(slot, nullptr, &floatClone, 34001);
    ASSERT_GE(c1, 0);
    ASSERT_GE(asFloat, 0);
    EXPECT_EQ(TaskTable.slots[c1]->group, 400);
    EXPECT_EQ(TaskTable.slots[c1]->flags, TASK_FLAG_BREAKABLE);
    int frames = 15;
    while (!GSL_SystemTransNumCheck(slot, &source) && frames < 40) {
        Frame();
        ++frames;
        EXPECT_EQ(intClone, source) << "frame " << frames;
        EXPECT_LE(std::fabs(floatClone - float(source)), 1.0f) << "frame " << frames;
        EXPECT_GE(floatClone, float(source)) << "frame " << frames;
        EXPECT_EQ(GSL_SystemTransNumCheck(c1), GSL_SystemTransNumCheck(slot));
        EXPECT_EQ(GSL_SystemTransNumCheck(asFloat), GSL_SystemTransNumCheck(slot));
    }
    EXPECT_EQ(frames, 30);
    EXPECT_EQ(source, 300);
    EXPECT_EQ(intClone, 300);
    EXPECT_EQ(floatClone, 300.0f);

    // A float transition cloned onto an integer only drives the integer.
    float f = 0.0f;
    int32_t i = 5;
    int32_t fs = GSL_SystemTransNumSetF(&f, 10.5f, 4, 0, kWidgetPriority, kWidgetGroupScreen, 0);
    Frame();
    int32_t fc = GSL_SystemTransNumCopy(fs, &i, nullptr, 34001);
    ASSERT_GE(fc, 0);
    for (int k = 0; k < 3; ++k) Frame();
    EXPECT_TRUE(GSL_SystemTransNumCheck(fc, &i));
    EXPECT_EQ(i, 10);
    EXPECT_EQ(f, 10.5f);
    EXPECT_EQ(GSL_SystemTransNumCopy(fs, nullptr, nullptr, 34001), -1);
}

TEST_F(TransNumTest, FinishRequestLeavesTheLastValueAndStaleSlotsAreBad) {
    int32_t a = 0, b = 0;
    int32_t slot = GSL_SystemTransNumSet(&a, 1000, 30, 0, kWidgetPriority, kWidgetGroupScreen, TASK_FLAG_BREAKABLE);
    ASSERT_GE(slot, 0);
    for (int f = 0; f < 5; ++f) Frame();
    EXPECT_EQ(a, 166);
    Lib_TaskBreakAll();
    Frame();
    EXPECT_EQ(a, 166);
    EXPECT_EQ(TaskTable.slots[slot], nullptr);
    EXPECT_TRUE(GSL_SystemTransNumCheck(slot));

    // The slot goes to an unrelated task: the old owner's calls leave it be.
    int32_t other = AddIdleTask();
    ASSERT_EQ(other, slot);
    EXPECT_TRUE(GSL_SystemTransNumCheck(slot));
    EXPECT_EQ(GSL_SystemTransNumCopy(slot, &b, nullptr, 34001), -1);
    EXPECT_FALSE(GSL_SystemTransNumDel(slot, &a));
    EXPECT_FALSE(GSL_SystemTransNumDel(slot));
    ASSERT_NE(TaskTable.slots[slot], nullptr);
    EXPECT_EQ(TaskTable.slots[slot]->callback, Idle);
    Lib_TaskDel(uint32_t(slot));

    // The slot goes to another variable's transition.
    ASSERT_EQ(GSL_SystemTransNumSet(&b, 50, 30, 0, kWidgetPriority, kWidgetGroupScreen, 0), slot);
    EXPECT_TRUE(GSL_SystemTransNumCheck(slot, &a));
    EXPECT_FALSE(GSL_SystemTransNumCheck(slot, &b));
    EXPECT_FALSE(GSL_SystemTransNumDel(slot, &a));
    Frame();
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(GSL_SystemTransNumDel(slot, &b));

    // Out of range and sentinel slots are bad too.
    for (int32_t bad : {-1, 0, 800}) EXPECT_TRUE(GSL_SystemTransNumCheck(bad) && !GSL_SystemTransNumDel(bad));
}

TEST_F(TransNumTest, FailedSetterRegistersNothing) {
    // The secondary shader set holds nothing: its calls take no task or block.
    const uint64_t blocks = HeapTable.heaps[HEAP_GENERAL].usedCount;
    Lib_ShaderSet2Create();
    Lib_ShaderSet2Create();
    EXPECT_EQ(HeapTable.heaps[HEAP_GENERAL].usedCount, blocks);
    EXPECT_EQ(TaskTable.liveCount, 2);

    int32_t target = 7;
    float targetF = 7.0f;
    std::vector<int32_t> idle;
    for (int32_t s; (s = AddIdleTask()) >= 0;) idle.push_back(s);
    int32_t live = TaskTable.liveCount;
    EXPECT_EQ(GSL_SystemTransNumSet(&target, 0, 10, 0, kWidgetPriority, kWidgetGroupScreen, 0), -1);
    EXPECT_EQ(TaskTable.liveCount, live);

    // Room for a task record but not for its work area, in any heap.
    ASSERT_FALSE(idle.empty());
    Lib_TaskDel(uint32_t(idle.back()));
    live = TaskTable.liveCount;
    int32_t source = GSL_SystemTransNumSet(nullptr, 0, 10, 0, kWidgetPriority, kWidgetGroupScreen, 0);
    EXPECT_EQ(source, -1);
    FillHeap(HEAP_GRAPHICS, 0);
    FillHeap(HEAP_FILE, 0);
    FillHeap(HEAP_GENERAL, 200);
    ASSERT_GE(Lib_MemHeapLargestFree(&HeapTable.heaps[HEAP_GENERAL]), sizeof(TaskRecord) + sizeof(MemBlockHeader));
    EXPECT_EQ(GSL_SystemTransNumSetF(&targetF, 0.0f, 10, 0, kWidgetPriority, kWidgetGroupScreen, 0), -1);
    EXPECT_EQ(GSL_SystemTransNumSet(&target, 0, 10, 0, kWidgetPriority, kWidgetGroupScreen, 0), -1);
    EXPECT_EQ(TaskTable.liveCount, live);
    Frame();
    EXPECT_EQ(target, 7);
    EXPECT_EQ(targetF, 7.0f);
}

}  // namespace
