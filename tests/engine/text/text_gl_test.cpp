// A text object drawn for real: DejaVu glyphs through FreeType and the glyph
// cache, the text programs and the batched GL passes, read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/text/glyph_cache.h"
#include "platform/plat_gl_api.h"
#include "tests/engine/text/text_gl_env.h"

namespace {

struct Ink {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1, count = 0;
};
// Bounding box and count of the pixels that are (mostly) white, or red.
Ink Find(const Image& img, bool red) {
    Ink b;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            Bgra p = img.at(x, y);
            if (p.r > 128 && (red ? p.g < 64 && p.b < 64 : p.g > 128 && p.b > 128)) {
                b.left = std::min(b.left, int(x)), b.right = std::max(b.right, int(x));
                b.top = std::min(b.top, int(y)), b.bottom = std::max(b.bottom, int(y));
                ++b.count;
            }
        }
    return b;
}

class TextGl : public TextGlEnv {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        if (!StartText("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                       "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"))
            GTEST_SKIP() << "DejaVu fonts not installed";
    }
};

TEST_F(TextGl, ShadowClipAndCornerColours) {
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "HH", &pos), 0);
    TextRecord* r = TextTable[0];
    Ink ink = Find(Draw(r), false);  // two capitals in their cells below y 100
    ASSERT_GT(ink.count, 0);
    EXPECT_GE(ink.left, 100);
    EXPECT_GT(ink.right, 100 + 64);
    EXPECT_LE(ink.right, 100 + 128);
    EXPECT_GE(ink.top, 100);
    EXPECT_LE(ink.bottom, 100 + 64);

    r->renderFlags = TEXT_SHADOW;  // red, 5 pixels right and down, beneath
    r->outline = 0x000000FF;
    Image shadowed = Draw(r);
    Ink shadow = Find(shadowed, true);
    EXPECT_EQ(shadow.right, ink.right + 5);
    EXPECT_EQ(shadow.bottom, ink.bottom + 5);
    EXPECT_EQ(Find(shadowed, false).count, ink.count);

    r->renderFlags = 0;
    r->clipWidth = 140;
    Ink clipped = Find(Draw(r), false);
    EXPECT_GT(clipped.count, 0);
    EXPECT_LT(clipped.right, 140);
    GLint box[4];
    glGetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(box[2], 1280);  // restored

    // Black text on the object's own white-cornered quad is lightened to white.
    r->clipWidth = 1280;
    r->colour = 0xFF000000;
    EXPECT_EQ(Find(Draw(r), false).count, 0);
    const uint32_t white[4] = {~0u, ~0u, ~0u, ~0u};
    Lib_TextCornerColorSet(0, white);
    EXPECT_EQ(Find(Draw(r), false).count, ink.count);
}

// The cache fills up in the middle of a pass: the key of "C" takes the entry
// whose texture "A", queued earlier in the same pass, still draws with. The
// frame is the one drawn with room in the cache.
TEST_F(TextGl, ACacheOverflowMidPassKeepsTheQueuedGlyphs) {
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "ABC", &pos), 0);
    TextRecord* r = TextTable[0];
    const Image want = Draw(r);
    ASSERT_EQ(GlyphCache[kGlyphCacheFirstKey].codePoint, uint32_t('A'));
    ASSERT_NE(GlyphCache[kGlyphCacheFirstKey].texture, 0u);
    // Every key but A's and the last taken by glyphs this text never uses.
    for (int32_t i = kGlyphCacheFirstKey + 1; i < kGlyphCacheEntries - 1; ++i) {
        GlyphCache[i].codePoint = 0x10000u + uint32_t(i);
        GlyphCache[i].style = 0;
    }
    const Image got = Draw(r);
    EXPECT_EQ(GlyphCache[kGlyphCacheFirstKey].codePoint, uint32_t('C'));  // the cache did overflow
    size_t differ = 0;
    for (size_t i = 0; i < want.pixels.size(); ++i) differ += want.pixels[i] != got.pixels[i];
    EXPECT_EQ(differ, 0u);
}

}  // namespace
