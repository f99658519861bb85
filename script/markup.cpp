#include "script/markup.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "engine/text/text_measure_run.h"
#include "engine/text/text_object.h"
#include "ui/mode.h"

namespace {

// --- Character sets (UTF-8, one character each) -------------------------------

const char* const kClosingJa[] = {
    "\u2019", "\u201D", "\uFF09", "\u300D", "\u300F", "\uFF1F", "\uFF01", "\u30FB", "\uFF5E",
    "\u30FC", "\u3001", "\u3002", "\u3005", "\u3041", "\u3043", "\u3045", "\u3047", "\u3049",
    "\u3063", "\u3083", "\u3085", "\u3087", "\u308E", "\u30A1", "\u30A3", "\u30A5", "\u30A7",
    "\u30A9", "\u30C3", "\u30E3", "\u30E5", "\u30E7", "\u30EE", "\u30F5", "\u30F6",
};
const char* const kClosingEn[] = {
    "\u2019", "\u201D", "\uFF09", "\u300D", "\u300F", "\uFF1F", "\uFF01", "\u30FB", "\uFF5E", ",", ".", " ",
};
const char* const kClosingZh[] = {
    "\u2019", "\u201D", "\uFF09", "\u300D", "\u300F", "\uFF1F", "\uFF01",
    "\u30FB", "\uFF5E", "\u30FC", "\u3001", "\u3002", "\u3005", "\uFF0C",
};
const char* const kOpening[] = {"\u2018", "\u201C", "\uFF08", "\u300C", "\u300E", "\u2026"};
// Marks that open a speech (the hanging indent) or keep the next line unindented.
const char* const kSpeechOpen[] = {"\u300C", "\u300E", "\uFF08", "\u201C"};
const char* const kNoIndent[] = {"\u300C", "\u300E", "\uFF08", "\u201C", "\u3000"};
// Closing marks that may overhang the last column.
const char* const kOverhang[] = {"\u3001", "\u3002", "\uFF09", "\u300D", "\u300F"};

template <size_t N>
bool InSet(const char* c, const char* const (&set)[N]) {
    for (const char* m : set)
        if (!GSL_CharMatch(c, m)) return true;
    return false;
}


// The first character of s as UTF-8 into a zero-padded 8-byte buffer; its length.
size_t FirstUtf8(const char* s, char out[8]) {
    std::memset(out, 0, 8);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    if (!p[0]) return 0;
    if (uint32_t n = Lib_Utf8SeqLen(p)) {
        std::memcpy(out, s, n);
        return n;
    }
    char one[4] = {};
    std::memcpy(one, s, Lib_CharLen(s));
    const char* u = Lib_SjisToUtf8(one);
    size_t n = std::strlen(u);
    if (n > 7) n = 7;
    std::memcpy(out, u, n);
    return n;
}

int32_t Language() { return SystemDataBlock.language; }

bool Narrow(const char* c, char ch) { return *c == ch && Lib_CharLen(c) == 1 && !Lib_CharIsWide(c); }

// --- Number reading and writing, independent of the C locale -----------------

int32_t ReadInt(const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    bool neg = false;
    if (*s == '-' || *s == '+') neg = *s++ == '-';
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) v = v < 100000000000LL ? v * 10 + (*s - '0') : v;
    v = neg ? -v : v;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

uint32_t ReadHex(const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
    uint32_t v = 0;
    for (;; ++s) {
        int d = *s >= '0' && *s <= '9' ? *s - '0' : *s >= 'a' && *s <= 'f' ? *s - 'a' + 10
                : *s >= 'A' && *s <= 'F' ? *s - 'A' + 10 : -1;
        if (d < 0) return v;
        v = v << 4 | uint32_t(d);
    }
}

float ReadFloat(const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    if (*s == '+') ++s;
    float v = 0.0f;
    std::from_chars(s, s + std::strlen(s), v);
    return v;
}

// Truncation toward zero, saturated to i32.
int32_t Trunc(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return int32_t(v);
}

char* PutInt(char* p, char* end, int32_t v) { return std::to_chars(p, end, v).ptr; }
char* PutFixed2(char* p, char* end, float v) {
    auto r = std::to_chars(p, end, v, std::chars_format::fixed, 2);
    return r.ec == std::errc() ? r.ptr : p;
}

// The "#Size[" tags that begin before start, in order, into buf (at most
// 1535 bytes); their length.
size_t SizeTagsBefore(const char* text, uint32_t start, char* buf) {
    const size_t cap = kMarkupSize - 1;
    size_t n = 0;
    for (uint32_t i = 0; i < start && text[i];) {
        if (std::strncmp(text + i, "#Size[", 6)) {
            ++i;
            continue;
        }
        const char* close = std::strchr(text + i, ']');
        size_t k = close ? size_t(close - (text + i)) + 1 : std::strlen(text + i);
        if (n + k > cap) k = cap - n;
        std::memcpy(buf + n, text + i, k);
        n += k;
        i += uint32_t(k ? k : 1);
    }
    buf[n] = 0;
    return n;
}

// Appends rest to the n bytes in buf (cut on a character boundary at 1535
// bytes) and measures the whole at the stage's text size. For a line read
// back (lineText) the indent tags "#Awt[" count as the moves "#Pos[" they
// stand for, and the game's own face (style 2) measures.
float MeasureFrom(const StageRecord* stage, char* buf, size_t n, const char* rest, bool lineText = false) {
    const size_t cap = kMarkupSize - 1;
    const size_t restLen = std::strlen(rest);
    if (n + restLen <= cap) {
        std::memcpy(buf + n, rest, restLen);
        n += restLen;
    } else {
        for (const char* p = rest; *p;) {
            const uint32_t k = Lib_CharLen(p);
            if (n + k > cap) break;
            std::memcpy(buf + n, p, k);
            n += k;
            p += k;
        }
    }
    buf[n] = 0;
    if (lineText)
        for (char* a = std::strstr(buf, "#Awt["); a; a = std::strstr(a + 5, "#Awt[")) std::memcpy(a + 1, "Pos", 3);
    const TextScale scale{stage->textSizeX, stage->textSizeY};
    const TextSpacing spacing{0, 0};
    TextRect r{};
    Lib_TextMeasure(&r, buf, &scale, &spacing, 0, lineText ? 2u : 0u);
    return float(Lib_TextRectWidth(r));
}

// --- The conversion -----------------------------------------------------------

// process-wide: scratch, written before each read
TextMeasureRun g_lineRun;  // the converter's line measure; game thread only

struct Converter {
    const StageRecord* stage;
    StageRecord* stageMut;
    const char* work;
    char* out;
    size_t cap;  // usable bytes (the terminator not counted)
    size_t len = 0;
    float L = 0, x = 0;
    uint32_t lineStart = 0;
    float sx = 0.5f, sy = 0.5f;
    int32_t sizeCount = 0;
    bool firstSeen = false, hangingFlag = false, hanging = false;
    int32_t indentAdvance = 0;
    float indentScale = 0.5f;
    bool lineText = false;  // the indent is "#Awt[", measured as a move in style 2

