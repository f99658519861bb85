#include "engine/render/draw_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr uint64_t kHeadArg = 999;
using Calls = std::vector<uint64_t>;
Calls g_calls;
std::map<uint64_t, std::function<void()>> g_onCall;  // extra work done by a callback

void Record(uint64_t arg) {
    g_calls.push_back(arg);
    auto it = g_onCall.find(arg);
    if (it == g_onCall.end()) return;
    std::function<void()> work = it->second;  // it may erase itself
    work();
}

int32_t Add(uint64_t arg, int32_t priority, int32_t sub = -1) {
    return Lib_DrawSet(Record, arg, priority, 0, sub);
}

// The chain from the head is finite, mirrored by prev and ordered by
// priority; a used entry off the chain is a taken-out one; the count is exact.
void ExpectSound() {
    std::vector<bool> inChain(kDrawEntries);
    int32_t prev = -1, last = kDrawHeadPriority, steps = 0;
    for (int32_t at = kDrawHead; at >= 0; prev = at, at = DrawList.entries[at].next) {
        const DrawEntry& e = DrawList.entries[at];
        ASSERT_TRUE(steps++ < kDrawEntries && !inChain[at]) << "cycle at " << at;
        inChain[at] = true;
        EXPECT_EQ(e.prev, prev) << at;
        EXPECT_TRUE(at == kDrawHead || (e.callback && e.priority >= 0 && e.priority <= last)) << at;
        if (at != kDrawHead) last = e.priority;
    }
    int used = 0;
    for (int i = 0; i < kDrawEntries; i++) {
        const DrawEntry& e = DrawList.entries[i];
        used += e.callback != nullptr;
        EXPECT_TRUE(inChain[i] || (e.prev == -1 && e.next == -1 && !e.removeFlag &&
                                   (!e.callback || e.priority < 0)))
            << "entry " << i << " off the chain";
    }
    EXPECT_EQ(used, DrawList.count);
}

// One frame: the callbacks called after the head, which must come first.
Calls Walk() {
    g_calls.clear();
    Lib_DrawWalk();
    ExpectSound();
    EXPECT_EQ(g_calls.at(0), kHeadArg);
    return Calls(g_calls.begin() + 1, g_calls.end());
}

class DrawListTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_onCall.clear();
        Lib_DrawClear();
        ASSERT_EQ(Add(kHeadArg, kDrawHeadPriority), kDrawHead);
    }
};

TEST_F(DrawListTest, OrderRules) {
    Add(1, 5), Add(2, 9), Add(3, 5);
    EXPECT_EQ(Walk(), (Calls{2, 1, 3}));
    SetUp();
    Add(1, 5, 1), Add(2, 5, 3), Add(3, 5, 3);
    EXPECT_EQ(Walk(), (Calls{2, 3, 1}));
    SetUp();
    Add(1, 5, -2), Add(2, 5, 0), Add(3, 5, -1);  // negative goes last, whatever its value
    EXPECT_EQ(Walk(), (Calls{2, 1, 3}));
    SetUp();
    Add(1, 0, 4), Add(2, -7), Add(3, kDrawHeadPriority, 7);
    EXPECT_EQ(Walk(), (Calls{3, 1, 2}));
}

TEST_F(DrawListTest, DeferredDeleteIsCalledOnceMore) {
    int32_t a = Add(1, 5), b = Add(2, 4);
    Add(3, 3);
    Lib_DrawDel(uint32_t(a), 1);
    g_onCall[2] = [&] { Lib_DrawDel(uint32_t(b), 1); };
    EXPECT_EQ(Walk(), (Calls{1, 2, 3}));
    EXPECT_EQ(Walk(), (Calls{3}));
    // Flagged and called, then removed at once and its index taken again later
    // in the walk: the newcomer is not removed with it.
    int32_t c = Add(4, 9);
    Lib_DrawDel(uint32_t(c), 1);
    g_onCall[3] = [&] { Lib_DrawDel(uint32_t(c), 0), Add(5, 1), g_onCall.erase(3); };
    EXPECT_EQ(Walk(), (Calls{4, 3, 5}));
    EXPECT_EQ(Walk(), (Calls{3, 5}));
}

