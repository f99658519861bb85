#include <gtest/gtest.h>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "tests/engine/render/gl_fixture.h"

namespace {

class InterfaceLanguageTest : public GlTest {};

// The text renderer takes the locale's language as the interface language,
// whatever text language the option screen has set.
TEST_F(InterfaceLanguageTest, TakenFromTheLocaleWhenTheTextRendererStarts) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 8 * mib, 2 * mib, 2 * mib, 96 * mib};
    Lib_CashReset();  // the named cache forgets entries of the old heaps
    ASSERT_TRUE(Lib_MemInit(sizes));
    const int32_t saved = TextLanguage.load();
    const int32_t other = Lib_LanguageGet() == 2 ? 3 : 2;
    TextLanguage = other;
    InterfaceLanguage = -1;
    ASSERT_TRUE(Lib_FontInit());
    EXPECT_EQ(InterfaceLanguage, Lib_LanguageGet());
    EXPECT_EQ(TextLanguage.load(), other);
    Lib_FontEnd();
    Lib_MemRelease();
    TextLanguage = saved;
}

}  // namespace
