// Text drawn for real: the headless GL fixture with small heaps, the text
// renderer started, and two font files installed as the main and the
// alternative face (the add-glyph picture left blank).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/text/font.h"
#include "engine/text/text_layout.h"
#include "tests/engine/render/gl_fixture.h"

class TextGlEnv : public GlTest {
protected:
    // Starts the text renderer with the two fonts; false (the test is then
    // skipped) when they are not installed.
    bool StartText(const char* mainFont, const char* altFont) {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 8 * mib, 2 * mib, 2 * mib, 96 * mib};
        if (!Lib_MemInit(sizes)) return false;
        Lib_TextOpsSet(nullptr);
        Lib_GlyphTextureOpsSet(nullptr);
        if (!Lib_FontInit()) return false;
        if (!Install(0, Read(mainFont)) || !Install(1, std::string(kAddGlyphHeader + kAddGlyphCellBytes, '\0')) ||
            !Install(2, Read(altFont)))
            return false;
        Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
        return true;
    }
    void TearDown() override {
        if (TextRenderState.ready) {
            Lib_TextDrawRelease();
            Lib_FontEnd();
        }
        Lib_MemRelease();
        GlTest::TearDown();
    }
    Image Draw(TextRecord* r) {
        ClearFrame(0, 0, 0, 1);
        Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
        return ReadFrame();
    }

private:
    static std::string Read(const char* path) {
        std::ifstream in(path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    }
    static bool Install(int index, const std::string& bytes) {
        if (bytes.empty()) return false;
        void* p = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size(), 0x4000);
        if (!p) return false;
        std::memcpy(p, bytes.data(), bytes.size());
        TextRenderState.images[index] = p;
        TextRenderState.sizes[index] = uint32_t(bytes.size());
        return true;
    }
};
