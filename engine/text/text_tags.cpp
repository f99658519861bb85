#include "engine/text/text_tags.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/core/charcode.h"

namespace {

constexpr int32_t kTextMaxBytes = kTextBufferSize - 1;
constexpr int32_t kTagPosLimit = 1 << 20;
constexpr float kTagScaleLimit = 64.0f;

int32_t AddWrap(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t SubWrap(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
int32_t Wrap(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A signed decimal integer: leading blanks, a sign, digits up to the first
// other byte; no digits give 0, values beyond the range saturate.
int32_t ArgInt(const char* p) {
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    for (; IsDigit(*p); ++p) v = std::min<int64_t>(v * 10 + (*p - '0'), int64_t(1) << 31);
    if (negative) v = -v;
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// A decimal real (sign, digits, point, exponent), read the same in every C
// locale; no number or one out of range gives 0.
float ArgReal(const char* p) {
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!IsDigit(*p) && !(*p == '.' && IsDigit(p[1]))) return 0.0f;
    float v = 0.0f;
    auto result = std::from_chars(p, p + std::strlen(p), v, std::chars_format::general);
    if (result.ec != std::errc()) return 0.0f;
    return negative ? -v : v;
}

// The next character at byte `at` of the text, never past its terminator.
int32_t Step(const char* text, int32_t at) {
    return text[at] ? at + int32_t(Lib_CharLen(text + at)) : at;
}

// Byte offset of the first `stop` character from `at`, or of the terminator.
int32_t Find(const char* text, int32_t at, char stop) {
    while (text[at] && text[at] != stop) at = Step(text, at);
    return at;
}

// Where scanning from p must end: the record's buffer end when p lies in its
// text (which always holds a terminator before it), else p's own terminator.
const char* ScanEnd(const TextRecord* r, const char* p) {
    if (p >= r->text && p < r->text + kTextBufferSize) return r->text + kTextBufferSize;
    return p + std::strlen(p) + 1;
}

const char* Text(const TextCursor* c) { return c->record->text; }

// Starts a tag's arguments right after its name.
const char* ArgFirst(TextCursor* c, int32_t nameLength) {
    c->offset += nameLength;
    return Text(c) + c->offset;
}

// After the last argument: on to the next ']' and past it (not past the end).
void ArgsDone(TextCursor* c) {
    int32_t at = Find(Text(c), c->offset, ']');
    c->offset = Text(c)[at] ? at + 1 : at;
}

constexpr uint8_t kAlignFlags = TEXT_ALIGN_CENTRE | TEXT_ALIGN_RIGHT | TEXT_ALIGN_VCENTRE | TEXT_ALIGN_HCENTRE;

// Measures the text from p on, or only its first n bytes.
TextRect MeasureFrom(const TextRecord* r, const char* p, size_t n) {
    const TextScale scale{r->scaleX, r->scaleY};
    const TextSpacing spacing{r->letterSpacing, r->lineSpacing};
    TextRect out;
    if (n == SIZE_MAX) return *Lib_TextMeasure(&out, p, &scale, &spacing, 1, r->fontStyle);
    char first[kTextBufferSize];
    n = std::min<size_t>(n, kTextMaxBytes);
    std::memcpy(first, p, n);
    first[n] = 0;
    return *Lib_TextMeasure(&out, first, &scale, &spacing, 1, r->fontStyle);
}

// The first line feed from p on, or the end of the text.
const char* NextFeed(const char* p, const char* end) {
    const char* q = p;
    while (q < end && *q && *q != '\n') q += Lib_CharLen(q);
    return q;
}

// The pen of the line at p by the alignment flags. Each line is measured on
// its own; the whole rest only when the block's height is wanted (block
// true, the start of a pass). feed, when given, is NextFeed of p, kept by
// the caller across lines, so a pass over many lines stays linear.
TextPen LineStart(const TextRecord* r, const char* p, bool block, const char* feed = nullptr) {
    if (!r || !p || !(r->renderFlags & kAlignFlags)) return TextPen{0, 0};
    // The first line ends at the first line feed of the rest, or when there
    // is none at the first "#n".
    const char* end = ScanEnd(r, p);
    if (!feed) feed = NextFeed(p, end);
    const char* stop = feed < end && *feed == '\n' ? feed : nullptr;
    for (const char* q = p; q < end && *q && !stop; q += Lib_CharLen(q))
        if (q[0] == '#' && q[1] == 'n') stop = q;
    const uint8_t f = r->renderFlags;
    const bool wantHeight = block && (f & (TEXT_ALIGN_CENTRE | TEXT_ALIGN_VCENTRE));
    TextRect whole{}, line{};
    if (wantHeight || !stop) whole = MeasureFrom(r, p, SIZE_MAX);
    line = stop ? MeasureFrom(r, p, size_t(stop - p)) : whole;
    int64_t width = int64_t(line.right) - line.left;
    int64_t height = int64_t(whole.top) - whole.bottom;
    if (f & TEXT_ALIGN_CENTRE) return TextPen{Wrap(-(width / 2)), Wrap(height / 2)};
    if (f & TEXT_ALIGN_VCENTRE) return TextPen{0, Wrap(height / 2)};
    if (f & TEXT_ALIGN_HCENTRE) return TextPen{Wrap(-(width / 2)), 0};
    return TextPen{Wrap(-width), 0};
}

void LineBreak(TextCursor* c) {
    TextRecord* r = c->record;
    c->penX = 0;
    int32_t y = SubWrap(SubWrap(c->penY, r->lineSpacing), 64);
    c->penY = Lib_TextTrunc(float(y) - (64.0f * r->scaleY - 64.0f));
    c->penY = SubWrap(c->penY, Lib_TagRubiCheck(c, r->text + c->offset));
    // Only x: the block's vertical offset applies once, at the start of a pass.
    if (r->renderFlags & kAlignFlags) {
        if (c->feedAt < c->offset)
            c->feedAt = int32_t(NextFeed(r->text + c->offset, r->text + kTextBufferSize) - r->text);
        c->penX = LineStart(r, r->text + c->offset, false, r->text + c->feedAt).x;
    } else {
        c->penX = 0;
    }
}

void TagColour(TextCursor* c) {
    int32_t v[4];
    v[0] = ArgInt(ArgFirst(c, 7));
    for (int i = 1; i < 4; ++i) v[i] = ArgInt(Lib_TagNextArg(c));
    ArgsDone(c);
    // Alpha, then the channels from the top byte down; negative keeps a byte.
    uint32_t word = c->record->colour;
    for (int i = 0; i < 4; ++i) {
        if (v[i] < 0) continue;
        int shift = 24 - 8 * i;
        word = (word & ~(0xFFu << shift)) | (uint32_t(v[i] & 0xFF) << shift);
    }
    c->record->colour = word;
}

void TagRubi(TextCursor* c) {
    TextRecord* r = c->record;
    int32_t start = c->offset + 6;
    int32_t end = Find(r->text, start, ']');
    char ruby[kTextBufferSize];
    int32_t n = std::min(end - start, kTextMaxBytes);
    std::memcpy(ruby, r->text + start, size_t(n));
    ruby[n] = 0;
    int32_t i = c->rubyIndex;
    if (i < kTextRubyMax && (c->count <= r->revealed || r->speed < 1) && !r->ruby[i]) {
        const TextPos at{AddWrap(c->penX, r->x), AddWrap(c->penY, r->y), r->z};
        Lib_TextObjCreate(&r->ruby[i], ruby, &at);
        if (TextRecord* child = r->ruby[i]) {
            const TextPos none{0, 0, 0};
            Lib_TextRubySync(r, child, &none);
            child->y = AddWrap(child->y, Lib_TextTrunc(child->scaleY * 64.0f));
            child->colour = r->colour;
        }
    }
    if (c->rubyIndex < INT32_MAX) ++c->rubyIndex;
    c->offset = r->text[end] ? end + 1 : end;
}

struct Tag {
    const char* name;
    int32_t length;
};
enum TagId { TAG_N, TAG_COLOR, TAG_POS, TAG_SIZE, TAG_SPEED, TAG_RUBI, TAG_ADD, TAG_WAIT, TAG_ITALIC,
             TAG_WEIGHT, TAG_SYSTEM, TAG_COUNT };
constexpr Tag kTags[TAG_COUNT] = {
    {"#n", 2},       {"#Color[", 7},  {"#Pos[", 5},    {"#Size[", 6},    {"#Speed[", 7},  {"#Rubi[", 6},
    {"#Add[", 5},    {"#Wait[", 6},   {"#Italic[", 8}, {"#Weight[", 8},  {"#System[", 8},
};

}  // namespace

int32_t Lib_TextTrunc(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return int32_t(v);
}

TextCursor Lib_TextCursorStart(TextRecord* record, int32_t penX, int32_t penY) {
    // Whatever was written into the record, its text ends inside the buffer.
    if (record) record->text[kTextMaxBytes] = 0;
    TextCursor c{};
    c.record = record;
    c.penX = penX;
    c.penY = penY;
    c.cellWidth = c.cellHeight = 64;
    c.addIndex = -1;
    c.pauseAt = -1;
    c.feedAt = -1;
    return c;
}

const char* Lib_TagNextArg(TextCursor* c) {
    int32_t at = Find(Text(c), c->offset, ',');
    c->offset = Text(c)[at] ? at + 1 : at;
    return Text(c) + c->offset;
}

int32_t Lib_TagRubiCheck(const TextCursor* c, const char* p) {
    const TextRecord* r = c->record;
    if (!r->rubySpace || !p) return 0;
    const char* end = ScanEnd(r, p);
    for (const char* q = p; q < end && *q; q += Lib_CharLen(q)) {
        if (*q == '\n' || (q[0] == '#' && q[1] == 'n')) return 0;
        if (std::strncmp(q, "#Rubi[", 6) == 0) return Lib_TextTrunc(float(c->cellHeight / 2) * r->scaleY);
    }
    return 0;
}

TextPen Lib_TextLineStart(const TextRecord* r, const char* p) { return LineStart(r, p, true); }

uint8_t Lib_TagParse(TextCursor* c) {
    TextRecord* r = c->record;
    c->addIndex = -1;
    if (c->offset == 0) c->penY = SubWrap(c->penY, Lib_TagRubiCheck(c, r->text));
    const char* p = r->text + c->offset;
    if (*p == '\n') {
        c->offset++;
        LineBreak(c);
        return 1;
    }
    if (*p != '#') return 0;
    int id = 0;
    while (id < TAG_COUNT && std::strncmp(p, kTags[id].name, size_t(kTags[id].length)) != 0) ++id;
    int32_t length = id < TAG_COUNT ? kTags[id].length : 0;
    switch (id) {
    case TAG_N:
        c->offset += length;
        LineBreak(c);
        break;
    case TAG_COLOR:
        TagColour(c);
        break;
    case TAG_POS: {
        // Moves are clamped to well beyond any screen, so that no run of them
        // carries the pen out of the 32-bit range.
        int32_t dx = std::clamp(ArgInt(ArgFirst(c, length)), -kTagPosLimit, kTagPosLimit);
        int32_t dy = std::clamp(ArgInt(Lib_TagNextArg(c)), -kTagPosLimit, kTagPosLimit);
        ArgsDone(c);
        c->penX = AddWrap(c->penX, dx);
        c->penY = AddWrap(c->penY, dy);
        break;
    }
    case TAG_SIZE: {
        // Scales are clamped too: one character at a huge scale would carry
        // the pen out of the 32-bit range.
        float sx = std::clamp(ArgReal(ArgFirst(c, length)), -kTagScaleLimit, kTagScaleLimit);
        float sy = std::clamp(ArgReal(Lib_TagNextArg(c)), -kTagScaleLimit, kTagScaleLimit);
        ArgsDone(c);
        r->scaleX = sx;
        r->scaleY = sy;
        break;
    }
    case TAG_SPEED:
        r->speed = ArgInt(ArgFirst(c, length));
        ArgsDone(c);
        break;
    case TAG_RUBI:
        TagRubi(c);
        break;
    case TAG_ADD: {
        int32_t n = ArgInt(ArgFirst(c, length));
        ArgsDone(c);
        if (n >= 0 && n <= 15) c->addIndex = n;
        break;
    }
    case TAG_WAIT:
        c->pauseLength = ArgInt(ArgFirst(c, length));
        ArgsDone(c);
        c->pauseAt = c->count;
        break;
    case TAG_ITALIC:
        c->slant = float(ArgInt(ArgFirst(c, length))) * 0.017453f;
        ArgsDone(c);
        c->styleOverride = c->slant == 0.0f ? 0 : 1;
        break;
    case TAG_WEIGHT:
        c->weight = float(ArgInt(ArgFirst(c, length))) / 10.0f;
        ArgsDone(c);
        break;
    case TAG_SYSTEM:
        c->styleOverride = ArgInt(ArgFirst(c, length)) > 0 ? 2 : 0;
        ArgsDone(c);
        break;
    default:
        return 0;  // a '#' that starts no tag is drawn as a character
    }
    return 1;
}
