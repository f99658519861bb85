#include "engine/render/sprite_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/debug_log.h"
#include "tests/engine/render/sprite_env.h"

namespace {

class SpriteLoadTest : public SpriteEnv {
protected:
    void SetUp() override {
        SpriteEnv::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Picture("ext0 root/visual/a.ext --size 16 8\n"
                            "png root/visual/b.png --size 8 8\n"
                            "ext0 m0.ext --size 4 4\next0 m1.ext --size 2 2\next0 m2.ext --size 2 2\n"
                            "tga m3.tga --size 3 5"));
        ASSERT_TRUE(Pack("arc root/visual/set.arc m0.ext m1.ext m2.ext m3.tga"));
        ASSERT_TRUE(Archive());
    }
};

TEST_F(SpriteLoadTest, BlankSpriteIsReadyAtOnce) {
    const SpriteRecord& r = SpriteTable[Lib_SpriteLoad(-1, nullptr, -1, 0)];
    EXPECT_EQ(r.flags, SPRITE_IN_USE | SPRITE_READY);
    EXPECT_EQ(r.textureWidth + r.imageHeight, 1280 + 720);
    EXPECT_EQ(r.centerX, 640.0f);
    EXPECT_EQ(r.centerY, 360.0f);
    EXPECT_EQ(DrawList.entries[r.drawEntry].subPriority, -1);
    EXPECT_EQ(StrayTasks(), 0);
}

// A picture is ready on the first frame after its bytes arrived, a container
// one frame later; a missing file fails. Every request slot is released.
TEST_F(SpriteLoadTest, LoadsBecomeReadyOnTheNextFrame) {
    int32_t pic = Lib_SpriteLoad(0, "visual/a.ext", -1, 0);
    int32_t png = Lib_SpriteLoad(0, "visual/b.png", -1, 1);
    int32_t box = Lib_SpriteLoad(0, "visual/set.arc", -1, 0);
    int32_t missing = Lib_SpriteLoad(0, "visual/none.ext", -1, 0);
    EXPECT_EQ(UsedRequests(), 4);
    EXPECT_EQ(StrayTasks(), 4);
    Frame();  // nothing has arrived yet
    for (int32_t s : {pic, png, box, missing}) EXPECT_EQ(Lib_SpriteGetState(s), 0);
    LoaderPass();
    for (int32_t s : {pic, png, box, missing}) EXPECT_EQ(Lib_SpriteGetState(s), 0);
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(pic), 2);
    EXPECT_EQ(Lib_SpriteGetState(png), 2);
    EXPECT_EQ(SpriteTable[png].flags & (SPRITE_CACHED | SPRITE_OWN_COPY), SPRITE_CACHED | SPRITE_OWN_COPY);
    EXPECT_EQ(Lib_SpriteGetState(box), 0);
    EXPECT_EQ(Lib_SpriteGetState(missing), -1);
    EXPECT_EQ(UsedRequests(), 0);
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(box), 2);
    EXPECT_EQ(StrayTasks(), 0);

    Lib_SpriteFree(missing);
    EXPECT_EQ(SpriteTable[missing].flags, 0);
}

std::vector<std::string> g_log;

// A PNG is decoded on the loader thread after its read, so the frame that
// finds it only uploads it: a damaged one tells the decoder's failure during
// the loader's pass, and the frame after fails the sprite with its own line.
// A sound one, read from the cache for a second sprite, shows its pixels.
TEST_F(SpriteLoadTest, PngsAreDecodedByTheLoader) {
    std::string bad = Read("root/visual/b.png");
    bad[bad.size() - 20] ^= 0x5A;  // inside the last chunks: the CRC fails
    std::ofstream("root/visual/bad.png", std::ios::binary) << bad;
    ASSERT_TRUE(Archive());
    g_log.clear();
    Lib_DebugSetSink([](const char* line) { g_log.emplace_back(line); });
    auto count = [](const char* what) {
        return std::count_if(g_log.begin(), g_log.end(),
                             [what](const std::string& l) { return l.find(what) != std::string::npos; });
    };
    const int32_t first = Lib_SpriteLoad(0, "visual/b.png", -1, 1);
    const int32_t broken = Lib_SpriteLoad(0, "visual/bad.png", -1, 0);
    LoaderPass();
    const int32_t second = Lib_SpriteLoad(0, "visual/b.png", -1, 1);
    LoaderPass();
    EXPECT_EQ(count("Error -> Lib_WicDecode"), 1);
    EXPECT_EQ(count("Error -> Lib_SpriteMakeTexture"), 0);
    Frame();
    Lib_DebugSetSink(nullptr);
    EXPECT_EQ(count("Error -> Lib_WicDecode"), 1);
    EXPECT_EQ(count("Error -> Lib_SpriteMakeTexture"), 1);
    EXPECT_EQ(Lib_SpriteGetState(broken), -1);
    for (int32_t s : {first, second}) {
        ASSERT_EQ(Lib_SpriteGetState(s), 2);
        EXPECT_NE(SpriteTable[s].data, SpriteTable[first == s ? second : first].data);  // a buffer each
        auto texels = ReadTexture(SpriteTable[s].texture, 8, 8);
        EXPECT_EQ(TexelAt(texels, 8, 5, 3), Coords(5, 3));
    }
    EXPECT_EQ(UsedRequests(), 0);
    EXPECT_EQ(StrayTasks(), 0);
}

