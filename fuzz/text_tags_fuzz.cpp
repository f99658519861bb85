// Tag scanning, measuring and layout of a text object on arbitrary bytes. The
// first 8 bytes pick the render flags, reveal speed, ruby space, fade-in,
// scale, spacings and whether the text is stored through Lib_TextObjCreate
// or written over the whole buffer by hand; the rest is the text. Glyph
// metrics come from a fake that varies them by code point; nothing is drawn.
// Every scan must stay inside the record, every pass must end, and the ruby
// children must be freed again.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/charcode.h"
#include "engine/text/text_layout.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

uint64_t g_now = 0;
int g_passes = 0;

GlyphInfo FakeGlyph(uint32_t code, int32_t add, uint32_t style) {
    static const uint8_t pixels[1] = {0};
    Check(add >= -1 && add <= 15);
    GlyphInfo g{};
    g.originX = int32_t(code % 7) - 3;
    g.originY = -int32_t(code % 60);
    g.boxWidth = int32_t(code % 50);
    g.boxHeight = int32_t(code % 61);
    g.advance = add >= 0 ? 72 : int32_t(code % 90);
    g.bitmapWidth = uint16_t(g.boxWidth + 10);
    g.bitmapHeight = uint16_t(g.boxHeight + 10);
    g.style = int32_t(style);
    g.pixels = pixels;
    g.uExtent = g.vExtent = 1.0f;
    g.view = code;
    return g;
}
void Begin(uint32_t, uint32_t) {}
void Pass(const ConstBuf&, uint32_t) { ++g_passes; }
void Flush() {}
void Scissor(const ScissorRect&) {}
uint32_t Create(const TextVertex*) { return 1; }
void Release(uint32_t) {}
uint64_t Now() { return g_now += 16667; }

bool Setup() {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {24 * mib, 2 * mib, 2 * mib, 2 * mib, 2 * mib};
    if (!Lib_MemInit(sizes)) std::abort();
    static const TextOps ops = {FakeGlyph, FakeGlyph, Begin, Pass, Flush, Scissor, Create, Release, Now};
    Lib_TextOpsSet(&ops);
    return true;
}

uint64_t InUse() {
    uint64_t n = 0;
    for (MemHeap& h : HeapTable.heaps) n += h.usedCount;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = Setup();
    (void)ready;
    if (size < 8) return 0;
    const uint64_t before = InUse();
    std::vector<char> text(data + 8, data + size);
    text.push_back(0);

    TextRecord* r = nullptr;
    const TextPos pos{int8_t(data[5]) * 10, int8_t(data[6]) * 10, 0};
    Lib_TextObjCreate(&r, text.data(), &pos);
    Check(r != nullptr);
    Check(std::strlen(r->text) < size_t(kTextBufferSize));
    if (data[7] & 0x80) std::memcpy(r->text, text.data(), std::min(text.size(), sizeof r->text));
    r->renderFlags = data[0];
    r->speed = int8_t(data[1]) % 5;
    r->rubySpace = data[2] & 1;
    r->fadeIn = data[2] & 2;
    r->fadeLength = (data[2] >> 2) % 4;
    r->fixedAdvance = data[2] & 0x40;
    r->fontStyle = data[3] % 3;
    r->scaleX = r->scaleY = 0.25f * float(1 + data[4] % 8);
    r->letterSpacing = int8_t(data[4]);
    r->lineSpacing = int8_t(data[7]);
    r->state = TEXT_STATE_DRAWN;

    TextRect rect;
    Lib_TextMeasureObj(&rect, r);
    (void)Lib_TextLineStart(r, r->text);
    for (int frame = 0; frame < 4; ++frame) {
        g_passes = 0;
        Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
        // At most nine passes for every character of the parent and its children.
        Check(g_passes <= 9 * kTextBufferSize * (1 + kTextRubyMax));
        Check(r->revealed >= 0);
    }
    for (const TextRecord* child : r->ruby)
        if (child) Check(std::strlen(child->text) < size_t(kTextBufferSize));

    // The tag step alone, with the cursor never leaving the text.
    TextCursor c = Lib_TextCursorStart(r, 0, 0);
    while (c.offset < kTextBufferSize && r->text[c.offset]) {
        int32_t at = c.offset;
        if (!Lib_TagParse(&c)) c.offset += int32_t(Lib_CharLen(r->text + c.offset));
        Check(c.offset > at && c.offset < kTextBufferSize);
    }

    Lib_TextRubyFree(r);
    Lib_MemFree(HEAP_GENERAL, r);
    Check(InUse() == before);
    return 0;
}
