#include "engine/render/sprite_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "tests/engine/render/sprite_env.h"

namespace {

class SpriteCaptureTest : public SpriteEnv {
protected:
    void TearDown() override {
        ClearColour[0] = ClearColour[1] = ClearColour[2] = 0.0f;
        SpriteEnv::TearDown();
    }
    static uint64_t Arg(int32_t slot) { return reinterpret_cast<uint64_t>(&SpriteTable[slot]); }
    // Red of the capture texture's first texel.
    static uint8_t CapturedRed(int32_t slot) {
        return ReadTexture(SpriteTable[slot].texture, 1, 1)[2];
    }
    // Four quarters (red, green, green, half-blue) over the whole frame; the
    // picture's sprite, or -1.
    static int32_t ShowQuads() {
        std::ofstream("quad.pict") << R"({"format": "ext0", "size": [64, 36], "background": "#00ff00",
            "shapes": [{"rect": [0, 0, 32, 18], "colour": "#ff0000"}, {"rect": [32, 18, 32, 18], "colour": "#0000ff80"}]})";
        if (!Picture("pict quad.ext quad.pict")) return -1;
        const int32_t pic = FromFile("quad.ext");
        if (pic < 0) return -1;
        SpriteTable[pic].visible = 1;
        SpriteTable[pic].scaleX = SpriteTable[pic].scaleY = 20.0f;
        Lib_SpriteSetPrio(pic, 100, 0);
        return pic;
    }
};

TEST_F(SpriteCaptureTest, IntervalsAndOneShotRemoval) {
    int32_t every3 = Lib_SpriteCreateCapture(0, 10, 3);
    ASSERT_GE(every3, 0);
    EXPECT_EQ(Lib_SpriteGetState(every3), 0);  // ready from the first capture
    for (int call = 1; call <= 7; ++call) {
        ClearFrame(call * 20 / 255.0f, 0, 0, 1);
        Lib_CaptureCB(Arg(every3));
        const int last = 1 + (call - 1) / 3 * 3;  // calls 1, 4, 7 capture
        EXPECT_EQ(CapturedRed(every3), last * 20) << "call " << call;
    }
    EXPECT_EQ(Lib_SpriteGetState(every3), 2);

    int32_t once = Lib_SpriteCreateCapture(0, 10, -4);  // negative: once
    EXPECT_EQ(SpriteTable[once].captureInterval, 0);
    const int32_t entry = SpriteTable[once].captureEntry, count = DrawList.count;
    ASSERT_GE(entry, 0);
    ClearColour[0] = 0.5f;
    Lib_DrawWalk();
    EXPECT_EQ(CapturedRed(once), 128);
    EXPECT_EQ(SpriteTable[once].captureEntry, -1);
    EXPECT_EQ(DrawList.entries[entry].callback, nullptr);  // gone after the walk
    EXPECT_EQ(DrawList.count, count - 1);
    ClearColour[0] = 1.0f;
    Lib_DrawWalk();
    EXPECT_EQ(CapturedRed(once), 128);
}

