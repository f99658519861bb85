#include "engine/core/cache.h"
#include "engine/text/glyph_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/engine/text/font_env.h"

namespace {

using font_env::g_textures;

// Every code point has a 6×9 glyph of level 200 with advance (cp mod 50) + 1.
int g_rasterised = 0;
uint8_t g_pixels[6 * 9];

bool CountingRaster(int32_t style, uint32_t codePoint, bool bitmap, RasterGlyph* out) {
    if (style != 0 && style != 1 && style != 2) return false;
    if (bitmap) ++g_rasterised;
    *out = RasterGlyph{6, 9, 1, 30, int32_t(codePoint % 50) + 1, 6, bitmap ? g_pixels : nullptr};
    return true;
}

class GlyphCacheTest : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        if (HasFailure()) return;
        std::memset(g_pixels, 200, sizeof g_pixels);
        g_rasterised = 0;
        Lib_GlyphRasterSet(CountingRaster);
        // Images [0], [1] and [2] make the renderer ready; [1] holds 4 picture cells.
        for (int i : {0, 2}) {
            TextRenderState.images[i] = Lib_MemAlloc(HEAP_GRAPHICS, 64, 16);
            TextRenderState.sizes[i] = 64;
        }
        picture_.assign(kAddGlyphHeader + 4 * kAddGlyphCellBytes, 0);
        void* p = Lib_MemAlloc(HEAP_GRAPHICS, picture_.size(), 16);
        TextRenderState.images[1] = p;
        TextRenderState.sizes[1] = uint32_t(picture_.size());
        std::strcpy(FontDefaultFace, "Game Face");
        Lib_FontCreate(nullptr, 0);
    }
    static uint32_t RecordOffset(int32_t index) {
        return reinterpret_cast<const uint32_t*>(TextRenderState.atlas)[1 + index];
    }
    std::vector<uint8_t> picture_;
};

TEST_F(GlyphCacheTest, MakeRasterisesOnceAndKeepsTheRecord) {
    GlyphInfo g = Lib_GlyphMake('A', -1, 0);
    EXPECT_EQ(g_rasterised, 1);
    EXPECT_EQ(g.format, kGlyphFormatR8);
    EXPECT_EQ(g.bitmapWidth, 18);  // 6 raised to 8, plus the border
    EXPECT_EQ(g.bitmapHeight, 19);
    EXPECT_EQ(g.bitmapBytes, 18 * 19);
    EXPECT_EQ(g.originY, -35);
    EXPECT_EQ(g.advance, 'A' % 50 + 1);
    EXPECT_FLOAT_EQ(g.uExtent, 1.0f);
    EXPECT_EQ(g.pixels, TextRenderState.atlas + kGlyphAtlasFirstRecord + 256);
    EXPECT_EQ(g.pixels[5 * 18 + 5], 199);  // 200 through the 65 levels
    EXPECT_EQ(g.view, GlyphCache[kGlyphCacheFirstKey].view);
    EXPECT_EQ(g_textures.made.size(), 1u);
    // Again: from the atlas, no rasterising, no texture.
    GlyphInfo again = Lib_GlyphMake('A', -1, 0);
    EXPECT_EQ(g_rasterised, 1);
    EXPECT_EQ(again.pixels, g.pixels);
    EXPECT_EQ(again.view, g.view);
    EXPECT_EQ(Lib_GlyphInfoGet('A', -1, 0).advance, g.advance);
    // Records are 256-aligned: head plus the bitmap rounded up.
    Lib_GlyphMake('B', -1, 0);
    EXPECT_EQ(RecordOffset(kGlyphCacheFirstKey + 1), kGlyphAtlasFirstRecord + 256 + 512);
    // Metrics alone never make a texture or a record.
    GlyphInfo info = Lib_GlyphInfoGet('C', -1, 1);
    EXPECT_EQ(info.pixels, nullptr);
    EXPECT_EQ(info.advance, 'C' % 50 + 1);
    EXPECT_EQ(RecordOffset(kGlyphCacheFirstKey + 2), 0u);
    EXPECT_EQ(g_textures.made.size(), 2u);
}

TEST_F(GlyphCacheTest, StyleTwoIsTheMainFaceWithoutAnotherUserFace) {
    EXPECT_EQ(Lib_GlyphSlotGet('A', 0), kGlyphCacheFirstKey);
    Lib_GlyphMake('A', -1, 2);
    EXPECT_EQ(g_rasterised, 1);  // the style-0 entry
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey + 1].codePoint, 0u);
    std::strcpy(FontUserFace, "Player Face");
    Lib_FontCreate(nullptr, 0);
    GlyphInfo g = Lib_GlyphMake('A', -1, 2);
    EXPECT_EQ(g_rasterised, 2);
    EXPECT_EQ(g.style, 2);
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey + 1].style, 2);
}

