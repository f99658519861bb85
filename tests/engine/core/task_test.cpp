#include "engine/core/cache.h"
#include "engine/core/task.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"

namespace {

// What a test task does when called; kept in its own work area.
struct TestWork {
    int id;
    int32_t slot;
    int32_t result;
    int32_t deleteSlot;       // deleted by the callback when >= 0
    bool deleteSelf;          // then the callback deletes its own task
    int32_t registerPriority; // a new task (id + 100) is registered last when >= 0
};

std::vector<int> g_calls;
std::string g_log;

int32_t AddTask(int id, uint16_t priority, uint8_t flags = 0, uint16_t group = 300,
                int32_t result = 0);

int32_t TestCallback(void* work) {
    TestWork w = *static_cast<TestWork*>(work);  // the area may be freed below
    g_calls.push_back(w.id);
    if (w.deleteSlot >= 0) Lib_TaskDel(uint32_t(w.deleteSlot));
    if (w.deleteSelf) Lib_TaskDel(uint32_t(w.slot));
    if (w.registerPriority >= 0) AddTask(w.id + 100, uint16_t(w.registerPriority));
    return w.result;
}

int32_t AddTask(int id, uint16_t priority, uint8_t flags, uint16_t group, int32_t result) {
    int32_t slot = Lib_TaskSet("TestCallback", TestCallback, priority, group, flags);
    if (slot < 0) return slot;
    auto* w = static_cast<TestWork*>(Lib_TaskWorkAlloc(uint32_t(slot), sizeof(TestWork)));
    if (!w) return -1;
    *w = TestWork{id, slot, result, -1, false, -1};
    return slot;
}

TestWork& WorkOf(int32_t slot) { return *static_cast<TestWork*>(TaskTable.slots[slot]->work); }

// Ids of the tasks in list order, sentinels left out.
std::vector<int> ListIds() {
    std::vector<int> ids;
    for (TaskRecord* r = TaskTable.slots[kTaskHead]->next; r != TaskTable.slots[kTaskTail];
         r = r->next)
        ids.push_back(r->dead ? -1 : static_cast<TestWork*>(r->work)->id);
    return ids;
}

std::vector<int> Pass(bool betweenFrames) {
    g_calls.clear();
    Lib_TaskPass(betweenFrames);
    return g_calls;
}

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        const uint64_t sizes[HEAP_COUNT] = {4u << 20, 4u << 20, 2u << 20, 2u << 20, 4u << 20};
        ASSERT_TRUE(Lib_MemInit(sizes));
        ASSERT_TRUE(Lib_TaskInit());
        baseline_ = HeapTable.heaps[HEAP_GENERAL].usedCount;
        g_calls.clear();
        g_log.clear();
    }
    void TearDown() override {
        Lib_DebugSetSink(nullptr);
        Lib_MemRelease();
    }
    uint64_t UsedBlocks() const { return HeapTable.heaps[HEAP_GENERAL].usedCount - baseline_; }
    uint64_t baseline_ = 0;
};

using TaskOrder = TaskTest;
using TaskMutation = TaskTest;
using TaskRules = TaskTest;
using TaskLimits = TaskTest;

TEST_F(TaskOrder, PriorityThenRegistration) {
    AddTask(1, 500);
    AddTask(2, 100);
    AddTask(3, 500);
    AddTask(4, 0);
    AddTask(5, 0);
    AddTask(6, 65535);  // even the tail's priority stays before the tail
    g_calls.clear();
    EXPECT_EQ(Lib_TaskPass(false), 7);  // six tasks and the tail sentinel
    EXPECT_EQ(g_calls, (std::vector<int>{4, 5, 2, 1, 3, 6}));
}

