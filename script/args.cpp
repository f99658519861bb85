#include "script/args.h"

#include <cmath>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/util.h"
#include "engine/files/message_table.h"
#include "engine/render/sprite.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/syntax.h"
#include "ui/system_text.h"

namespace {

// Lower-cases ASCII letters among the first n bytes, stepping over the second
// byte of a Shift-JIS pair.
void LowerPrefix(char* s, size_t n) {
    for (size_t i = 0; i < n && s[i]; ++i) {
        const uint8_t b = uint8_t(s[i]);
        if ((b >= 0x81 && b <= 0x9F) || b >= 0xE0) {
            if (!s[i + 1]) break;
            ++i;
        } else if (b >= 'A' && b <= 'Z') {
            s[i] = char(b + 32);
        }
    }
}

// Copies src (srcLen bytes) into out, cut to outSize - 1 bytes on a
// character boundary, and terminates it.
void CopyCut(const char* src, size_t srcLen, char* out, uint32_t outSize) {
    if (!out || !outSize) return;
    size_t k = 0;
    while (k < srcLen && src[k]) {
        const uint32_t len = Lib_CharLen(src + k);
        if (k + len > srcLen || k + len >= outSize) break;
        k += len;
    }
    std::memmove(out, src, k);
    out[k] = 0;
}

// Strips one pair of enclosing double quotes.
void StripQuotes(const char** text, size_t* len) {
    if (*len >= 2 && (*text)[0] == '"' && (*text)[*len - 1] == '"') {
        ++*text;
        *len -= 2;
    }
}

bool ArgEmpty(const CommandContext* ctx, int32_t i) {
    const char* p = ctx->args[i];
    const ScriptState* s = ctx->script;
    if (!s) return true;
    const char* begin = s->text;
    uint32_t size = s->size;
    GSL_ReplayArgSpan(ctx, &begin, &size);
    if (!p || !begin || p < begin || p >= begin + size) return true;
    return *p == ' ' || *p == ',' || *p == '>';
}

}  // namespace

