#include "engine/core/charcode.h"

#include <cstdio>
#include <cstring>

namespace {

#include "engine/core/cp932_tables.inc"

static_assert(sizeof(kCp932EncodeRecords) / 3 == kCp932RecordCount);
static_assert(kCp932DecodableChars < kCp932RecordCount);

constexpr char16_t kReplacement = 0xFFFD;


// Decodes one well-formed UTF-8 character from the `avail` bytes at p (no
// overlong forms, surrogates or values above U+10FFFF). Malformed input gives
// U+FFFD. *len receives the bytes consumed (at least 1).
uint32_t Utf8Decode(const uint8_t* p, size_t avail, uint32_t* len) {
    *len = 1;
    uint8_t c = p[0];
    if (c < 0x80) return c;
    uint32_t n, cp, lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3; cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4; cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return kReplacement;
    }
    if (avail < n) return kReplacement;
    for (uint32_t i = 1; i < n; ++i) {
        if (p[i] < lo || p[i] > hi) return kReplacement;
        cp = (cp << 6) | (p[i] & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    *len = n;
    return cp;
}

// Writes the UTF-8 form of cp (below U+10000) to out; returns its length.
uint32_t Utf8Encode(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = uint8_t(0xE0 | (cp >> 12));
    out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[2] = uint8_t(0x80 | (cp & 0x3F));
    return 3;
}

// Decodes one Shift-JIS character at p into its UTF-16 value; *len receives
// its byte length. 0 ends a conversion: the terminator, a lead byte without a
// valid trail byte, or a code the table leaves unmapped.
char16_t SjisDecode(const uint8_t* p, uint32_t* len) {
    uint8_t c = p[0];
    *len = 1;
    if (c <= 0x80) return c;
    if (c == 0xA0) return 0xF8F0;
    if (c >= 0xA1 && c <= 0xDF) return char16_t(c + 0xFEC0);
    if (c >= 0xFD) return char16_t(0xF8F1 + (c - 0xFD));
    uint8_t t = p[1];
    uint32_t column;
    if (t >= 0x40 && t <= 0x7E) column = t - 0x40u;
    else if (t >= 0x80 && t <= 0xFC) column = t - 0x41u;
    else return 0;
    *len = 2;
    if (c >= 0xF0 && c <= 0xF9) return char16_t(0xE000 + (c - 0xF0) * 188 + column);
    uint32_t row = c <= 0x9F ? c - 0x81u : c <= 0xEF ? c - 0xE0u + 31 : c - 0xFAu + 47;
    return kCp932Decode[row][column];
}

// Shift-JIS code of a UTF-16 value into out; returns its length (1 or 2), or
// 0 when the value has no code.
uint32_t SjisEncode(uint32_t u, uint8_t out[2]) {
    if (u == 0 || u > 0xFFFF) return 0;
    if (u < 0x80) {
        out[0] = uint8_t(u);
        return 1;
    }
    if (u >= 0xFF61 && u <= 0xFF9F) {
        out[0] = uint8_t(u - 0xFEC0);
        return 1;
    }
    if (u >= 0xE000 && u <= 0xE757) {
        uint32_t q = (u - 0xE000) / 188, r = (u - 0xE000) % 188;
        out[0] = uint8_t(0xF0 + q);
        out[1] = uint8_t(r < 63 ? r + 0x40 : r + 0x41);
        return 2;
    }
    if (u == 0xF8F0) {
        out[0] = 0xA0;
        return 1;
    }
    if (u >= 0xF8F1 && u <= 0xF8F3) {
        out[0] = uint8_t(0xFD + (u - 0xF8F1));
        return 1;
    }
    if (u >= 0xD800 && u <= 0xF8FF) return 0;
    // Records of this low byte, sorted by high byte.
    uint32_t lo = kCp932EncodeIndex[u & 0xFF], hi = kCp932EncodeIndex[(u & 0xFF) + 1];
    uint8_t high = uint8_t(u >> 8);
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const uint8_t* rec = kCp932EncodeRecords[mid];
        if (rec[0] < high) {
            lo = mid + 1;
        } else if (rec[0] > high) {
            hi = mid;
        } else {
            out[0] = rec[1];
            out[1] = rec[2];
            return rec[2] ? 2 : 1;
        }
    }
    return 0;
}

// process-wide: scratch, written before each read
char g_sjisToUtf8Buffer[kCharConvSize];

}  // namespace

