#include "engine/text/text_object.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/core/heap.h"
#include "engine/render/draw_list.h"
#include "engine/core/charcode.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_measure_run.h"
#include "engine/text/text_tags.h"

// process-wide: emptied by Lib_TextTableClear
TextRecord* TextTable[kTextSlots];

namespace {

constexpr int32_t kTextMaxBytes = kTextBufferSize - 1;

TextRecord* Slot(int32_t slot) {
    if (slot < 0 || slot >= kTextSlots) return nullptr;
    return TextTable[slot];
}

int32_t AddWrap(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t SubWrap(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }

// Copies at most 1535 bytes of src into the text buffer, cut after the last
// whole character, and terminates it.
void CopyText(char* dst, const char* src) {
    int32_t keep = 0;
    if (src) {
        for (uint32_t n; src[keep] && keep + int32_t(n = Lib_CharLen(src + keep)) <= kTextMaxBytes;)
            keep += int32_t(n);
        std::memcpy(dst, src, size_t(keep));
    }
    std::memset(dst + keep, 0, size_t(kTextBufferSize - keep));
}

void ColourFloats(uint32_t c, float out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = float((c >> (8 * i)) & 0xFF) / 255.0f;
}

}  // namespace

void Lib_TextTableClear() {
    for (TextRecord*& r : TextTable) r = nullptr;
}

void Lib_TextObjCreate(TextRecord** record, const char* text, const TextPos* pos) {
    if (!record) return;
    if (!*record) *record = static_cast<TextRecord*>(Lib_MemAlloc(HEAP_GENERAL, sizeof(TextRecord), 4));
    TextRecord* r = *record;
    if (!r) return;
    std::memset(static_cast<void*>(r), 0, sizeof *r);
    r->drawEntry = -1;
    r->startTime = uint32_t(Lib_TextOps().nowUs());
    if (pos) {
        r->x = pos->x;
        r->y = pos->y;
        r->z = pos->z;
    }
    r->scaleX = r->scaleY = 1.0f;
    r->clipWidth = int32_t(kFrameWidth);
    r->clipHeight = int32_t(kFrameHeight);
    r->colour = 0xFFFFFFFFu;
    r->drawMode = 1;
    r->fadeLength = 1;
    CopyText(r->text, text);
    r->fontStyle = 2;
}

int32_t Lib_TextSet(int32_t hint, const char* text, const TextPos* pos) {
    int32_t slot = uint32_t(hint) < uint32_t(kTextSlots) ? hint : 0;
    while (slot < kTextSlots && TextTable[slot]) ++slot;
    if (slot >= kTextSlots) return -1;
    Lib_TextObjCreate(&TextTable[slot], text, pos);
    TextRecord* r = TextTable[slot];
    if (!r) return -1;
    r->state = TEXT_STATE_DRAWN;
    // A full draw list leaves -1: the object exists but is never drawn.
    r->drawEntry = Lib_DrawSet(Lib_TextDrawCB, reinterpret_cast<uint64_t>(r), std::max(r->layer, 0), 0, -1);
    return slot;
}

void Lib_TextDel(int32_t slot) {
    TextRecord* r = Slot(slot);
    if (!r || (r->state & TEXT_STATE_PROTECTED)) return;
    Lib_TextRubyFree(r);
    if (r->cornerBuffer) Lib_TextOps().bufferRelease(r->cornerBuffer);
    if (r->cornerData) Lib_MemFree(HEAP_GRAPHICS, r->cornerData);
    if (r->drawEntry >= 0) Lib_DrawDel(uint32_t(r->drawEntry), 0);
    Lib_MemFree(HEAP_GENERAL, r);
    TextTable[slot] = nullptr;
}

void Lib_TextPosSet(int32_t slot, const TextPos* pos) {
    TextRecord* r = Slot(slot);
    if (!r || !pos) return;
    TextPos delta{SubWrap(pos->x, r->x), SubWrap(pos->y, r->y), SubWrap(pos->z, r->z)};
    r->x = pos->x;
    r->y = pos->y;
    r->z = pos->z;
    Lib_TextRubyMove(r, &delta);
}

void Lib_TextScaleSet(int32_t slot, const TextScale* scale) {
    TextRecord* r = Slot(slot);
    if (!r || !scale) return;
    r->scaleX = scale->x;
    r->scaleY = scale->y;
    Lib_TextRubyMove(r, nullptr);
}

TextScale Lib_TextScaleGet(int32_t slot) {
    const TextRecord* r = Slot(slot);
    return r ? TextScale{r->scaleX, r->scaleY} : TextScale{1.0f, 1.0f};
}

void Lib_TextStrSet(int32_t slot, const char* text) {
    TextRecord* r = Slot(slot);
    if (!r) return;
    r->revealClock = 0;
    r->revealed = 0;
    r->finished = 0;
    std::memset(r->alpha, 0, sizeof r->alpha);
    Lib_TextRubyFree(r);
    CopyText(r->text, text);
}

void Lib_TextRgbaSet(int32_t slot, uint32_t colour) {
    TextRecord* r = Slot(slot);
    if (!r) return;
    r->colour = colour;
    Lib_TextRubyMove(r, nullptr);
}

void Lib_TextCornerColorSet(int32_t slot, const uint32_t colours[4]) {
    TextRecord* r = Slot(slot);
    if (!r || !colours) return;
    if (std::equal(colours, colours + 4, r->corner)) return;
    std::copy(colours, colours + 4, r->corner);
    // Bottom-left, bottom-right, top-left, top-right, as the shared quad.
    const uint32_t order[4] = {colours[2], colours[3], colours[0], colours[1]};
    const float pos[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {-0.5f, 0.5f}, {0.5f, 0.5f}};
    const float uv[4][2] = {{0.0f, 1.0f}, {1.0f, 1.0f}, {0.0f, 0.0f}, {1.0f, 0.0f}};
    TextVertex v[4];
    for (int i = 0; i < 4; ++i) {
        v[i] = TextVertex{{pos[i][0], pos[i][1], 0.0f}, {}, {uv[i][0], uv[i][1]}};
        ColourFloats(order[i], v[i].col);
    }
    const TextOps& ops = Lib_TextOps();
    if (r->cornerBuffer) {
        ops.bufferRelease(r->cornerBuffer);
        r->cornerBuffer = 0;
    }
    if (r->cornerData) {
        Lib_MemFree(HEAP_GRAPHICS, r->cornerData);
        r->cornerData = nullptr;
    }
    r->cornerData = static_cast<TextVertex*>(Lib_MemAlloc(HEAP_GRAPHICS, sizeof v, 4));
    if (r->cornerData) {
        std::memcpy(static_cast<void*>(r->cornerData), v, sizeof v);
        r->cornerBuffer = ops.bufferCreate(r->cornerData);
    }
    Lib_TextRubyMove(r, nullptr);
}

void Lib_TextPrioSet(int32_t slot, int32_t layer) {
    TextRecord* r = Slot(slot);
    if (!r) return;
    r->layer = layer;
    Lib_TextRubyMove(r, nullptr);
    if (r->drawEntry >= 0) Lib_DrawSetPrio(uint32_t(r->drawEntry), layer, -1);
}

void Lib_TextDrawModeSet(int32_t slot, uint32_t mode) {
    if (TextRecord* r = Slot(slot)) r->drawMode = mode;
}

bool Lib_TextMeasureStep(TextRecord* r, TextCursor* c, TextRect* out) {
    if (c->offset >= kTextBufferSize || !r->text[c->offset]) return false;
    if (Lib_TagParse(c) && c->addIndex == -1) return true;
    uint32_t code = 0;
    if (c->addIndex < 0) {
        code = Lib_CharCode(r->text + c->offset);
        c->offset += int32_t(Lib_CharLen(r->text + c->offset));
    }
    uint32_t style = r->fontStyle ? r->fontStyle : uint32_t(c->styleOverride);
    GlyphInfo g = Lib_TextOps().glyphInfo(code, c->addIndex, style);
    int32_t advance = r->fixedAdvance ? 64 : g.advance;
    out->left = std::min(out->left, c->penX);
    out->top = std::max(out->top, c->penY);
    c->penX = Lib_TextTrunc(double(c->penX) + r->letterSpacing + float(advance) * r->scaleX);
    out->right = std::max(out->right, AddWrap(r->x, c->penX));
    return true;
}

namespace {
constexpr int32_t kTagNameBytes = 8;  // "#Italic["
constexpr int32_t kCharBytes = 4;     // the longest character
// The rectangle of a finished pass: the top less 8, the bottom from the last pen.
TextRect MeasureDone(const TextRecord* r, const TextCursor& c, TextRect out) {
    out.top = SubWrap(out.top, 8);
    out.bottom = Lib_TextTrunc(double(r->y) + c.penY - 64.0f * r->scaleY);
    return out;
}
}  // namespace

int32_t Lib_TextRectWidth(const TextRect& r) {
    return int32_t(std::clamp<int64_t>(int64_t(r.right) - r.left, INT32_MIN, INT32_MAX));
}

TextRect* Lib_TextMeasureObj(TextRect* out, TextRecord* r) {
    if (!out) return out;
    if (!r) {
        *out = TextRect{};
        return out;
    }
    *out = TextRect{r->x, r->y, 0, 0};
    TextCursor c = Lib_TextCursorStart(r, 0, 0);
    while (Lib_TextMeasureStep(r, &c, out)) {
    }
    *out = MeasureDone(r, c, *out);
    return out;
}

void Lib_TextMeasureRunStart(TextMeasureRun* run, const TextScale* scale, const TextSpacing* spacing,
                             uint32_t fontStyle) {
    TextRecord* r = &run->record;
    const TextPos origin{0, 0, 0};
    Lib_TextObjCreate(&r, "", &origin);
    if (scale) r->scaleX = scale->x, r->scaleY = scale->y;
    if (spacing) r->letterSpacing = spacing->letter, r->lineSpacing = spacing->line;
    r->fontStyle = fontStyle;
    run->cursor = Lib_TextCursorStart(r, 0, 0);
    run->rect = TextRect{r->x, r->y, 0, 0};
    run->markFirst = run->markCount = 0;
    run->length = 0;
}

TextRect Lib_TextMeasureRunAppend(TextMeasureRun* run, const char* bytes, size_t n) {
    TextRecord* r = &run->record;
    const int32_t end = run->length;
    n = std::min<size_t>(n, size_t(kTextBufferSize - 1 - end));
    // Back to the oldest marked step whose reading may change with what
    // follows the old end: a tag or '#' that ran up to it, a '#' near it that
    // started no tag (a tag name may follow), a character of more than one
    // byte near it that may not be whole.
    constexpr int32_t kMarks = TextMeasureRun::kMarks;
    auto mark = [run](int32_t i) -> TextMeasureRun::Mark& { return run->marks[(run->markFirst + i) % kMarks]; };
    auto open = [r, end](const TextMeasureRun::Mark& m) {
        const int32_t at = m.cursor.offset, used = m.stepEnd - at;
        const uint8_t first = uint8_t(r->text[at]);
        if (first == '#') return m.stepEnd >= end || (used == 1 && at > end - kTagNameBytes);
        if (first < 0x80 || at <= end - kCharBytes) return false;
        const bool wholeUtf8 = uint32_t(used) == Lib_Utf8SeqLen(reinterpret_cast<const uint8_t*>(r->text + at));
        const bool wholePair = used == 2 && !(first >= 0xC0 && first <= 0xF7);
        return !wholeUtf8 && !wholePair;
    };
    int32_t back = -1;
    for (int32_t i = run->markCount - 1; i >= 0; --i)
        if (open(mark(i))) back = i;
    if (back >= 0) {
        const TextMeasureRun::Mark& m = mark(back);
        run->cursor = m.cursor;
        run->rect = m.rect;
        r->scaleX = m.scaleX, r->scaleY = m.scaleY, r->colour = m.colour, r->speed = m.speed;
        run->markCount = back;
    }
    std::memcpy(r->text + end, bytes, n);
    run->length = end + int32_t(n);
    r->text[run->length] = 0;
    // Only the steps the next append may take back are marked.
    for (;;) {
        const int32_t at = run->cursor.offset;
        const bool marked = at >= run->length - kTagNameBytes || (at < run->length && r->text[at] == '#');
        if (marked) {
            if (run->markCount == kMarks) {
                run->markFirst = (run->markFirst + 1) % kMarks;
                --run->markCount;
            }
            mark(run->markCount) =
                TextMeasureRun::Mark{run->cursor, run->rect, r->scaleX, r->scaleY, r->colour, r->speed, 0};
        }
        if (!Lib_TextMeasureStep(r, &run->cursor, &run->rect)) break;
        if (marked) mark(run->markCount++).stepEnd = run->cursor.offset;
    }
    return MeasureDone(r, run->cursor, run->rect);
}

void Lib_TextMeasureRunEnd(TextMeasureRun* run) { Lib_TextRubyFree(&run->record); }

TextRect* Lib_TextMeasure(TextRect* out, const char* text, const TextScale* scale,
                          const TextSpacing* spacing, uint8_t rubySpace, uint32_t fontStyle) {
    if (!out) return out;
    *out = TextRect{};
    if (!text) return out;
    TextRecord temp;
    TextRecord* r = &temp;
    const TextPos origin{0, 0, 0};
    Lib_TextObjCreate(&r, text, &origin);
    if (scale) {
        r->scaleX = scale->x;
        r->scaleY = scale->y;
    }
    if (spacing) {
        r->letterSpacing = spacing->letter;
        r->lineSpacing = spacing->line;
    }
    r->rubySpace = rubySpace;
    r->fontStyle = fontStyle;
    // Render flags stay 0: line breaks inside a measure never align, which
    // is what keeps alignment from measuring itself again.
    Lib_TextMeasureObj(out, r);
    Lib_TextRubyFree(r);
    return out;
}

void Lib_TextRubyFree(TextRecord* r) {
    if (!r) return;
    for (TextRecord*& child : r->ruby) {
        if (!child) continue;
        // A ruby text may hold a ruby tag of its own: free its children too.
        Lib_TextRubyFree(child);
        Lib_MemFree(HEAP_GENERAL, child);
        child = nullptr;
    }
}

void Lib_TextRubyMove(TextRecord* r, const TextPos* offset) {
    if (!r) return;
    for (TextRecord* child : r->ruby) {
        if (!child) break;
        Lib_TextRubySync(r, child, offset);
    }
}

void Lib_TextRubySync(const TextRecord* parent, TextRecord* child, const TextPos* offset) {
    if (!parent || !child) return;
    child->waitCounter = 0;
    child->startTime = parent->startTime;
    if (offset) {
        child->x = AddWrap(child->x, offset->x);
        child->y = AddWrap(child->y, offset->y);
        child->z = AddWrap(child->z, offset->z);
    }
    child->scaleX = parent->scaleX * 0.5f;
    child->scaleY = parent->scaleY * 0.5f;
    child->clipX = parent->clipX;
    child->clipY = parent->clipY;
    child->clipWidth = parent->clipWidth;
    child->clipHeight = parent->clipHeight;
    child->colour = (child->colour & 0x00FFFFFFu) | (parent->colour & 0xFF000000u);
    std::copy(parent->corner, parent->corner + 4, child->corner);
    child->outline = parent->outline;
    child->renderFlags = parent->renderFlags;
    child->layer = parent->layer;
    child->state = parent->state;
    child->speed = parent->speed / 2;
    child->drawMode = parent->drawMode;
    child->fadeIn = parent->fadeIn;
    child->fadeLength = parent->fadeLength;
    child->camera = parent->camera;
    child->cornerBuffer = parent->cornerBuffer;  // shared: the parent releases them
    child->cornerData = parent->cornerData;
    child->fontStyle = parent->fontStyle;
}