TEST_F(TaskOrder, RegisteredFromCallback) {
    int32_t a = AddTask(1, 500);
    AddTask(2, 600);
    WorkOf(a).registerPriority = 500;  // equal: placed after the running task
    EXPECT_EQ(Pass(false), (std::vector<int>{1, 101, 2}));

    WorkOf(a).registerPriority = 100;  // lower: only from the next pass on
    EXPECT_EQ(Pass(false), (std::vector<int>{1, 101, 2}));
    EXPECT_EQ(ListIds(), (std::vector<int>{101, 1, 101, 2}));
    WorkOf(a).registerPriority = -1;
    EXPECT_EQ(Pass(false), (std::vector<int>{101, 1, 101, 2}));
}

TEST_F(TaskMutation, CallbacksDeletingTasks) {
    int32_t a = AddTask(1, 100, 0, 300, 1);  // finishes on its first call
    int32_t b = AddTask(2, 200);
    int32_t c = AddTask(3, 300);
    int32_t d = AddTask(4, 400);
    int32_t e = AddTask(5, 500);
    AddTask(6, 600);
    WorkOf(b).deleteSlot = a;  // a task that already finished in this pass
    WorkOf(c).deleteSelf = true;
    WorkOf(c).result = 1;
    WorkOf(d).deleteSelf = true;
    WorkOf(d).deleteSlot = e;  // its follower, deleted before itself
    EXPECT_EQ(Pass(false), (std::vector<int>{1, 2, 3, 4, 6}));
    EXPECT_EQ(ListIds(), (std::vector<int>{2, 6}));
    EXPECT_EQ(TaskTable.liveCount, 4);
    EXPECT_EQ(UsedBlocks(), 4u);  // two records with their work areas
    for (int32_t s : {a, c, d, e}) EXPECT_EQ(TaskTable.slots[s], nullptr);

    EXPECT_EQ(Pass(false), (std::vector<int>{2, 6}));
    Lib_TaskDel(uint32_t(b));
    EXPECT_EQ(UsedBlocks(), 2u);
}

TEST_F(TaskMutation, SlotOfDeletedTaskReusedInSamePass) {
    int32_t a = AddTask(1, 100);
    AddTask(2, 200);
    WorkOf(a).deleteSelf = true;
    WorkOf(a).registerPriority = 300;  // takes the slot just given up
    EXPECT_EQ(Pass(false), (std::vector<int>{1, 2, 101}));
    ASSERT_NE(TaskTable.slots[a], nullptr);
    EXPECT_EQ(WorkOf(a).id, 101);
    EXPECT_EQ(ListIds(), (std::vector<int>{2, 101}));
    EXPECT_EQ(TaskTable.liveCount, 4);
    EXPECT_EQ(UsedBlocks(), 4u);
}

TEST_F(TaskRules, WhoIsCalled) {
    // Bits of i: 0 every pass, 1 breakable, 2 suspended, 3 finish request.
    int32_t slots[16];
    for (int i = 0; i < 16; ++i) {
        slots[i] = AddTask(i, 100, uint8_t(i & 3));
        TaskTable.slots[slots[i]]->suspended = (i & 4) ? 1 : 0;
        TaskTable.slots[slots[i]]->finishRequest = (i & 8) ? 1 : 0;
    }
    for (bool between : {true, false}) {
        std::vector<int> expected;
        for (int i = 0; i < 16; ++i) {
            bool runs = !between || (i & TASK_FLAG_EVERY_PASS);
            bool suspendedOut = (i & 4) && !((i & 8) && (i & TASK_FLAG_BREAKABLE));
            if (runs && !suspendedOut) expected.push_back(i);
        }
        EXPECT_EQ(Pass(between), expected) << "between frames " << between;
    }
}

