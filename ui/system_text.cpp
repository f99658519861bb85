#include "ui/system_text.h"

#include <cstdint>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/text/font.h"


namespace {

// process-wide: scratch, written before each read
char RewriteBuffer[kMesTextSize];

// The add-on glyph tag that stands for the star (U+2606) or the middle dot
// (U+30FB) at p, or null.
inline const char* glyphTag(const char* p) {
    if (p[0] == '\xE2' && p[1] == '\x98' && p[2] == '\x86') return "#Add[1]";
    if (p[0] == '\xE3' && p[1] == '\x83' && p[2] == '\xBB') return "#Add[0]";
    return nullptr;
}

// Writes the prefix and src into the rewrite buffer, whole characters only
// and within its size, and returns the length written. The walk stops at
// the first piece that does not fit, so nothing is produced that the cut
// would throw away. src must not be the rewrite buffer.
size_t rewrite(const char* prefix, const char* src, bool substitute) {
    constexpr size_t kRoom = sizeof RewriteBuffer - 1;  // the terminator's byte stays free
    char* out = RewriteBuffer;
    size_t len = std::strlen(prefix);
    if (len > kRoom) len = 0;
    std::memcpy(out, prefix, len);
    const char* p = src;
    const char* const end = src + std::strlen(src);
    for (;;) {
        // A run of plain bytes goes in one copy, cut at the room left.
        const char* run = p;
        while (static_cast<unsigned char>(*p) - 1u < 0x7Fu) ++p;
        if (const size_t n = size_t(p - run)) {
            if (n > kRoom - len) {
                std::memcpy(out + len, run, kRoom - len);
                len = kRoom;
                break;
            }
            std::memcpy(out + len, run, n);
            len += n;
        }
        if (!*p) break;
        // One character at a character boundary: the star or the dot become
        // their tags, anything else is copied whole.
        if (const char* tag = substitute ? glyphTag(p) : nullptr) {
            // A row of the same character (a line of stars): four, then two
            // at a time by 8-byte compares while the string and the room
            // allow, then one at a time.
            const char c0 = p[0], c1 = p[1], c2 = p[2];
            const char pattern[8] = {c0, c1, c2, c0, c1, c2, c0, c1};
            uint64_t pair;
            std::memcpy(&pair, pattern, 8);
            char tags[28];
            for (int i = 0; i < 4; ++i) std::memcpy(tags + 7 * i, tag, 7);
            while (end - p >= 13 && len + 28 <= kRoom) {  // four at a time
                uint64_t v, w;
                std::memcpy(&v, p, 8);
                std::memcpy(&w, p + 6, 8);
                if (v != pair || w != pair) break;
                std::memcpy(out + len, tags, 28);
                len += 28;
                p += 12;
            }
            while (end - p >= 7 && len + 14 <= kRoom) {  // p[0..7] within the string and its terminator
                uint64_t v;
                std::memcpy(&v, p, 8);
                if (v != pair) break;
                std::memcpy(out + len, tags, 14);
                len += 14;
                p += 6;
            }
            bool full = false;
            while (p[0] == c0 && p[1] == c1 && p[2] == c2) {
                if (len + 7 > kRoom) {
                    full = true;
                    break;
                }
                std::memcpy(out + len, tag, 7);
                len += 7;
                p += 3;
            }
            if (full) break;
            continue;
        }
        const uint32_t c = Lib_CharLen(p);
        if (len + c > kRoom) break;
        std::memcpy(out + len, p, c);
        len += c;
        p += c;
    }
    out[len] = 0;
    return len;
}

}  // namespace

const char* GSL_SysTextGet(const MesTable* table, uint32_t section, uint32_t index, int32_t, char* out,
                           uint32_t outSize) {
    int32_t lang = InterfaceLanguage;
    ModeFunction top = GSL_ModeTop();
    const bool sysgra = table == &SysgraMesTable;
    const bool optionLabel = sysgra && top && top == GSL_ScreenOf(SCREEN_OPTION) && section == 3 &&
                             (index == 5 || index == 6 || index == 21);
    const char* prefix = nullptr;
    bool substitute = false;
    if (lang == 0 || lang == 2 || lang == 3) {
        if (optionLabel) prefix = index == 21 ? "#Size[0.5,0.5]" : "#Size[0.4,0.4]";
    } else if (lang == 1) {
        if (optionLabel) prefix = index == 21 ? "#Size[0.4,0.5]" : "#Size[0.3,0.4]";
        else if (sysgra && top && top == GSL_ScreenOf(SCREEN_MUSIC_ROOM)) substitute = true;
        else if (table == &ScriptMesTable && section == 2 && index >= 33449 && index <= 33460)
            prefix = "#Size[0.45,0.5]";
    }
    if (!prefix && !substitute) return Lib_MesGet(table, int32_t(section), int32_t(index), -1, out, outSize);
    // The caller's buffer gets the rewritten text only.
    const char* text = Lib_MesGet(table, int32_t(section), int32_t(index), -1, nullptr, 0);
    if (!text || !text[0]) {
        RewriteBuffer[0] = 0;
        if (out && outSize) out[0] = 0;
        return RewriteBuffer;
    }
    const size_t len = rewrite(prefix ? prefix : "", text, substitute);
    if (out && outSize) {
        // Within the caller's size, cut on a character boundary.
        size_t n = len;
        if (len >= outSize) {
            n = 0;
            for (const char* p = RewriteBuffer; *p;) {
                uint32_t c = Lib_CharLen(p);
                if (n + c >= outSize) break;
                n += c;
                p += c;
            }
        }
        std::memcpy(out, RewriteBuffer, n);
        out[n] = 0;
    }
    return RewriteBuffer;
}