    bool Put(const char* s, size_t n) {
        if (len + n > cap) return false;
        std::memcpy(out + len, s, n);
        len += n;
        out[len] = 0;
        return true;
    }
    bool Put(const char* s) { return Put(s, std::strlen(s)); }
    // Takes the output back to n bytes; a line measure that held more starts again.
    void Cut(size_t n) {
        len = n;
        out[len] = 0;
        if (runFor != UINT32_MAX && n < lineStart + held) MeasureEnd();
    }
    // The line measured as GSL_TextSizeParse measures it: the size tags
    // before the line, then the line, cut at 1535 bytes on a character
    // boundary. The measure grows with the line (a run kept while the line
    // only grows at its end), so a line costs what it appends, not its
    // length once per character.
    char measure[kMarkupSize];  // the size tags before the line
    size_t prefixLen = 0, held = 0;
    uint32_t runFor = UINT32_MAX;
    bool runFull = false;
    float width = 0;
    void Measure() {
        TextMeasureRun& run = g_lineRun;
        if (runFor != lineStart) {
            MeasureEnd();
            prefixLen = SizeTagsBefore(out, lineStart, measure);
            const TextScale scale{stage->textSizeX, stage->textSizeY};
            const TextSpacing spacing{0, 0};
            Lib_TextMeasureRunStart(&run, &scale, &spacing, lineText ? 2u : 0u);
            runFor = lineStart;
            held = 0;
            runFull = false;
            MeasureFeed(run, measure, prefixLen);
        }
        const size_t lineLen = len - lineStart;
        if (!runFull && lineLen > held) MeasureGrow(run, out + lineStart + held, lineLen - held);
        x = width;
    }
    void MeasureGrow(TextMeasureRun& run, const char* rest, size_t take) {
        const size_t room = kMarkupSize - 1;
        if (prefixLen + held + take > room) {
            runFull = true;
            take = 0;
            for (uint32_t k; rest[take] && prefixLen + held + take + (k = Lib_CharLen(rest + take)) <= room;) take += k;
        }
        held += take;
        MeasureFeed(run, rest, take);
    }
    void MeasureFeed(TextMeasureRun& run, const char* bytes, size_t n) {
        char piece[kMarkupSize];
        std::memcpy(piece, bytes, n);
        piece[n] = 0;
        // A line read back measures its indent tags as the moves they stand for.
        if (lineText)
            for (char* a = std::strstr(piece, "#Awt["); a; a = std::strstr(a + 5, "#Awt[")) std::memcpy(a + 1, "Pos", 3);
        const TextRect r = Lib_TextMeasureRunAppend(&run, piece, n);
        width = float(int64_t(r.right) - r.left);
    }
    void MeasureEnd() {
        if (runFor != UINT32_MAX) Lib_TextMeasureRunEnd(&g_lineRun);
        runFor = UINT32_MAX;
    }

