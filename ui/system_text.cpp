#include "ui/system_text.h"

#include <cstring>

#include "engine/core/charcode.h"
#include "engine/text/font.h"

ModeFunction SysTextOptionScreen = nullptr;
ModeFunction SysTextMusicRoomScreen = nullptr;

namespace {

char RewriteBuffer[kMesTextSize];

// Appends n bytes when they fit below the last byte; false when they do not.
struct Appender {
    char* buf;
    size_t size;
    size_t len = 0;
    bool put(const char* s, size_t n) {
        if (len + n >= size) return false;
        std::memcpy(buf + len, s, n);
        len += n;
        buf[len] = 0;
        return true;
    }
};

// Writes the prefix and src into the rewrite buffer, whole characters only
// and within its size. src must not be the rewrite buffer.
void rewrite(const char* prefix, const char* src, bool substitute) {
    Appender a{RewriteBuffer, sizeof RewriteBuffer};
    RewriteBuffer[0] = 0;
    a.put(prefix, std::strlen(prefix));
    for (const char* p = src; *p;) {
        if (static_cast<unsigned char>(*p) < 0x80) {  // a plain byte
            if (a.len + 1 >= a.size) break;
            a.buf[a.len++] = *p++;
            continue;
        }
        if (substitute && (std::memcmp(p, "\xE2\x98\x86", 3) == 0 || std::memcmp(p, "\xE3\x83\xBB", 3) == 0)) {
            // A whole UTF-8 character at a character boundary: the star or the dot.
            if (!a.put(p[0] == '\xE2' ? "#Add[1]" : "#Add[0]", 7)) break;
            p += 3;
            continue;
        }
        uint32_t n = Lib_CharLen(p);
        const char* piece = p;
        size_t pieceLen = n;
        if (substitute && n == 3 && Lib_CharIsWide(p)) {
            if (std::memcmp(p, "\xE2\x98\x86", 3) == 0) piece = "#Add[1]", pieceLen = 7;
            else if (std::memcmp(p, "\xE3\x83\xBB", 3) == 0) piece = "#Add[0]", pieceLen = 7;
        }
        if (!a.put(piece, pieceLen)) break;
        p += n;
    }
    RewriteBuffer[a.len] = 0;
}

}  // namespace

const char* GSL_SysTextGet(const MesTable* table, uint32_t section, uint32_t index, int32_t, char* out,
                           uint32_t outSize) {
    int32_t lang = InterfaceLanguage;
    ModeFunction top = GSL_ModeTop();
    const bool sysgra = table == &SysgraMesTable;
    const bool optionLabel = sysgra && top && top == SysTextOptionScreen && section == 3 &&
                             (index == 5 || index == 6 || index == 21);
    const char* prefix = nullptr;
    bool substitute = false;
    if (lang == 0 || lang == 2 || lang == 3) {
        if (optionLabel) prefix = index == 21 ? "#Size[0.5,0.5]" : "#Size[0.4,0.4]";
    } else if (lang == 1) {
        if (optionLabel) prefix = index == 21 ? "#Size[0.4,0.5]" : "#Size[0.3,0.4]";
        else if (sysgra && top && top == SysTextMusicRoomScreen) substitute = true;
        else if (table == &ScriptMesTable && section == 2 && index >= 33449 && index <= 33460)
            prefix = "#Size[0.45,0.5]";
    }
    const char* text = Lib_MesGet(table, int32_t(section), int32_t(index), -1, out, outSize);
    if (!prefix && !substitute) return text;
    if (!text || !text[0]) {
        RewriteBuffer[0] = 0;
        if (out && outSize) out[0] = 0;
        return RewriteBuffer;
    }
    rewrite(prefix ? prefix : "", text, substitute);
    if (out && outSize) {
        // Within the caller's size, cut on a character boundary.
        size_t len = std::strlen(RewriteBuffer), n = len;
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
