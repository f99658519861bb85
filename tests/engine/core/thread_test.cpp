#include "engine/core/cache.h"
#include "engine/core/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "tests/engine/core/worker_wait.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_calls{0};
std::atomic<bool> g_entered{false};
std::atomic<bool> g_gateOpen{false};
std::string g_log;

int32_t ReturnsOne(void*) {
    g_calls.fetch_add(1);
    return 1;
}

int32_t ReturnsZero(void*) {
    g_calls.fetch_add(1);
    return 0;
}

int32_t BlocksOnGate(void*) {
    g_calls.fetch_add(1);
    g_entered.store(true);
    while (!g_gateOpen.load()) std::this_thread::sleep_for(1ms);
    return 0;
}

bool WaitFor(const std::function<bool()>& pred, const char* what) { return WorkerUntil(pred, {}, what) >= 0; }

// Lib_ThreadDel with a bound: false when it hangs (WorkerUntil's deadline).
// The thread is then let run, so that the delete can still finish.
bool DeletedWithin(int32_t slot) {
    ThreadRecord* record = ThreadTable[slot];
    std::atomic<bool> done{false};
    std::thread owner([&] {
        Lib_ThreadDel(slot);
        done = true;
    });
    bool inTime = WaitFor([&] { return done.load(); }, "the delete");
    if (!inTime) record->control.fetch_or(THREAD_STARTED);
    owner.join();
    return inTime;
}

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        const uint64_t sizes[HEAP_COUNT] = {4u << 20, 4u << 20, 2u << 20, 2u << 20, 4u << 20};
        ASSERT_TRUE(Lib_MemInit(sizes));
        Lib_ThreadTableClear();
        baseline_ = HeapTable.heaps[HEAP_GENERAL].usedCount;
        g_calls = 0;
        g_entered = false;
        g_gateOpen = false;
        g_log.clear();
    }
    void TearDown() override {
        Lib_DebugSetSink(nullptr);
        g_gateOpen = true;
        // After a failed check no thread may be left waiting for its start.
        for (ThreadRecord* r : ThreadTable)
            if (r && HasFailure()) r->control.fetch_or(THREAD_STARTED);
        for (int i = 0; i < kThreadSlots; ++i) Lib_ThreadDel(i);
        Lib_MemRelease();
    }
    uint64_t UsedBlocks() const { return HeapTable.heaps[HEAP_GENERAL].usedCount - baseline_; }
    uint64_t baseline_ = 0;
};

using ThreadLife = ThreadTest;
using ThreadTable90 = ThreadTest;

TEST_F(ThreadLife, FunctionReturningOneEndsThread) {
    int32_t slot = Lib_ThreadSet("Lib_FileLoadCB", ReturnsOne, THREAD_PRIORITY_NORMAL);
    ASSERT_EQ(slot, 0);
    ThreadRecord* record = ThreadTable[slot];
    EXPECT_NE(record->threadId.load(), 0u);
    record->argument = Lib_MemAlloc(HEAP_GENERAL, 64, 8);
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(g_calls.load(), 0);  // not before it is started

    Lib_ThreadStart(slot);
    ASSERT_TRUE(WaitFor([] { return g_calls.load() == 1; }, "the call"));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(g_calls.load(), 1);
    Lib_ThreadDel(slot);
    EXPECT_EQ(ThreadTable[slot], nullptr);
    EXPECT_EQ(UsedBlocks(), 0u);
}

TEST_F(ThreadLife, StopDuringCallLetsItFinish) {
    int32_t slot = Lib_ThreadSet("soundWorkThread", BlocksOnGate, THREAD_PRIORITY_ABOVE_NORMAL);
    ASSERT_GE(slot, 0);
    ThreadRecord* record = ThreadTable[slot];
    Lib_ThreadStart(slot);
    ASSERT_TRUE(WaitFor([] { return g_entered.load(); }, "the call"));

    std::thread owner([slot] { Lib_ThreadDel(slot); });
    bool stopSeen =
        WaitFor([record] { return (record->control.load() & THREAD_STOP) != 0; }, "the stop");
    g_gateOpen = true;
    owner.join();
    EXPECT_TRUE(stopSeen);
    EXPECT_EQ(g_calls.load(), 1);
    EXPECT_EQ(ThreadTable[slot], nullptr);
    EXPECT_EQ(UsedBlocks(), 0u);
}