    void PutPos(int32_t a, int32_t b, const char* tag = "#Pos[") {
        char t[40];
        const int n = std::snprintf(t, sizeof t, "%.5s%d,%d]", tag, int(a), int(b));
        Put(t, size_t(n));
    }
    void IndentTag() { PutPos(Trunc(float(indentAdvance) * indentScale), 0, lineText ? "#Awt[" : "#Pos["); }

    // After a break, from the characters at p: true when the tag was added.
    bool IndentRule(const char* p) {
        while (Narrow(p, '"')) ++p;
        if (!*p || InSet(p, kNoIndent)) return false;
        // Text converted once already carries its indent as a position construct.
        if (*p == '/' && !std::strncmp(p, "/pos:", 5)) return false;
        size_t before = len;
        IndentTag();
        if (len == before) return false;
        Measure();
        return true;
    }

    void Break(const char* c) {
        if (!Put("#n", 2)) return;
        lineStart = uint32_t(len);
        x = 0;
        if (hangingFlag && IndentRule(c) && sizeCount >= 2 && (sx != 0.5f || sy != 0.5f))
            PutPos(Trunc((0.5f - sx) * 64.0f), Trunc((0.5f - sy) * -64.0f));
    }

    // Language 1: the word after the line's last space goes to a new line.
    bool WordWrap() {
        size_t s = len;
        while (s > lineStart && out[s - 1] != ' ') --s;
        if (s == lineStart) return false;
        char moved[kMarkupSize];
        size_t n = len - s;
        std::memcpy(moved, out + s, n);
        Cut(s);
        Put("#n", 2);
        if (hangingFlag) IndentTag();
        lineStart = uint32_t(len);
        Put(moved, n);
        return true;
    }

