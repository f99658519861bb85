// Test environment for the fonts and the glyph cache without GL: heaps large
// enough for the 50 MiB atlas, the font state and cache emptied, texture
// making counted instead of done, and the system's font files.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"

namespace font_env {

inline constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline constexpr const char* kDejaVuSansOblique = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf";
inline constexpr const char* kDejaVuSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
inline constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

inline std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

// Textures made and released through GlyphTextureOps.
struct TextureLog {
    uint32_t next = 1;
    std::vector<uint32_t> made, released;
};
inline TextureLog g_textures;

inline uint32_t FakeCreate(uint32_t, uint32_t, uint32_t, const void*) {
    g_textures.made.push_back(g_textures.next);
    return g_textures.next++;
}
inline void FakeRelease(uint32_t texture) { g_textures.released.push_back(texture); }
inline constexpr GlyphTextureOps kFakeTextures = {FakeCreate, FakeRelease};

}  // namespace font_env

class FontEnv : public ::testing::Test {
protected:
    void SetUp() override {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 2 * mib, 96 * mib};
        ASSERT_TRUE(Lib_MemInit(sizes));
        font_env::g_textures = {};
        Lib_GlyphTextureOpsSet(&font_env::kFakeTextures);
        Lib_GlyphRasterSet(nullptr);
        // The GL-free part of Lib_FontInit.
        Lib_FontStateClear();
        for (void*& image : TextRenderState.images) image = nullptr;
        for (uint32_t& size : TextRenderState.sizes) size = 0;
        TextRenderState.atlas = nullptr;
        std::memset(GlyphCache, 0, sizeof GlyphCache);
        ASSERT_TRUE(Lib_GlyphAtlasReset());
        TextLanguage = 0;
    }
    void TearDown() override {
        Lib_FontEnd();
        Lib_GlyphRasterSet(nullptr);
        Lib_GlyphTextureOpsSet(nullptr);
        Lib_TextRunStateReset();
        Lib_MemRelease();
    }
    // A font image in heap 4, as the loader leaves it; null when the file is
    // missing (the test then skips).
    static void* LoadImage(int index, const char* path) {
        std::string bytes = font_env::ReadFile(path);
        if (bytes.empty()) return nullptr;
        void* p = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size(), 0x4000);
        std::memcpy(p, bytes.data(), bytes.size());
        TextRenderState.images[index] = p;
        TextRenderState.sizes[index] = uint32_t(bytes.size());
        return p;
    }
};
