#include <gtest/gtest.h>

#include "engine/core/task.h"
#include "tests/engine/files/files_env.h"
#include "ui/widget.h"

namespace {

// The preload task on its own: heaps, the task table and hand-driven loader
// passes and frames.
class PreloadTest : public FilesEnv {
protected:
    void SetUp() override {
        FilesEnv::SetUp();
        ASSERT_TRUE(Lib_TaskInit());
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
    }
    void TearDown() override {
        GSL_SystemLoadPrevEnd();
        for (int32_t slot = 0; slot < kTaskSlots; ++slot)
            if (TaskTable.slots[slot]) Lib_TaskDel(uint32_t(slot));
        Lib_TaskPass(true);
        FilesEnv::TearDown();
    }
    static int UsedRequests() {
        int n = 0;
        for (const FileLoadRequest& r : FileLoadTable.slots) n += r.flags & 1;
        return n;
    }
    static int TaskCount() {
        int n = 0;
        for (TaskRecord* t : TaskTable.slots) n += t && t->callback == GSL_SystemLoadPrevCB && !t->dead ? 1 : 0;
        return n;
    }
    static uint32_t TagOf(const char* name) {
        CacheEntry* e = Lib_CashGetHitInfo(name, -1);
        return e ? e->tag.load() : 0xDEAD;
    }
};

// The preload tags the entry it was handed, wherever the header lies (an
// entry made earlier at another alignment), and a trim that runs between the
// delivery and the preload's frame cannot free it first.
TEST_F(PreloadTest, TagsTheDeliveredEntryEvenAfterATrim) {
    Write("user/4242/save/early.bin", "made at alignment 8");
    Write("user/4242/save/late.bin", "delivered before a trim");
    char early[] = "save/early.bin";
    void* data = nullptr;
    ASSERT_TRUE(Lib_FileLoad(kFileTypeCache, early, &data, nullptr, 8, true));

    int32_t results[2] = {9, 9};
    ASSERT_GE(GSL_SystemLoadPrevSet("save/Early.bin", 256, 2, &results[0]), 0);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/late.bin", 256, 3, &results[1]), 0);
    Lib_FileLoadCB(nullptr);
    Lib_CashFreeGroup(0);  // the screen framework's trim runs before the preload tasks
    Lib_TaskPass(false);

    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(TagOf("save/early.bin"), 2u);
    EXPECT_STREQ(Lib_CashGetHitInfo("save/early.bin", -1)->name, "save/early.bin");
    EXPECT_EQ(TagOf("save/late.bin"), 3u);
    void* late = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(Lib_CashLookup("save/late.bin", &late, &size), 1);
    EXPECT_EQ(std::string(static_cast<char*>(late), size), "delivered before a trim");
    EXPECT_EQ(UsedRequests(), 0);

    // Released: the tags alone decide from now on.
    Lib_CashFreeGroup(3);
    EXPECT_EQ(Lib_CashGetHitInfo("save/late.bin", -1), nullptr);
    EXPECT_EQ(TagOf("save/early.bin"), 2u);
}

TEST_F(PreloadTest, KeepingPreloadsAreNotCountedAndSurviveTheFlush) {
    Write("user/4242/save/kept.bin", "kept");
    Write("user/4242/save/plain.bin", "plain");
    int32_t results[3] = {9, 9, 9};
    ASSERT_GE(GSL_SystemLoadPrevSet("save/kept.bin", 256, 2, &results[0]), 0);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/plain.bin", 256, 0, &results[1]), 0);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/missing.bin", 256, 0, &results[2]), 0);
    EXPECT_EQ(PreloadPending, 2);
    PreloadReleaseQuota = 5;  // a keeping preload never withdraws
    EXPECT_FALSE(GSL_SystemLoadPrevCheck());
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(TagOf("save/kept.bin"), 2u);
    EXPECT_EQ(PreloadPending, 0);
    EXPECT_EQ(UsedRequests(), 0);
    PreloadReleaseQuota = 0;

    // The test heaps are far below the keeping block: the flush runs.
    EXPECT_TRUE(GSL_SystemLoadPrevCheck());
    EXPECT_EQ(TagOf("save/kept.bin"), 2u);
    EXPECT_EQ(Lib_CashGetHitInfo("save/plain.bin", -1), nullptr);
    EXPECT_EQ(Lib_CashGetHitInfo("save/missing.bin", -1), nullptr);

    EXPECT_TRUE(GSL_SystemCacheKeeps(0x28000000u));
    EXPECT_FALSE(GSL_SystemCacheKeeps(0x27FFFFFFu));
    EXPECT_FALSE(GSL_SystemCacheKeeps(0));
}

// A withdrawn preload ends at once and never touches the slot it gave up,
// which the next request takes for its own owner.
TEST_F(PreloadTest, WithdrawnPreloadLeavesItsSlotToTheNextOwner) {
    Write("user/4242/save/a.bin", "first");
    Write("user/4242/save/b.bin", "second");
    Write("user/4242/save/c.bin", "third owner");
    int32_t results[2] = {9, 9};
    ASSERT_GE(GSL_SystemLoadPrevSet("save/a.bin", 256, 0, &results[0]), 0);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/b.bin", 256, 0, &results[1]), 0);
    PreloadReleaseQuota = 1;
    Lib_TaskPass(false);
    EXPECT_EQ(results[0], -1);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(PreloadPending, 1);
    EXPECT_EQ(PreloadReleaseQuota, 0);
    EXPECT_EQ(UsedRequests(), 1);

    void* data = nullptr;
    uint32_t size = 0;
    const int32_t mine = Lib_FileLoadReq(kFileTypeCache, "save/c.bin", &data, &size, 256);
    ASSERT_EQ(mine, 0);  // the withdrawn slot
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(PreloadPending, 0);
    EXPECT_EQ(FileLoadTable.slots[mine].flags.load() & 1, 1);
    EXPECT_EQ(FileLoadTable.slots[mine].state.load(), 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(data), size), "third owner");
    Lib_FileLoadEnd(mine);
}

TEST_F(PreloadTest, NoRequestSlotFailsAtOnceAndTagsAreOnlyRaised) {
    for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 1;
    int32_t result = 9;
    ASSERT_GE(GSL_SystemLoadPrevSet("save/any.bin", 256, 0, &result), 0);
    for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
    Lib_TaskPass(false);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(PreloadPending, 0);
    EXPECT_EQ(TaskCount(), 0);

    // An entry a sprite holds (tag 1) keeps it through an ordinary preload,
    // and a keeping preload's tag is not lowered by a smaller one.
    Write("user/4242/save/held.bin", "held");
    char name[] = "save/held.bin";
    void* data = nullptr;
    ASSERT_TRUE(Lib_FileLoad(kFileTypeCache, name, &data, nullptr, 256, true));
    ASSERT_TRUE(Lib_FileCacheTag("save/held.bin", -1, 1));
    ASSERT_GE(GSL_SystemLoadPrevSet("save/held.bin", 256, 0, &result), 0);
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(TagOf("save/held.bin"), 1u);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/held.bin", 256, 4, &result), 0);
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
    EXPECT_EQ(TagOf("save/held.bin"), 4u);
    ASSERT_GE(GSL_SystemLoadPrevSet("save/held.bin", 256, 2, &result), 0);
    Lib_FileLoadCB(nullptr);
    Lib_TaskPass(false);
    EXPECT_EQ(TagOf("save/held.bin"), 4u);
}

}  // namespace