// A capture holds what was drawn before its entry, top row first; the memory
// image has alpha 0xFF; the capture drawn full screen is upright.
TEST_F(SpriteCaptureTest, CaptureOrderRowsAndAlpha) {
    std::ofstream("half.pict") << R"({"format": "ext0", "size": [64, 36], "background": "#0000ff80",
        "shapes": [{"rect": [0, 0, 64, 18], "colour": "#ff000080"}]})";
    ASSERT_TRUE(Picture("pict half.ext half.pict"));
    int32_t pic = FromFile("half.ext");
    SpriteTable[pic].visible = 1;
    SpriteTable[pic].scaleX = SpriteTable[pic].scaleY = 20.0f;
    Lib_SpriteSetPrio(pic, 100, 0);
    int32_t after = Lib_SpriteCreateCapture(0, 50, 0);
    int32_t before = Lib_SpriteCreateCapture(0, 1000, 0);
    Lib_DrawWalk();

    void* image = nullptr;
    Lib_ScreenCapture(SpriteTable[after].texture, 0, &image, HEAP_GRAPHICS);
    ASSERT_NE(image, nullptr);
    const Bgra* px = static_cast<const Bgra*>(image);
    const Bgra top{0, 0, 128, 255}, bottom{128, 0, 0, 255};  // half alpha over the black clear colour
    EXPECT_EQ(px[0], top);
    EXPECT_EQ(px[1280 * 300 + 640], top);
    EXPECT_EQ(px[1280 * 719 + 1279], bottom);
    bool opaque = true;
    for (uint32_t i = 0; i < 1280 * 720; ++i) opaque = opaque && px[i].a == 255;
    EXPECT_TRUE(opaque);
    Lib_MemFree(HEAP_GRAPHICS, image);

    // Above every picture: the clear colour only (opaque, unlike the zeroed start).
    auto early = ReadTexture(SpriteTable[before].texture, 1280, 720);
    EXPECT_EQ(TexelAt(early, 1280, 640, 10), (Bgra{0, 0, 0, 255}));
    EXPECT_EQ(TexelAt(early, 1280, 640, 700), (Bgra{0, 0, 0, 255}));

    // The capture drawn over the whole frame (opaque) shows the same picture.
    SpriteTable[pic].visible = 0;
    SpriteTable[after].visible = 1;
    Lib_DrawWalk();
    Image frame = ReadFrame();
    EXPECT_EQ(frame.at(0, 0), top);
    EXPECT_EQ(frame.at(1279, 719), bottom);
}

// Freed before its first capture, a capture sprite gives back its slot,
// buffer, texture, sampler and entries, also when a full draw list left it
// without a capture entry.
TEST_F(SpriteCaptureTest, FreedBeforeItsFirstCapture) {
    const uint64_t heap = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    const int32_t objects = SpriteLiveObjects, entries = DrawList.count;
    int32_t slot = Lib_SpriteCreateCapture(0, 10, 0);
    ASSERT_GE(slot, 0);
    Lib_SpriteFree(slot);
    EXPECT_EQ(SpriteTable[slot].flags, 0);
    EXPECT_EQ(SpriteLiveObjects, objects);
    EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, heap);
    EXPECT_EQ(DrawList.count, entries);

    std::vector<int32_t> filler;
    for (int32_t e; (e = Lib_DrawSet([](uint64_t) {}, 0, 5, 0, -1)) >= 0;) filler.push_back(e);
    slot = Lib_SpriteCreateCapture(0, 10, 0);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(SpriteTable[slot].captureEntry, -1);
    Lib_SpriteFree(slot);
    EXPECT_EQ(SpriteTable[slot].flags, 0);
    EXPECT_EQ(SpriteLiveObjects, objects);
    EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, heap);
    for (int32_t e : filler) Lib_DrawDel(uint32_t(e), 0);
}

TEST_F(SpriteCaptureTest, NoMemoryForTheBuffer) {
    std::vector<void*> hog;
    while (void* p = Lib_MemAlloc(HEAP_GRAPHICS, kMiB, 8)) hog.push_back(p);
    const int32_t count = DrawList.count;
    EXPECT_EQ(Lib_SpriteCreateCapture(0, 10, 0), -1);
    EXPECT_EQ(SpriteTable[0].flags, 0);
    EXPECT_EQ(DrawList.count, count);
    void* image = &hog;
    Lib_ScreenCapture(renderer()->frameTexture, 0, &image, HEAP_GRAPHICS);
    EXPECT_EQ(image, nullptr);
    Lib_ScreenCapture(renderer()->frameTexture, 0, &image, HEAP_CACHE);  // the heap asked for has room
    EXPECT_NE(image, nullptr);
    Lib_MemFree(HEAP_CACHE, image);
    for (void* p : hog) Lib_MemFree(HEAP_GRAPHICS, p);
}