TEST_F(DrawListTest, TakenOutEntries) {
    int32_t a = Add(1, 5, 2), b = Add(2, 4);
    Lib_DrawSetPrio(uint32_t(a), -1, 2);
    EXPECT_EQ(Walk(), (Calls{2}));
    Lib_DrawSetPrio(uint32_t(a), 5, 2);  // the old values link it again
    EXPECT_EQ(Walk(), (Calls{1, 2}));
    Lib_DrawSetPrio(uint32_t(a), -1, 0);
    Lib_DrawDel(uint32_t(a), 0);
    EXPECT_EQ(Walk(), (Calls{2}));
    // Off the chain an entry is never walked, so a deferred delete of a
    // taken-out entry, or taking out a flagged one, removes it at once.
    Lib_DrawSetPrio(uint32_t(Add(1, 5)), -1, 0);
    Lib_DrawDel(1, 1);
    Lib_DrawDel(uint32_t(b), 1);
    Lib_DrawSetPrio(uint32_t(b), -3, 0);
    EXPECT_EQ(DrawList.count, 1);
    ExpectSound();
}

TEST_F(DrawListTest, FullTableAndStaleIndices) {
    for (int i = 1; i < kDrawEntries; i++) ASSERT_EQ(Add(uint64_t(i), i % 7), i);
    EXPECT_EQ(Add(5000, 1), -1);
    EXPECT_EQ(Lib_DrawSet(nullptr, 0, 1, 0, 0), -1);
    Lib_DrawDel(500, 0);
    Lib_DrawDel(500, 0);           // a second delete leaves the count alone: no false "full"
    Lib_DrawSetPrio(500, 7, 0);    // a free entry is not linked
    Lib_DrawLink(500, 7, 0);
    Lib_DrawDel(uint32_t(-1), 0);  // out of range
    Lib_DrawSetPrio(kDrawEntries, 1, 1);
    EXPECT_EQ(DrawList.count, kDrawEntries - 1);
    ExpectSound();
    EXPECT_EQ(Add(5000, 1), 500);
    EXPECT_EQ(Add(5001, 1), -1);
}

TEST_F(DrawListTest, CallbacksChangingTheListKeepTheWalkGoing) {
    int32_t a = Add(1, 9), b = Add(2, 8), c = Add(3, 7);
    Add(4, 6);
    g_onCall[1] = [&] { Lib_DrawDel(uint32_t(a), 0), Lib_DrawDel(uint32_t(b), 0); };
    EXPECT_EQ(Walk(), (Calls{1, 3, 4}));
    // An entry added behind the running one is called in the same frame, one
    // added before it from the next frame on.
    Add(5, 7, 0);
    g_onCall[5] = [] { Add(6, 6, 0), Add(7, 8), g_onCall.erase(5); };
    EXPECT_EQ(Walk(), (Calls{5, 3, 6, 4}));
    g_onCall[3] = [&] { Lib_DrawSetPrio(uint32_t(c), -1, 0), g_onCall.erase(3); };
    EXPECT_EQ(Walk(), (Calls{7, 5, 3, 6, 4}));
    EXPECT_EQ(Walk(), (Calls{7, 5, 6, 4}));
}

TEST_F(DrawListTest, RandomOperationsKeepTheListSound) {
    std::mt19937 rng(17);
    auto random = [&](int n) { return int32_t(rng() % uint32_t(n)); };
    auto randomOp = [&] {  // on random indices: stale ones included
        uint32_t i = uint32_t(1 + random(60));
        int op = random(5);
        if (op < 2) Lib_DrawDel(i, uint8_t(op));
        else if (op == 2) Lib_DrawSetPrio(i, random(12) - 3, random(4) - 1);
        else Add(uint64_t(random(50)), random(10), random(4) - 1);
    };
    for (uint64_t arg = 0; arg < 50; arg += 3) g_onCall[arg] = randomOp;
    for (int frame = 0; frame < 400 && !HasFailure(); frame++) {
        for (int k = 0; k < 6; k++) randomOp();
        Walk();
    }
}

}  // namespace