uint32_t Lib_Utf8SeqLen(const uint8_t* p) {
    uint32_t n;
    if (p[0] < 0x80) return 1;
    if (p[0] >= 0xC0 && p[0] <= 0xDF) n = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF) n = 3;
    else if (p[0] >= 0xF0 && p[0] <= 0xF7) n = 4;
    else return 0;
    for (uint32_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return n;
}

bool Lib_CharIsWide(const char* text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    if (Lib_Utf8SeqLen(p)) {
        uint32_t cp = Lib_CharCode(text);
        return cp >= 0x81 && !(cp >= 0xFF60 && cp <= 0xFF9F);
    }
    return p[0] >= 0x81 && !(p[0] >= 0xA0 && p[0] <= 0xDF);
}

uint32_t Lib_CharLen(const char* text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    if (uint32_t n = Lib_Utf8SeqLen(p)) return n;
    // Single bytes: below 0x81, the half-width range 0xA0-0xDF and 0xFD-0xFF
    // (as Lib_CharCode decodes them). A lead byte never takes the terminator
    // as its trail, so stepping by this length never passes a string's end.
    if (p[0] < 0x81 || (p[0] >= 0xA0 && p[0] <= 0xDF) || p[0] >= 0xFD) return 1;
    return p[1] ? 2 : 1;
}

uint32_t Lib_CharCode(const char* text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    uint32_t len;
    if (uint32_t n = Lib_Utf8SeqLen(p)) {
        // Forms the strict decoder refuses (overlong, surrogate, above
        // U+10FFFF) read as U+FFFD.
        uint32_t cp = Utf8Decode(p, n, &len);
        return len == n ? cp : kReplacement;
    }
    return SjisDecode(p, &len);
}

char* Lib_StrLowerSjis(char* str) {
    if (!str) return str;
    uint8_t* p = reinterpret_cast<uint8_t*>(str);
    while (*p) {
        if ((*p >= 0x81 && *p <= 0x9F) || *p >= 0xE0) {
            if (!p[1]) break;  // a lead byte at the end has no trail to skip
            p += 2;
            continue;
        }
        if (*p >= 'A' && *p <= 'Z') *p = uint8_t(*p + ('a' - 'A'));
        ++p;
    }
    return str;
}

void Lib_SjisToUtf16(const char* src, char16_t* out, size_t outSize) {
    if (!out || outSize < 2) return;
    size_t count = 0, limit = outSize / 2 - 1;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src ? src : "");
    while (count < limit) {
        uint32_t len;
        char16_t u = SjisDecode(p, &len);
        if (!u) break;
        out[count++] = u;
        p += len;
    }
    out[count] = 0;
}

void Lib_Utf16ToSjis(const char16_t* src, char* out) {
    if (!out) return;
    size_t pos = 0;
    for (; src && *src; ++src) {
        uint8_t code[2];
        uint32_t n = SjisEncode(*src, code);
        if (!n || pos + n > kCharConvSize - 1) break;
        std::memcpy(out + pos, code, n);
        pos += n;
    }
    out[pos] = 0;
}