    bool ShouldBreak(const char* c, uint32_t cl) {
        const int32_t lang = Language();
        bool brk;
        if (x < L - 64.0f) brk = false;
        else if (x < L - 32.0f) brk = GSL_KinsokuCheck(1, c) == 1;
        else if (x < L) brk = GSL_KinsokuCheck(0, c) != 0;
        else brk = !(Lib_CharIsWide(c) && c[cl] == 0 && InSet(c, kOverhang));
        if (lang == 1 && x >= L - 64.0f) {
            if (Narrow(c, ' ')) return false;
            if (c[1] == ' ') return brk;
            if (WordWrap()) return false;
        }
        return brk;
    }

    void FirstVisible(const char* c) {
        if (firstSeen || !hanging) return;
        firstSeen = true;
        if (!Narrow(c, '"') && !(Lib_CharIsWide(c) && InSet(c, kSpeechOpen))) return;
        hangingFlag = true;
        if (FontSelectedStyle == 2) Lib_FontSelect(0);
        Lib_GlyphOutlineGet(0, Lib_CharCode(c));
        GlyphMetrics g;
        Lib_GlyphParamGet(&g);
        indentAdvance = g.advance;
    }

    // Appends the visible character at c; returns the bytes consumed (0: full).
    uint32_t Append(const char* c, uint32_t cl) {
        if (Narrow(c, '$')) {
            if (!c[1]) return 1;
            static const char kEsc[] = "><,;\"";
            uint32_t used = 1 + Lib_CharLen(c + 1);
            if (c[1] >= '0' && c[1] <= '4' && !Put(&kEsc[c[1] - '0'], 1)) return 0;
            Measure();
            return used;
        }
        if (!Put(c, cl)) return 0;
        Measure();
        return cl;
    }

    struct Args {
        char text[8][kMarkupArgSize];
        int32_t cols[8];
        int32_t count;
    };
    // Collects the arguments at p (after the keyword); returns the position after the closing '/'.
    const char* Collect(const char* p, Args& a) {
        std::memset(&a, 0, sizeof a);
        a.count = 1;
        int32_t cur = 0;
        bool stopped = false;
        size_t used = 0;
        while (*p) {
            uint32_t n = Lib_CharLen(p);
            if (Narrow(p, '/')) return p + 1;
            if (Narrow(p, '&')) {
                if (cur == 7) stopped = true;
                else a.count = ++cur + 1, used = 0;
            } else if (!stopped && used + n < kMarkupArgSize) {
                std::memcpy(a.text[cur] + used, p, n);
                used += n;
                a.cols[cur] += Lib_CharIsWide(p) ? 2 : 1;
            }
            p += n;
        }
        return p;
    }

    void Ruby(const Args& a) {
        if (x >= L - 64.0f && Put("#n", 2)) lineStart = uint32_t(len);
        Put(a.text[0]);
        Measure();
        char r[256];
        const char* src = a.text[1];
        int32_t cr = a.cols[1];
        size_t rl = std::strlen(src);
        if (rl <= std::strlen(a.text[0])) {
            bool sjis = false;
            for (const char* q = src; *q; q += Lib_CharLen(q))
                if (Lib_CharLen(q) > 1 && !Lib_Utf8SeqLen(reinterpret_cast<const uint8_t*>(q))) sjis = true;
            const char* space = sjis ? "\x81\x40" : "\xE3\x80\x80";
            const size_t sl = sjis ? 2 : 3;
            size_t n = 0;
            for (const char* q = src; *q;) {
                uint32_t ql = Lib_CharLen(q);
                if (n + ql >= sizeof r) break;
                std::memcpy(r + n, q, ql);
                n += ql;
                q += ql;
                if (*q) {
                    if (n + sl >= sizeof r) break;
                    std::memcpy(r + n, space, sl);
                    n += sl;
                    cr += 2;
                }
            }
            r[n] = 0;
        } else {
            std::memcpy(r, src, rl + 1);
        }
        // Held off INT_MIN, so that the move back (-p) stays an int.
        const int32_t p = std::max(Trunc(float((-cr - 2 * a.cols[0]) * 8) * sx), -INT32_MAX);
        PutPos(p, 0);
        if (Put("#Rubi[", 6)) {
            // The ruby goes in whole or not at all, so the tag stays closed.
            size_t before = len;
            if (!Put(r) || !Put("]", 1)) Cut(before - 6);
        }
        PutPos(-p, 0);
        Measure();
    }