// A block read gives the same pixels as the whole-frame read at that place;
// a block outside the frame (also one whose far edge would pass the largest
// integer) or a short buffer reads nothing.
TEST_F(SpriteCaptureTest, RegionMatchesTheWholeFrameAndRefusesBadBlocks) {
    const int32_t pic = ShowQuads();
    ASSERT_GE(pic, 0);
    int32_t cap = Lib_SpriteCreateCapture(0, 50, 0);
    Lib_DrawWalk();
    const uint32_t texture = SpriteTable[cap].texture;

    void* whole = nullptr;
    Lib_ScreenCapture(texture, 0, &whole, HEAP_GRAPHICS);
    ASSERT_NE(whole, nullptr);
    const Bgra* all = static_cast<const Bgra*>(whole);
    const int32_t x = 600, y = 330, w = 80, h = 60;
    std::vector<Bgra> block(size_t(w * h));
    ASSERT_TRUE(Lib_ScreenCaptureRegion(texture, x, y, w, h, block.data(), uint32_t(block.size() * 4)));
    int differing = 0;
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) differing += !(block[size_t(r * w + c)] == all[(y + r) * 1280 + x + c]);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(block[0], (Bgra{0, 0, 255, 255}));                      // red quarter, top left
    EXPECT_EQ(block[size_t(w * h - 1)], (Bgra{128, 0, 0, 255}));      // half-blue quarter, alpha made opaque
    Lib_MemFree(HEAP_GRAPHICS, whole);

    const Bgra mark{1, 2, 3, 4};
    std::vector<Bgra> out(16, mark);
    const uint32_t size = uint32_t(out.size() * 4);
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, 1278, 0, 4, 4, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, 0, 718, 4, 4, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, 0x7FFFFFF0, 0, 0x20, 1, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, 0, 0x7FFFFFF0, 1, 0x20, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, 0, 0, 5, 4, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(texture, -1, 0, 4, 4, out.data(), size));
    EXPECT_FALSE(Lib_ScreenCaptureRegion(0xFFFFu, 0, 0, 4, 4, out.data(), size));  // no such texture
    for (const Bgra& p : out) EXPECT_EQ(p, mark);
    EXPECT_TRUE(Lib_ScreenCaptureRegion(texture, 1276, 716, 4, 4, out.data(), size));
}

// A read started now holds the texture as it is now, mapped a walk later
// with its rows as wide as asked; reads into memory in between keep their
// tight rows. A block outside the frame, rows narrower than the block or a
// texture that is not one start nothing.
TEST_F(SpriteCaptureTest, StartedReadIsMappedLater) {
    const int32_t pic = ShowQuads();
    ASSERT_GE(pic, 0);
    int32_t cap = Lib_SpriteCreateCapture(0, 50, 1);  // every walk
    Lib_DrawWalk();
    const uint32_t texture = SpriteTable[cap].texture;
    const std::vector<uint8_t> then = ReadTexture(texture, 1280, 720);

    const int32_t x = 600, y = 330, w = 80, h = 60, row = 100;
    const uint32_t read = Lib_ScreenReadStart(texture, x, y, w, h, row);
    ASSERT_NE(read, 0u);
    std::vector<Bgra> block(size_t(w * h));
    ASSERT_TRUE(Lib_ScreenCaptureRegion(texture, x, y, w, h, block.data(), uint32_t(block.size() * 4)));
    EXPECT_EQ(block[size_t(w * h - 1)], (Bgra{128, 0, 0, 255}));  // tight rows, alpha made opaque
    SpriteTable[pic].visible = 0;
    Lib_DrawWalk();
    ASSERT_NE(ReadTexture(texture, 1280, 720), then);

    const auto* mapped = static_cast<const uint8_t*>(Lib_ScreenReadMap(read));
    ASSERT_NE(mapped, nullptr);
    int differing = 0;
    for (int32_t r = 0; r < h; ++r)
        differing += std::memcmp(mapped + size_t(r * row) * 4, &then[(size_t(y + r) * 1280 + size_t(x)) * 4],
                                 size_t(w) * 4) != 0;
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(Lib_ScreenReadMap(read), mapped);
    Lib_ScreenReadEnd(read);
    EXPECT_EQ(Lib_ScreenReadMap(read), nullptr);

    EXPECT_EQ(Lib_ScreenReadStart(texture, 1278, 0, 4, 4, 4), 0u);
    EXPECT_EQ(Lib_ScreenReadStart(texture, 0, -1, 4, 4, 4), 0u);
    EXPECT_EQ(Lib_ScreenReadStart(texture, 0, 0, 8, 4, 4), 0u);
    EXPECT_EQ(Lib_ScreenReadStart(0xFFFFu, 0, 0, 4, 4, 4), 0u);
}

}  // namespace