void Lib_Utf8ToSjis(const char* src, size_t n, char* out) {
    if (n == 0 || !out) return;
    std::memset(out, 0, kCharConvSize);
    if (!src) return;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src);
    size_t in = 0, pos = 0;
    while (in < n && p[in]) {
        uint32_t len;
        uint8_t code[2];
        uint32_t k = SjisEncode(Utf8Decode(p + in, n - in, &len), code);
        if (!k || pos + k > kCharConvSize - 1) break;
        std::memcpy(out + pos, code, k);
        pos += k;
        in += len;
    }
}

const char* Lib_SjisToUtf8(const char* src) {
    return Lib_SjisToUtf8Buf(src, g_sjisToUtf8Buffer, sizeof g_sjisToUtf8Buffer);
}

char* Lib_SjisToUtf8Buf(const char* src, char* out, size_t outSize) {
    if (!out || outSize == 0) return out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src ? src : "");
    size_t pos = 0;
    for (;;) {
        uint32_t len;
        char16_t u = SjisDecode(p, &len);
        if (!u) break;
        uint8_t bytes[3];
        uint32_t k = Utf8Encode(u, bytes);
        if (pos + k > outSize - 1) break;
        std::memcpy(out + pos, bytes, k);
        pos += k;
        p += len;
    }
    out[pos] = 0;
    return out;
}

void Lib_PathGetName(const char* path, char* out, int32_t flag) {
    if (!out) return;
    out[0] = 0;
    if (!path || !path[0]) return;
    // The name starts after the last separator byte that starts a character
    // (a '\\' or '/' may be the trail byte of a two-byte Shift-JIS character).
    size_t len = std::strlen(path), start = 0;
    for (size_t i = 0; i < len; i += Lib_CharLen(path + i))
        if (path[i] == '\\' || path[i] == '/' || path[i] == '\t') start = i + 1;
    const char* name = path + start;
    size_t nameLen = len - start;
    const void* dot = flag ? std::memchr(name, '.', nameLen) : nullptr;
    if (!flag) {
        for (size_t i = nameLen; i > 0; --i)
            if (name[i - 1] == '.') {
                dot = name + i - 1;
                break;
            }
    }
    if (dot) nameLen = size_t(static_cast<const char*>(dot) - name);
    // Names of 256 bytes or more are cut to 255 on a character boundary.
    if (nameLen > 255) {
        size_t keep = 0;
        for (uint32_t n; keep < 255 && keep + (n = Lib_CharLen(name + keep)) <= 255;) keep += n;
        nameLen = keep;
    }
    std::memcpy(out, name, nameLen);
    out[nameLen] = 0;
}

namespace {

// The length of the whole UTF-8 character at p that a terminal shows as a
// character (U+00A0 and up, no overlong form, no surrogate, neither line
// separator), else 0.
uint32_t ShownCharLen(const uint8_t* p) {
    const uint8_t b = p[0];
    uint32_t n;
    uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (b == 0xC2) {
        n = 2;
        low = 0xA0;  // below are the C1 controls
    } else if (b >= 0xC3 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (p[1] < low || p[1] > high) return 0;
    // U+2028 and U+2029, the line and paragraph separators, break the line
    // in some terminals, as U+0085 (a C1 control) does.
    if (b == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) return 0;
    for (uint32_t k = 2; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

char* Lib_TextEscaped(const char* text, char* out, size_t outSize) {
    if (!outSize) return out;
    size_t n = 0;
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(text ? text : ""); *p;) {
        // Printable ASCII and whole characters as they are; any other byte
        // (a control, a byte of no whole character, Shift-JIS text) as \xNN,
        // read byte by byte so that no pairing hides what a terminal sees.
        const uint32_t len = *p >= 0x20 && *p < 0x7F ? 1 : ShownCharLen(p);
        if (!len) {
            if (n + 4 >= outSize) break;
            std::snprintf(out + n, 5, "\\x%02x", unsigned(*p));
            n += 4;
            ++p;
            continue;
        }
        if (n + len >= outSize) break;
        std::memcpy(out + n, p, len);
        n += len;
        p += len;
    }
    out[n] = 0;
    return out;
}