TEST_F(TaskRules, FinishedTasksRemovedAfterTheirPass) {
    int32_t once = AddTask(1, 100, 0, 300, 1);
    int32_t every = AddTask(2, 200, TASK_FLAG_EVERY_PASS);
    int32_t keep = AddTask(3, 300, TASK_FLAG_EVERY_PASS);
    uint64_t bytes = HeapTable.heaps[HEAP_GENERAL].bytesInUse;

    EXPECT_EQ(Pass(false), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(TaskTable.slots[once], nullptr);
    EXPECT_LT(HeapTable.heaps[HEAP_GENERAL].bytesInUse, bytes);
    EXPECT_EQ(UsedBlocks(), 4u);

    WorkOf(every).result = 1;  // finishes on a between-frames pass
    EXPECT_EQ(Pass(true), (std::vector<int>{2, 3}));
    EXPECT_EQ(TaskTable.slots[every], nullptr);
    EXPECT_EQ(ListIds(), (std::vector<int>{3}));
    EXPECT_EQ(TaskTable.liveCount, 3);
    EXPECT_EQ(UsedBlocks(), 2u);
    Lib_TaskDel(uint32_t(keep));
    EXPECT_EQ(UsedBlocks(), 0u);
}

TEST_F(TaskRules, BreakAllOnlyBreakableScreenTasks) {
    int32_t s[4] = {AddTask(1, 1, TASK_FLAG_BREAKABLE, 400), AddTask(2, 1, 0, 400),
                    AddTask(3, 1, TASK_FLAG_BREAKABLE, 401),
                    AddTask(4, 1, TASK_FLAG_BREAKABLE | TASK_FLAG_EVERY_PASS, 400)};
    Lib_TaskBreakAll();
    EXPECT_EQ(TaskTable.slots[s[0]]->finishRequest, 1);
    EXPECT_EQ(TaskTable.slots[s[1]]->finishRequest, 0);
    EXPECT_EQ(TaskTable.slots[s[2]]->finishRequest, 0);
    EXPECT_EQ(TaskTable.slots[s[3]]->finishRequest, 1);
}

TEST_F(TaskLimits, CapacityAndSlotReuse) {
    Lib_DebugSetSink([](const char* line) { g_log += line; });
    for (int i = 0; i < 798; ++i) ASSERT_EQ(AddTask(i, uint16_t(i % 7)), i + 2);
    std::vector<int> before = ListIds();
    EXPECT_EQ(Lib_TaskSet("Overflow", TestCallback, 5, 300, 0), -1);
    EXPECT_EQ(g_log, "Error -> Lib_TaskSet(Overflow,800)\n");
    EXPECT_EQ(ListIds(), before);
    EXPECT_EQ(TaskTable.liveCount, 800);

    Lib_TaskDel(57);
    Lib_TaskDel(uint32_t(-1));
    Lib_TaskDel(800);
    Lib_TaskDel(57);
    Lib_TaskDel(kTaskHead);
    Lib_TaskDel(kTaskTail);
    EXPECT_EQ(TaskTable.liveCount, 799);
    EXPECT_EQ(Lib_TaskWorkAlloc(57, 16), nullptr);
    EXPECT_EQ(Lib_TaskWorkAlloc(800, 16), nullptr);
    EXPECT_EQ(AddTask(9999, 3), 57);
    EXPECT_EQ(Pass(false).size(), 798u);
}

TEST_F(TaskLimits, InitFailsWithoutRoomInHeapZero) {
    MemHeap* h0 = &HeapTable.heaps[HEAP_GENERAL];
    for (int i = 0; i < 64 && Lib_MemHeapLargestFree(h0) >= sizeof(TaskRecord) + 32; ++i) {
        uint64_t largest = Lib_MemHeapLargestFree(h0);
        Lib_MemHeapAlloc(h0, largest > 200 ? largest - 100 : 8, 1, false);
    }
    ASSERT_LT(Lib_MemHeapLargestFree(h0), sizeof(TaskRecord) + 32);

    EXPECT_FALSE(Lib_TaskInit());
    EXPECT_EQ(Lib_TaskSet("NoRoom", TestCallback, 1, 300, 0), -1);
    EXPECT_EQ(Lib_TaskPass(false), 0);
    Lib_TaskBreakAll();
    Lib_TaskDel(2);
    EXPECT_EQ(Lib_TaskWorkAlloc(2, 8), nullptr);
}

}  // namespace
