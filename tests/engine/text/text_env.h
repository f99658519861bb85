// Text objects, tags and layout against fakes: small heaps, an empty draw list
// and text table, glyphs with fixed metrics, a recording draw back end and a
// manual microsecond clock. Fake glyphs: below 0x80 a 20 × 30 box in a
// 30 × 40 bitmap, advance 32; otherwise 40 × 50 in 50 × 60, advance 64;
// origin (2, 50); the texture is the code point (1000 + n for add-glyph n).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/frame.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/render/draw_list.h"
#include "engine/text/text_layout.h"

struct RecordedPass {
    uint32_t program, texture, vertexBuffer;
    ConstBuf cb;
};

namespace text_env {
inline std::vector<RecordedPass> passes;
inline std::vector<ScissorRect> scissors;
inline std::vector<uint32_t> released;
inline std::string events;  // f flush, s scissor, p pass
inline uint64_t now;
inline uint32_t program, texture, nextBuffer;
inline bool italicFace;  // style-1 requests get a style-1 glyph

inline GlyphInfo Glyph(uint32_t code, int32_t add, uint32_t style) {
    static const uint8_t pixels[1] = {};
    if (add >= 0) return GlyphInfo{8, -64, 64, 64, 72, 64, 64, 16384, 0, pixels, 87, 1, 1, 1000u + uint32_t(add)};
    int32_t box = code < 0x80 ? 20 : 40;
    int32_t st = style == 1 && !italicFace ? 0 : int32_t(style);
    return GlyphInfo{2, -50, box, box + 10, code < 0x80 ? 32 : 64, uint16_t(box + 10),
                     uint16_t(box + 20), 0, st, pixels, 61, float(box) / float(box + 10),
                     float(box + 10) / float(box + 20), code};
}
inline GlyphInfo Info(uint32_t code, int32_t add, uint32_t style) {
    GlyphInfo g = Glyph(code, add, style);
    g.pixels = nullptr;
    return g;
}
inline void Install() {
    static const TextOps ops = {
        Info,
        Glyph,
        [](uint32_t p, uint32_t t) { program = p, texture = t; },
        [](const ConstBuf& cb, uint32_t vb) { passes.push_back({program, texture, vb, cb}), events += 'p'; },
        [] { events += 'f'; },
        [](const ScissorRect& r) { scissors.push_back(r), events += 's'; },
        [](const TextVertex*) { return nextBuffer++; },
        [](uint32_t b) { released.push_back(b); },
        [] { return now; },
    };
    Lib_TextOpsSet(&ops);
}
}  // namespace text_env

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 2 * mib, 2 * mib, 2 * mib, 4 * mib};
        ASSERT_TRUE(Lib_MemInit(sizes));
        Lib_DrawClear();
        Lib_TextTableClear();
        Lib_CameraReset(&ActiveCamera);
        text_env::passes.clear();
        text_env::scissors.clear();
        text_env::released.clear();
        text_env::events.clear();
        text_env::now = 5000000;
        text_env::nextBuffer = 1;
        text_env::italicFace = true;
        Lib_FrameRateSet(FrameRate);
        text_env::Install();
        for (int i = 0; i < 16; ++i) camera_.lens[i] = camera_.view[i] = i % 5 == 0 ? 1.0f : 0.0f;
    }
    void TearDown() override {
        for (int32_t i = 0; i < kTextSlots; ++i) {
            if (TextTable[i]) TextTable[i]->state = 0;
            Lib_TextDel(i);
        }
        Lib_TextOpsSet(nullptr);
        Lib_FrameRateSet(FrameRate);
        Lib_MemRelease();
    }

    // A registered text in slot 0 drawn with an identity camera, so that a
    // pass's m_wvp row 3 holds the quad's centre in world units.
    TextRecord* Make(const char* text, int32_t x = 0, int32_t y = 0) {
        TextPos pos{x, y, 0};
        EXPECT_EQ(Lib_TextSet(0, text, &pos), 0);
        TextRecord* r = TextTable[0];
        if (r) r->camera = &camera_;
        return r;
    }

    // One frame of the record's draw callback; the passes it made.
    std::vector<RecordedPass> Frame(TextRecord* r, uint64_t us = 16667) {
        size_t before = text_env::passes.size();
        Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
        text_env::now += us;
        return {text_env::passes.begin() + long(before), text_env::passes.end()};
    }

    // The pen (pixels from the record's position) a scale-1 pass was drawn
    // at, with the fake's bearing and vertical offset taken back out.
    static std::pair<int, int> Pen(const RecordedPass& p, const TextRecord* r) {
        const float k = kWorldPerPixel;
        const int w = int(std::lround(p.cb.m_work[0][0])), h = int(std::lround(p.cb.m_work[0][1]));
        const bool picture = p.program == TEXT_PROGRAM_PICTURE;
        const double bearing = picture ? 8 : -3, v = picture ? 0 : 5 - 14 + 10;
        double x = p.cb.m_wvp[12] / k + (1280 - w) / 2 - r->x - r->letterSpacing - bearing;
        double y = p.cb.m_wvp[13] / k - (720 - h) / 2 - r->y - v;
        return {int(std::lround(x)), int(std::lround(y))};
    }

    CameraRecord camera_{};
};
