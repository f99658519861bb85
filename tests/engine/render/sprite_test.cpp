#include "engine/render/sprite.h"

#include <gtest/gtest.h>

#include <climits>

#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_draw.h"
#include "tests/engine/render/sprite_env.h"

namespace {

class SpriteTableTest : public SpriteEnv {
protected:
    static bool Alive(uint32_t tex) { return tex && glIsTexture(tex); }
    static uint64_t Heap4() { return HeapTable.heaps[HEAP_GRAPHICS].bytesInUse; }
};

// Who releases what: copies share everything with their source, two loads of
// one cached file share data but not textures, container members own copies.
TEST_F(SpriteTableTest, FreeReleasesWhatNoOtherSpriteHolds) {
    ASSERT_TRUE(Picture("ext0 root/visual/a.ext --size 64 32\n"
                        "ext0 m.ext --size 8 8 --bpp 8 --pattern index\npng p.png --size 4 4"));
    ASSERT_TRUE(Pack("arc root/visual/set.arc m.ext p.png"));
    ASSERT_TRUE(Archive());
    const uint64_t heap4 = Heap4();

    for (bool sourceFirst : {true, false}) {
        int32_t src = FromFile("root/visual/a.ext"), copy = Lib_SpriteCopy(0, src);
        ASSERT_GE(copy, 0);
        const uint32_t tex = SpriteTable[src].texture;
        EXPECT_EQ(SpriteTable[copy].texture, tex);
        EXPECT_NE(SpriteTable[copy].drawEntry, SpriteTable[src].drawEntry);
        Lib_SpriteFree(sourceFirst ? src : copy);
        EXPECT_TRUE(Alive(tex));
        Lib_SpriteFree(sourceFirst ? copy : src);
        EXPECT_FALSE(Alive(tex));
        EXPECT_EQ(Heap4(), heap4);
    }

    // Two cached loads of one file: one data buffer, a texture each, one tag.
    int32_t a = Lib_SpriteLoad(0, "visual/a.ext", -1, 1), b = Lib_SpriteLoad(0, "visual/A.EXT", -1, 1);
    LoaderPass();
    Frame();
    ASSERT_EQ(Lib_SpriteGetState(a) + Lib_SpriteGetState(b), 4);
    EXPECT_EQ(SpriteTable[a].data, SpriteTable[b].data);
    const uint32_t texA = SpriteTable[a].texture, texB = SpriteTable[b].texture;
    CacheEntry* entry = Lib_CashGetHitInfo("visual/a.ext", -1);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->tag.load(), 1u);
    Lib_SpriteFree(a);
    EXPECT_FALSE(Alive(texA));  // not kept for the other load
    EXPECT_TRUE(Alive(texB));
    EXPECT_EQ(entry->tag.load(), 1u);  // still held by b
    Lib_SpriteFree(b);
    EXPECT_EQ(entry->tag.load(), 0u);

    // Members of a cached container: own copies, freed with their last holder.
    int32_t box = Lib_SpriteLoad(0, "visual/set.arc", -1, 1);
    LoaderPass();
    Frame();
    Frame();
    ASSERT_EQ(Lib_SpriteGetState(box), 2);
    int32_t m0 = Lib_SpriteLoadGroup2(0, "visual/set.arc", "m.ext", -1, 0);
    int32_t m1 = Lib_SpriteLoadGroup2(0, "visual/set.arc", nullptr, 1, 0);
    EXPECT_EQ(SpriteTable[m0].flags & (SPRITE_CACHED | SPRITE_OWN_COPY | SPRITE_PALETTE), 0x4C);
    EXPECT_EQ(Lib_SpriteGetState(m1), 2);
    int32_t m0copy = Lib_SpriteCopy(0, m0);
    Lib_SpriteFree(m0);
    Lib_SpriteFree(m1);
    EXPECT_TRUE(Alive(SpriteTable[m0copy].paletteTexture));
    Lib_SpriteFree(m0copy);
    Lib_SpriteFree(box);
    EXPECT_EQ(Heap4(), heap4);
    EXPECT_EQ(SpriteLiveObjects, objects_);
}