TEST_F(ThreadLife, DeleteNeverStartedAndStressCycles) {
    // A thread deleted before it was started ends without ever running.
    int32_t slot = Lib_ThreadSet("idle", ReturnsZero, THREAD_PRIORITY_NORMAL);
    ASSERT_GE(slot, 0);
    ASSERT_TRUE(DeletedWithin(slot));
    EXPECT_EQ(g_calls.load(), 0);
    EXPECT_EQ(UsedBlocks(), 0u);

    // Create/delete cycles in every mix of started, yielded and paused: each
    // takes slot 0, ends, frees its slot and its record; one never started
    // never runs. (How many cycles a second is a figure of bench/thread_bench.)
    for (int cycle = 0; cycle < 60; ++cycle) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        const bool started = cycle % 3 != 0;
        const int callsBefore = g_calls.load();
        int32_t s = Lib_ThreadSet("cycle", ReturnsZero, cycle & 1);
        ASSERT_EQ(s, 0);
        ASSERT_NE(ThreadTable[s], nullptr);
        if (started) Lib_ThreadStart(s);
        if (cycle % 2 == 0) Lib_ThreadYield(s);
        if (cycle % 5 == 0) std::this_thread::sleep_for(200us);
        Lib_ThreadYield(s);
        ASSERT_TRUE(DeletedWithin(s));
        ASSERT_EQ(ThreadTable[s], nullptr);
        ASSERT_EQ(UsedBlocks(), 0u);
        if (!started) {
            ASSERT_EQ(g_calls.load(), callsBefore);
        }
        const int callsAfter = g_calls.load();
        if (cycle % 10 == 0) std::this_thread::sleep_for(2ms);
        ASSERT_EQ(g_calls.load(), callsAfter) << "a deleted thread ran on";
    }
}

TEST_F(ThreadTable90, FullTableAndBadSlots) {
    Lib_DebugSetSink([](const char* line) { g_log += line; });
    for (int i = 0; i < kThreadSlots; ++i)
        ASSERT_EQ(Lib_ThreadSet("worker", ReturnsOne, THREAD_PRIORITY_NORMAL), i);
    ThreadRecord* before[kThreadSlots];
    for (int i = 0; i < kThreadSlots; ++i) before[i] = ThreadTable[i];
    uint64_t used = UsedBlocks();

    EXPECT_EQ(Lib_ThreadSet("extra", ReturnsOne, THREAD_PRIORITY_NORMAL), -1);
    EXPECT_EQ(g_log, "Error -> Lib_ThreadSet(extra)\n");
    EXPECT_EQ(UsedBlocks(), used);
    for (int i = 0; i < kThreadSlots; ++i) EXPECT_EQ(ThreadTable[i], before[i]);

    Lib_ThreadDel(-1);
    Lib_ThreadDel(kThreadSlots);
    Lib_ThreadStart(-1);
    Lib_ThreadYield(kThreadSlots);
    for (int i = 0; i < kThreadSlots; ++i) EXPECT_EQ(ThreadTable[i], before[i]);

    ASSERT_TRUE(DeletedWithin(41));  // never started
    EXPECT_EQ(Lib_ThreadSet("again", ReturnsOne, THREAD_PRIORITY_NORMAL), 41);
    for (int i = 0; i < kThreadSlots; ++i) Lib_ThreadDel(i);
    EXPECT_EQ(UsedBlocks(), 0u);
    EXPECT_EQ(g_calls.load(), 0);
}

}  // namespace