// A cached picture delivered before a trim of group 0 (the screens trim
// before the sprite tasks run) is still there for its sprite, which holds it.
TEST_F(SpriteLoadTest, ACachedPictureOutlivesATrimBeforeItsFrame) {
    int32_t pic = Lib_SpriteLoad(0, "Visual/A.ext", -1, 1);
    LoaderPass();
    Lib_CashFreeGroup(0);
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(pic), 2);
    CacheEntry* e = Lib_CashGetHitInfo("visual/a.ext", -1);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag.load(), 1u);
    EXPECT_EQ(SpriteTable[pic].data, Lib_CashData(e));
    EXPECT_EQ(UsedRequests(), 0);
    Lib_SpriteFree(pic);
    EXPECT_EQ(e->tag.load(), 0u);
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("visual/a.ext", -1), nullptr);
}

// Running out of request slots or tasks leaves nothing behind.
TEST_F(SpriteLoadTest, NoRequestSlotOrTaskLeavesNothing) {
    void* sink[kFileLoadSlots];
    for (int32_t i = 0; i < kFileLoadSlots; ++i) ASSERT_EQ(Lib_FileLoadReq(4, "visual/a.ext", &sink[i], nullptr, 8), i);
    EXPECT_EQ(Lib_SpriteLoad(0, "visual/a.ext", -1, 0), -1);
    EXPECT_EQ(SpriteTable[0].flags, 0);
    EXPECT_EQ(StrayTasks(), 0);

    // The group load keeps its slot and fails on the next frame.
    int32_t g = Lib_SpriteLoadGroup2(0, "visual/set.arc", "m0.ext", -1, 1);
    ASSERT_GE(g, 0);
    EXPECT_EQ(Lib_SpriteGetState(g), 0);
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(g), -1);
    EXPECT_EQ(StrayTasks(), 0);
    for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
    FileLoadTable.pending = 0;

    while (TaskTable.liveCount < kTaskSlots) ASSERT_GE(Lib_TaskSet("filler", [](void*) { return 0; }, 1, 1, 0), 0);
    EXPECT_EQ(Lib_SpriteLoad(0, "visual/a.ext", -1, 0), -1);
    EXPECT_EQ(Lib_SpriteLoadGroup2(0, "visual/set.arc", "m0.ext", -1, 1), -1);
    EXPECT_EQ(UsedRequests(), 0);
    EXPECT_EQ(Lib_SpriteGetState(1), -1);
    EXPECT_EQ(SpriteTable[1].flags, 0);
}

TEST_F(SpriteLoadTest, GroupLoadsFromCachedAndQueuedContainers) {
    // Not cached: without queueFlag refused, with it built by a task.
    EXPECT_EQ(Lib_SpriteLoadGroup2(0, "visual/set.arc", "m0.ext", -1, 0), -1);
    EXPECT_EQ(SpriteTable[0].flags, 0);
    int32_t queued = Lib_SpriteLoadGroup2(0, "visual/SET.arc", "M0.EXT", -1, 1);
    const std::string longName(300, 'm');  // the copy in the work area is bounded
    int32_t queuedMissing = Lib_SpriteLoadGroup2(0, "visual/set.arc", longName.c_str(), -1, 1);
    LoaderPass();
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(queued), 2);
    EXPECT_EQ(SpriteTable[queued].textureWidth, 4);
    EXPECT_EQ(Lib_SpriteGetState(queuedMissing), -1);
    EXPECT_EQ(UsedRequests(), 0);
    EXPECT_EQ(StrayTasks(), 0);

    // Cached now: built before returning; an index of 0 or more wins over the name.
    int32_t byIndex = Lib_SpriteLoadGroup2(0, "visual/set.arc", "m0.ext", 3, 0);
    EXPECT_EQ(Lib_SpriteGetState(byIndex), 2);
    EXPECT_EQ(SpriteTable[byIndex].textureHeight, 5);
    int32_t missing = Lib_SpriteLoadGroup2(0, "visual/set.arc", "none.ext", -1, 1);
    EXPECT_EQ(Lib_SpriteGetState(missing), -1);
    EXPECT_EQ(Lib_SpriteGetState(Lib_SpriteLoadGroup2(0, "visual/set.arc", nullptr, 4, 0)), -1);
    EXPECT_EQ(UsedRequests(), 0);

    // Members own their pixels: the container may leave the cache.
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("visual/set.arc", -1), nullptr);
    auto texels = ReadTexture(SpriteTable[byIndex].texture, 3, 5);
    EXPECT_EQ(TexelAt(texels, 3, 2, 4), Coords(2, 4));

    // The container wait of screen code.
    SpriteGroupWaitWork waits[2] = {{SPRITE_WAIT_PENDING, -1}, {SPRITE_WAIT_PENDING, -1}};
    void* target[2];
    waits[0].request = Lib_FileLoadReq(kFileTypeCache, "visual/set.arc", &target[0], nullptr, 256);
    waits[1].request = Lib_FileLoadReq(kFileTypeCache, "visual/gone.arc", &target[1], nullptr, 256);
    EXPECT_EQ(Lib_SpriteLoadGroupCB(&waits[0]), 0);
    EXPECT_EQ(waits[0].state, SPRITE_WAIT_PENDING);
    LoaderPass();
    for (auto& w : waits) EXPECT_EQ(Lib_SpriteLoadGroupCB(&w), 0);
    EXPECT_EQ(waits[0].state, SPRITE_WAIT_LOADED);
    EXPECT_EQ(waits[1].state, SPRITE_WAIT_FAILED);
    EXPECT_EQ(waits[1].request, -1);
    EXPECT_EQ(UsedRequests(), 0);
}

}  // namespace
