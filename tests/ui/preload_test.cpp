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
    static int UsedRequests() {
        int n = 0;
        for (const FileLoadRequest& r : FileLoadTable.slots) n += r.flags & 1;
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

}  // namespace