    void Construct(const char* keyword, const Args& a) {
        char t[64], *e = t + sizeof t, *p = t;
        auto lit = [&](const char* s) { size_t n = std::strlen(s); std::memcpy(p, s, n); p += n; };
        if (!std::strcmp(keyword, "/ruby:")) return Ruby(a);
        if (!std::strcmp(keyword, "/size:")) {
            float vx = ReadFloat(a.text[0]), vy = ReadFloat(a.text[1]);
            if (vx >= 5.0f || vy >= 5.0f) vx = vx / 30.0f * 0.5f, vy = vy / 30.0f * 0.5f;
            lit("#Size[");
            p = PutFixed2(p, e - 24, vx);
            *p++ = ',';
            p = PutFixed2(p, e - 2, vy);
            *p++ = ']';
            sx = vx, sy = vy;
            ++sizeCount;
        } else if (!std::strcmp(keyword, "/color:")) {
            uint32_t v = ReadInt(a.text[0]) == -1 ? 0xFF000000u : ReadHex(a.text[0]);
            const int32_t b = int32_t(v & 0xFF), g = int32_t(v >> 8 & 0xFF), r = int32_t(v >> 16 & 0xFF);
            lit("#Color[-1,");
            p = PutInt(p, e, b), *p++ = ',';
            p = PutInt(p, e, g), *p++ = ',';
            p = PutInt(p, e, r), *p++ = ']';
            stageMut->textColor = (stageMut->textColor & 0xFF000000u) | uint32_t(r) | uint32_t(g) << 8 |
                                  uint32_t(b) << 16;
        } else if (!std::strcmp(keyword, "/pos:")) {
            return PutPos(ReadInt(a.text[0]), ReadInt(a.text[1]));
        } else {
            lit(!std::strcmp(keyword, "/italic:") ? "#Italic[" : !std::strcmp(keyword, "/weight:") ? "#Weight[" : "#System[");
            p = PutInt(p, e, ReadInt(a.text[0])), *p++ = ']';
        }
        Put(t, size_t(p - t));
    }