TEST_F(GlyphCacheTest, AFullCacheEmptiesItselfAndTheAtlas) {
    const int32_t keys = kGlyphCacheEntries - kGlyphCacheFirstKey;  // 5100
    for (int32_t i = 0; i < keys; ++i) ASSERT_EQ(Lib_GlyphSlotGet(uint32_t(1000 + i), 0), kGlyphCacheFirstKey + i);
    Lib_GlyphMake(1000, -1, 0);
    uint32_t oldView = GlyphCache[kGlyphCacheFirstKey].view;
    EXPECT_EQ(Lib_GlyphSlotGet(1000 + keys - 1, 0), kGlyphCacheEntries - 1);  // still found
    EXPECT_EQ(Lib_GlyphSlotGet(99999, 0), kGlyphCacheFirstKey);  // the 5101st key
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey].codePoint, 99999u);
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey + 1].codePoint, 0u);
    EXPECT_EQ(RecordOffset(kGlyphCacheFirstKey), 0u);
    // An earlier key is rasterised again into a new entry; the old texture
    // goes when its entry is rebuilt.
    g_rasterised = 0;
    Lib_GlyphMake(1000, -1, 0);
    EXPECT_EQ(g_rasterised, 1);
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey + 1].codePoint, 1000u);
    Lib_GlyphMake(99999, -1, 0);
    ASSERT_FALSE(g_textures.released.empty());
    EXPECT_EQ(g_textures.released.back(), oldView);
}

TEST_F(GlyphCacheTest, AtlasResetKeepsKeysAndRebuildsInTheSameEntry) {
    GlyphInfo first = Lib_GlyphMake('Q', -1, 0);
    int32_t index = Lib_GlyphSlotGet('Q', 0);
    ASSERT_TRUE(Lib_GlyphAtlasReset());
    EXPECT_EQ(GlyphCache[index].codePoint, uint32_t('Q'));
    GlyphInfo second = Lib_GlyphMake('Q', -1, 0);
    EXPECT_EQ(g_rasterised, 2);
    EXPECT_EQ(Lib_GlyphSlotGet('Q', 0), index);
    EXPECT_NE(second.view, first.view);
    EXPECT_EQ(g_textures.released, std::vector<uint32_t>{first.view});
    // A record that would pass the atlas's end resets it first.
    reinterpret_cast<uint32_t*>(TextRenderState.atlas)[0] = uint32_t(kGlyphAtlasSize - 300);
    Lib_GlyphMake('R', -1, 0);
    EXPECT_EQ(RecordOffset(Lib_GlyphSlotGet('R', 0)), kGlyphAtlasFirstRecord);
    EXPECT_EQ(RecordOffset(index), 0u);
}

TEST_F(GlyphCacheTest, AddGlyphsAreCellsOfThePictureWithinItsSize) {
    GlyphInfo g = Lib_GlyphMake(0, 3, 0);
    const uint8_t* picture = static_cast<const uint8_t*>(TextRenderState.images[1]);
    EXPECT_EQ(g.pixels, picture + 256 + 3 * 16384);
    EXPECT_EQ(g.advance, 72);
    EXPECT_EQ(g.format, kGlyphFormatBgra);
    EXPECT_EQ(g.originX, 8);
    EXPECT_EQ(g.originY, -64);
    EXPECT_EQ(g.bitmapBytes, 16384);
    EXPECT_NE(g.view, 0u);
    EXPECT_EQ(GlyphCache[3].view, g.view);
    EXPECT_EQ(Lib_GlyphMake(0, 3, 0).view, g.view);  // made once
    EXPECT_EQ(g_textures.made.size(), 1u);
    EXPECT_EQ(Lib_GlyphInfoGet(0, 3, 0).advance, 72);
    // Cell 4 would end past the picture: nothing.
    EXPECT_EQ(Lib_GlyphMake(0, 4, 0).pixels, nullptr);
    EXPECT_EQ(Lib_GlyphInfoGet(0, 4, 0).advance, 0);
    EXPECT_EQ(Lib_GlyphMake(0, 25, 0).pixels, nullptr);
    TextRenderState.sizes[1] = 256 + 3 * 16384 + 16383;
    EXPECT_EQ(Lib_GlyphMake(0, 3, 0).pixels, nullptr);
}

TEST_F(GlyphCacheTest, NothingIsMadeUntilTheThreeFontImagesAreLoaded) {
    void* alternative = TextRenderState.images[2];
    TextRenderState.images[2] = nullptr;
    EXPECT_EQ(Lib_GlyphMake('A', -1, 0).pixels, nullptr);
    EXPECT_EQ(Lib_GlyphInfoGet('A', -1, 0).advance, 0);
    EXPECT_EQ(Lib_GlyphMake(0, 0, 0).pixels, nullptr);
    EXPECT_EQ(g_rasterised, 0);
    TextRenderState.images[2] = alternative;
    EXPECT_NE(Lib_GlyphMake('A', -1, 0).pixels, nullptr);
}

// The start's one line is the program's to write (the program's start-up
// test reads it): the font's start-up says nothing of its own.
TEST(GlyphAtlas, AFailedAllocationStopsStartUpQuietly) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 8 * mib, 2 * mib, 2 * mib, 8 * mib};
    ASSERT_TRUE(Lib_MemInit(sizes));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Lib_FontInit());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "");
    EXPECT_EQ(TextRenderState.atlas, nullptr);
    EXPECT_EQ(TextRenderState.ready, 0);
    Lib_FontEnd();
    Lib_MemRelease();
}

}  // namespace