TEST_F(SpriteTableTest, SlotsOutsideTheTableAndPendingLoadsAreLeftAlone) {
    for (int32_t i = 700; i < kSpriteSlots; ++i) ASSERT_EQ(Lib_SpriteGetFree(i), i);
    EXPECT_EQ(Lib_SpriteGetFree(700), -1);  // no wrap-around
    EXPECT_EQ(Lib_SpriteGetFree(-1), 0);
    EXPECT_EQ(Lib_SpriteGetFree(720), 1);
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);

    int32_t blank = Lib_SpriteLoad(0, nullptr, -1, 0);
    for (int32_t bad : {-1, INT_MIN, 720, INT_MAX}) {
        EXPECT_EQ(Lib_SpriteGetState(bad), -1);
        EXPECT_EQ(Lib_SpriteGetColor(bad), 0xFFFFFFFFu);
        EXPECT_EQ(Lib_SpriteGetCenter(bad).x, kSpriteUnset);
        float params[kSpriteParams];
        EXPECT_EQ(Lib_SpriteGetParams(params, bad)[2], 1.0f);
        Lib_SpriteSetFlag(bad, 1);
        Lib_SpriteFree(bad);
        EXPECT_EQ(Lib_SpriteCopy(0, bad), -1);
    }
    EXPECT_EQ(Lib_SpriteCopy(0, 5), -1);  // a free slot

    // A load still pending is neither freed nor copied.
    ASSERT_TRUE(Picture("ext0 root/visual/a.ext --size 8 8"));
    ASSERT_TRUE(Archive());
    int32_t pending = Lib_SpriteLoad(0, "visual/a.ext", -1, 0);
    Lib_SpriteFree(pending);
    EXPECT_EQ(Lib_SpriteCopy(0, pending), -1);
    LoaderPass();
    Frame();
    EXPECT_EQ(Lib_SpriteGetState(pending), 2);

    // Nor is a capture sprite that has its capture entry.
    int32_t capture = Lib_SpriteCreateCapture(0, 5, 2);
    SpriteTable[capture].flags |= SPRITE_READY;
    EXPECT_EQ(Lib_SpriteCopy(0, capture), -1);
    EXPECT_GE(Lib_SpriteCopy(0, blank), 0);
}

TEST_F(SpriteTableTest, RectColourAndSize) {
    ASSERT_TRUE(Picture("ext0 a.ext --size 64 32 --offset 3 4"));
    int32_t s = FromFile("a.ext");
    SpriteRecord* r = Lib_SpriteAt(s);
    const int32_t full[4] = {0, 0, 64, 32}, part[4] = {16, 8, 16, 8};
    Lib_SpriteSetCenter(s, {5.0f, 6.0f}, {1.0f, 2.0f});
    Lib_SpriteSetRect(s, full);
    EXPECT_EQ(Lib_SpriteGetCenter(s).x, 5.0f);  // the whole texture keeps the centre
    EXPECT_EQ(r->offsetX, 3.0f);
    Lib_SpriteSetRect(s, part);
    const float uv[4] = {0.25f, 0.25f, 0.5f, 0.5f};
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(r->uvRect[i], uv[i]);
    EXPECT_EQ(r->centerX, 32.0f);  // the texture's halves, not the rectangle's
    EXPECT_EQ(r->centerY, 16.0f);
    EXPECT_EQ(r->offsetX, 0.0f);

    r->scaleX = 1.5f;
    r->scaleY = 0.33f;
    EXPECT_EQ(Lib_SpriteGetSize(s, 0, 1).w, 24);
    EXPECT_EQ(Lib_SpriteGetSize(s, 0, 1).h, 2);  // 8 × 0.33 truncated
    EXPECT_EQ(Lib_SpriteGetSize(s, 1, 0).w, 64);
    r->scaleX = 1e30f;
    EXPECT_EQ(Lib_SpriteGetSize(s, 0, 1).w, INT_MAX);

    Lib_SpriteSetColor(s, 0x80FF0000u);  // alpha 0x80, byte 2 (blue) 0xFF
    EXPECT_EQ(r->rgba[0] + r->rgba[1], 0.0f);
    EXPECT_EQ(r->rgba[2], 1.0f);
    EXPECT_NEAR(r->rgba[3], 0.50196f, 1e-5);
    r->flags |= SPRITE_FAILED;  // not live any more
    EXPECT_EQ(Lib_SpriteGetColor(s), 0xFFFFFFFFu);
}

// The walk order follows priorities (highest first) through SetPrio and
// SetDrawCB.
TEST_F(SpriteTableTest, PriorityAndCallbackKeepTheDrawOrder) {
    int32_t s[3];
    for (int i = 0; i < 3; ++i) {
        s[i] = Lib_SpriteLoad(0, nullptr, -1, 0);
        Lib_SpriteSetPrio(s[i], 100 * (i + 1), 0);
    }
    auto order = [] {
        std::vector<int32_t> slots;
        for (int32_t at = DrawList.entries[kDrawHead].next; at >= 0; at = DrawList.entries[at].next)
            slots.push_back(int32_t(reinterpret_cast<SpriteRecord*>(DrawList.entries[at].arg) - SpriteTable));
        return slots;
    };
    EXPECT_EQ(order(), (std::vector<int32_t>{s[2], s[1], s[0]}));
    Lib_SpriteSetPrio(s[0], 250, 0);
    EXPECT_EQ(order(), (std::vector<int32_t>{s[2], s[0], s[1]}));

    const int32_t count = DrawList.count;
    Lib_SpriteSetDrawCB(s[1], nullptr, 0);
    EXPECT_EQ(SpriteTable[s[1]].drawEntry, -1);
    EXPECT_EQ(DrawList.count, count - 1);
    SpriteTable[s[1]].priority = -5;
    Lib_SpriteSetDrawCB(s[1], Lib_SpriteDrawCB, reinterpret_cast<uint64_t>(&SpriteTable[s[1]]));
    EXPECT_EQ(DrawList.entries[SpriteTable[s[1]].drawEntry].priority, 0);  // clamped
    EXPECT_EQ(order(), (std::vector<int32_t>{s[2], s[0], s[1]}));
}

}  // namespace