    void Run() {
        static const char* const kKeywords[] = {"/ruby:", "/size:", "/color:", "/pos:", "/italic:", "/weight:", "/system:"};
        const char* c = work;
        while (*c) {
            const uint32_t cl = Lib_CharLen(c);
            if (Narrow(c, '/')) {
                const char* kw = nullptr;
                for (const char* k : kKeywords)
                    if (!std::strncmp(c, k, std::strlen(k))) kw = k;
                if (kw) {
                    static Args args;  // game thread only; kept off the stack of a deep caller
                    c = Collect(c + std::strlen(kw), args);
                    Construct(kw, args);
                    continue;
                }
            }
            bool explicitBreak = false;
            if (Narrow(c, '#') && c[1] && Narrow(c + 1, c[1])) {
                if (c[1] == 'n') {
                    explicitBreak = true;
                } else {
                    // Another engine tag: copied as it stands, up to its closing bracket.
                    while (*c) {
                        const uint32_t n = Lib_CharLen(c);
                        const bool close = Narrow(c, ']');
                        if (!Put(c, n)) return;
                        c += n;
                        if (close) break;
                    }
                    continue;
                }
            } else if (Narrow(c, '\\') && c[1] == 'n') {
                explicitBreak = true;
            }
            if (explicitBreak) {
                x = 0;
                if (!Put("#n", 2)) return;
                lineStart = uint32_t(len);
                c += 2;
                if (hangingFlag) IndentRule(c);
                continue;
            }
            if (ShouldBreak(c, cl)) Break(c);
            FirstVisible(c);
            const uint32_t used = Append(c, cl);
            if (!used) return;
            c += used;
        }
    }
};

// The pre-pass: "#Size[" and "#Pos[" tags become constructs; the rest is
// copied. Input beyond the working copy is cut on a character boundary.
void PrePass(const char* in, char* work) {
    size_t n = 0;
    const size_t cap = kMarkupSize - 1;
    auto put = [&](const char* s, size_t k) {
        if (n + k > cap) return false;
        std::memcpy(work + n, s, k);
        n += k;
        return true;
    };
    while (*in) {
        const bool size = Narrow(in, '#') && !std::strncmp(in, "#Size[", 6);
        const bool pos = Narrow(in, '#') && !std::strncmp(in, "#Pos[", 5);
        if (size || pos) {
            if (!put(size ? "/size:" : "/pos:", size ? 6 : 5)) break;
            in += size ? 6 : 5;
            bool ok = true;
            while (*in && ok) {
                const uint32_t k = Lib_CharLen(in);
                if (Narrow(in, ']')) {
                    ok = put("/", 1), ++in;
                    break;
                }
                ok = Narrow(in, ',') ? put("&", 1) : put(in, k);
                in += k;
            }
            if (!ok) break;
            continue;
        }
        const uint32_t k = Lib_CharLen(in);
        if (!put(in, k)) break;
        in += k;
    }
    work[n] = 0;
}

}  // namespace

bool GSL_CharMatch(const char* text, const char* ch) {
    char a[8], b[8];
    FirstUtf8(text, a);
    const size_t nb = FirstUtf8(ch, b);
    return std::memcmp(a, b, nb) != 0;
}

int32_t GSL_KinsokuCheck(int32_t mode, const char* ch) {
    const int32_t lang = Language();
    const int32_t kase = mode + 2 * lang;
    const bool single = Lib_CharLen(ch) == 1;
    switch (kase) {
        case 0: return single || !InSet(ch, kClosingJa) ? 1 : 0;
        case 2: return InSet(ch, kClosingEn) ? 0 : 1;
        case 4:
        case 6: return single || !InSet(ch, kClosingZh) ? 1 : 0;
        case 1:
        case 3:
        case 5:
        case 7: return !single && InSet(ch, kOpening) ? 1 : 0;
        default: return (kase & 1) == 0 ? 1 : 0;
    }
}

float GSL_TextSizeParse(const StageRecord* stage, const char* text, uint32_t start) {
    static char buf[kMarkupSize];  // game thread only
    return MeasureFrom(stage, buf, SizeTagsBefore(text, start, buf), text + start);
}

float GSL_LineTextSizeParse(const StageRecord* stage, const char* text, uint32_t start) {
    static char buf[kMarkupSize];  // game thread only
    return MeasureFrom(stage, buf, SizeTagsBefore(text, start, buf), text + start, true);
}

namespace {
void Convert(CommandContext* ctx, const char* in, char* out, size_t outSize, bool hanging, float columns,
             float indentScale, bool lineText) {
    if (!ctx || !ctx->stage || !out || !outSize) return;
    out[0] = 0;
    if (!in) return;
    static char work[kMarkupSize];  // game thread only
    PrePass(in, work);
    Converter cv;
    cv.stage = cv.stageMut = ctx->stage;
    cv.work = work;
    cv.out = out;
    cv.cap = (outSize < kMarkupSize ? outSize : kMarkupSize) - 1;
    if (columns < 0.0f) columns = ctx->stage->windowFrame < 0 ? 54.0f : 66.0f;
    cv.L = columns * 0.5f * 32.0f;
    cv.indentScale = indentScale == 0.0f ? 0.5f : indentScale;
    cv.hanging = hanging;
    cv.lineText = lineText;
    cv.Run();
    cv.MeasureEnd();
}
}  // namespace