int32_t GSL_ScriptAtoi(const char* text, uint32_t* used) {
    uint32_t i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (text[i] < '0' || text[i] > '9') {
        if (used) *used = 0;
        return 0;
    }
    int64_t v = 0;
    for (; text[i] >= '0' && text[i] <= '9'; ++i)
        if (v <= int64_t(INT32_MAX) + 1) v = v * 10 + (text[i] - '0');
    if (used) *used = i;
    if (negative) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

void GSL_ArgGet(const CommandContext* ctx, const char* name, int32_t pos, char* out, uint32_t outSize) {
    if (!out || !outSize) return;
    out[0] = 0;
    if (!ctx) return;
    static char word[kScriptWordSize];
    if (name && name[0]) {
        char key[64];
        const size_t n = std::strlen(name);
        if (n < sizeof key) {
            std::memcpy(key, name, n + 1);
            LowerPrefix(key, n);
            for (int32_t i = ctx->argCount - 1; i >= 0; --i) {
                if (ArgEmpty(ctx, i)) continue;
                const uint32_t full = GSL_ScriptArgWord(ctx, i, word, sizeof word);
                const size_t have = std::strlen(word);
                if (have <= n || word[n] != ':') continue;
                LowerPrefix(word, n);
                if (std::memcmp(word, key, n) != 0) continue;
                const char* value = word + n + 1;
                size_t len = have - n - 1;
                // A word cut by the buffer has lost its closing quote.
                if (full == have) StripQuotes(&value, &len);
                CopyCut(value, len, out, outSize);
                break;
            }
        }
    }
    if (out[0] || pos < 0 || pos >= ctx->argCount || ArgEmpty(ctx, pos)) return;
    const uint32_t full = GSL_ScriptArgWord(ctx, pos, word, sizeof word);
    const char* value = word;
    size_t len = std::strlen(word);
    if (full == len) StripQuotes(&value, &len);
    CopyCut(value, len, out, outSize);
}

int32_t GSL_ArgGetInt(const CommandContext* ctx, const char* name, int32_t pos) {
    char text[256];
    GSL_ArgGet(ctx, name, pos, text, sizeof text);
    if (!text[0]) return kScriptMissing;
    const size_t len = std::strlen(text);

    // Operators are + - * / anywhere but the first byte; at most three count.
    size_t opAt[3];
    int ops = 0;
    size_t end = len;
    for (size_t i = 1; i < len; ++i) {
        const char c = text[i];
        if (c != '+' && c != '-' && c != '*' && c != '/') continue;
        if (ops == 3) {
            end = i;
            break;
        }
        opAt[ops++] = i;
    }
    if (ops == 0) return GSL_ScriptAtoi(text, nullptr);

    auto operand = [&](size_t from, size_t to) {
        char buf[32];
        size_t n = to - from < sizeof buf - 1 ? to - from : sizeof buf - 1;
        std::memcpy(buf, text + from, n);
        buf[n] = 0;
        return GSL_ScriptAtoi(buf, nullptr);
    };
    int32_t result = operand(0, opAt[0]);
    for (int k = 0; k < ops; ++k) {
        const size_t from = opAt[k] + 1;
        const size_t to = k + 1 < ops ? opAt[k + 1] : end;
        const int32_t v = operand(from, to);
        const uint32_t a = uint32_t(result), b = uint32_t(v);
        switch (text[opAt[k]]) {
            case '+': result = int32_t(a + b); break;
            case '-': result = int32_t(a - b); break;
            case '*': result = int32_t(a * b); break;
            default:
                if (v == 0) result = 0;
                else if (result == INT32_MIN && v == -1) result = INT32_MIN;
                else result /= v;
        }
    }
    return result;
}

float GSL_Scale43f(float value, float override) {
    if (override != 9999.0f) return override;
    return std::ceil(value * 1.3333334f);
}

int32_t GSL_Scale43i(int32_t value, int32_t override) {
    if (override != 9999) return override;
    return Lib_Size43(value);
}

namespace {

int32_t Trunc(float v) {
    if (!(v > -2147483520.0f)) return v != v ? 0 : INT32_MIN;
    if (!(v < 2147483520.0f)) return INT32_MAX;
    return int32_t(v);
}

// The live sprite in a story layer slot, or null.
const SpriteRecord* LayerSprite(int32_t layerSlot) {
    const int32_t id = GSL_ScriptStoryLayerSprite(layerSlot);
    return Lib_SpriteIsLive(id) ? Lib_SpriteAt(id) : nullptr;
}

}  // namespace

ScriptPos GSL_PosToScreen(int32_t base, int32_t layer, ScriptPos pos, float sx, float sy) {
    int32_t w = 0, h = 0;
    if (const SpriteRecord* s = LayerSprite(base + layer)) {
        w = s->textureWidth ? s->textureWidth : s->imageWidth;
        h = s->textureHeight ? s->textureHeight : s->imageHeight;
    }
    const int32_t ws = Trunc(float(w) * sx), hs = Trunc(float(h) * sy);
    ScriptPos r{0, 0, pos.z};
    if (pos.x == -9999.0f) {
        if (layer == 10) {
            r.x = 0;
        } else if (layer >= 0 && layer <= 9) {
            const SpriteRecord* s = LayerSprite(layer);
            r.x = s ? s->posX : 0.0f;
        } else {
            r.x = float(int64_t(0) - 640 + ws / 2);
        }
    } else {
        r.x = float(int64_t(Trunc(pos.x)) - 640 + ws / 2);
    }
    if (pos.y == -9999.0f && layer == 10) r.y = 0;
    else r.y = float(360 - int64_t(pos.y == -9999.0f ? 0 : Trunc(pos.y)) - hs / 2);
    return r;
}

int32_t GSL_CharaIndexFromName(const char* name) {
    static constexpr char kSuffix[13][32] = {"_dova", "_quorin", "_pemble", "_lirra", "_sefa",
                                             "_varo", "_arlo",   "_tiln",   "_welm",  "_fennick",
                                             "_zastrell", "_gub", "_*"};
    if (!name || !name[0]) return 12;
    char copy[256];
    CopyCut(name, std::strlen(name), copy, sizeof copy);
    LowerPrefix(copy, sizeof copy);
    const char* u = std::strchr(copy, '_');
    if (!u) return 12;
    for (int32_t k = 0; k < 13; ++k) {
        const char* s = kSuffix[k];
        size_t i = 0;
        for (; s[i]; ++i)
            if (!u[i] || (s[i] != '*' && s[i] != u[i])) break;
        if (!s[i]) return k;
    }
    return 12;
}

void GSL_NameCut(const char* text, char* out, uint32_t outSize) {
    if (!out || !outSize) return;
    out[0] = 0;
    if (!text) return;
    size_t k = 0;
    while (text[k] && text[k] != '=') k += Lib_CharLen(text + k);
    CopyCut(text, k, out, outSize);
}

void GSL_TextIdExpand(const char* in, char* out, uint32_t outSize) {
    static constexpr char kKeys[4][16] = {"NAME_", "SELECT_", "TEXT_", "SYSTEM_"};
    if (!out || !outSize) return;
    out[0] = 0;
    if (!in) return;
    size_t len = 0;
    bool full = false;
    auto append = [&](const char* s, size_t n) {
        if (full) return;
        size_t k = 0;
        while (k < n && s[k]) {
            const uint32_t c = Lib_CharLen(s + k);
            if (k + c > n || len + k + c >= outSize) {
                full = len + k + c >= outSize;
                break;
            }
            k += c;
        }
        std::memcpy(out + len, s, k);
        len += k;
        out[len] = 0;
    };
    static char text[kMesTextSize];
    static char name[256];
    size_t i = 0;
    while (in[i] && !full) {
        int32_t key = -1;
        uint32_t used = 0;
        int32_t n = 0;
        for (int32_t k = 0; k < 4 && key < 0; ++k) {
            const size_t kl = std::strlen(kKeys[k]);
            if (std::strncmp(in + i, kKeys[k], kl) != 0) continue;
            n = GSL_ScriptAtoi(in + i + kl, &used);
            if (used) {
                key = k;
                used += uint32_t(kl);
            }
        }
        if (key < 0) {
            append(in + i, Lib_CharLen(in + i));
            i += Lib_CharLen(in + i);
            continue;
        }
        if (key == 3) {
            GSL_SysTextGet(nullptr, uint32_t(n / 1000), uint32_t(n % 1000), -1, text, sizeof text);
        } else {
            GSL_SysTextGet(&ScriptMesTable, uint32_t(key), uint32_t(n), -1, text, sizeof text);
            if (key == 0) {
                GSL_NameCut(text, name, sizeof name);
                std::strcpy(text, name);
            }
        }
        append(text, std::strlen(text));
        i += used;
    }
}