void GSL_MarkupConvert(CommandContext* ctx, const char* in, char* out, size_t outSize, bool hanging,
                       float columns, float indentScale) {
    Convert(ctx, in, out, outSize, hanging, columns, indentScale, false);
}

void GSL_TextToMarkup(CommandContext* ctx, const char* in, char* out, size_t outSize, bool hanging, float columns,
                      float indentScale) {
    Convert(ctx, in, out, outSize, hanging, columns, indentScale, true);
}

float* GSL_TextPageMake(float out[3], const CommandContext* ctx) {
    out[0] = 395.0f, out[1] = -310.0f, out[2] = 0.0f;
    ScreenWork* w = GSL_ScreenWork(SCREEN_STORY);
    if (!ctx || !ctx->stage || !w) return out;
    const StageRecord* stage = ctx->stage;
    const int32_t icon = w->layers[29].handle;
    const int64_t textSlot = int64_t(stage->textSlotOffset) + 1;
    if (icon < 0 || textSlot < 0 || textSlot >= kScreenTexts) return out;
    const int32_t handle = w->texts[textSlot].handle;
    if (handle < 0 || handle >= kTextSlots || !TextTable[handle]) return out;
    int32_t iw = 0, ih = 0;
    if (icon < kSpriteSlots) {
        const SpriteRecord& s = SpriteTable[icon];
        if ((s.flags & 0x01) && !(s.flags & 0x20)) {
            int32_t sw = s.srcRect[2], sh = s.srcRect[3];
            if (int64_t(sw) * sh == 0) sw = s.imageWidth, sh = s.imageHeight;
            iw = Trunc(float(sw) * s.scaleX);
            ih = Trunc(float(sh) * s.scaleY);
        }
    }
    const TextRecord& t = *TextTable[handle];
    TextRect r{};
    const TextScale own{t.scaleX, t.scaleY};
    const TextSpacing ownSpacing{t.letterSpacing, t.lineSpacing};
    Lib_TextMeasure(&r, t.text, &own, &ownSpacing, t.rubySpace, t.fontStyle);
    const int64_t yb = (int64_t(ih) + 720) / 2 - r.top + t.y + r.bottom - 10;
    int64_t xb = t.x;
    if (t.text[0]) {
        const char* from = t.text;
        for (const char* p = t.text + std::strlen(t.text); p > t.text + 1; --p)
            if (p[-2] == '#' && p[-1] == 'n') {
                from = p;
                break;
            }
        const TextScale scale{stage->textSizeX, stage->textSizeY};
        const TextSpacing none{0, 0};
        TextRect lr{};
        Lib_TextMeasure(&lr, from, &scale, &none, 0, 0);
        xb = int64_t(t.x) + (int64_t(lr.right) - lr.left) - (1280 - int64_t(iw)) / 2;
    }
    out[0] = float(stage->textOffsetX + xb);
    out[1] = float(stage->textOffsetY + yb);
    if (std::strstr(t.text, "#Size[1")) out[0] += 128.0f, out[1] += 14.0f;
    return out;
}

bool GSL_ContextCheck() {
    for (int32_t slot = 11; slot <= 18; ++slot) {
        if (!GSL_ScreenOf(SCREEN_STORY)) return false;
        ScreenWork* w = GSL_WorkGet(GSL_ScreenOf(SCREEN_STORY));
        if (!w) continue;
        const int32_t ch = w->sounds[slot].handle;
        if (ch < 0 || ch >= kSoundChannels) continue;
        if (!(SoundChannelTable[ch].st.flags.load() & 1)) continue;
        if (Lib_SoundStateGet(ch) & ~2) return true;
    }
    return false;
}
