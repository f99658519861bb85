#include "script/vars.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/core/util.h"
#include "engine/files/archive.h"
#include "script/args.h"
#include "script/replay.h"
#include "script/syntax.h"

namespace {

constexpr uint32_t kPartSize = 128;  // one operand, operator or target, terminator included
constexpr int32_t kListParts = 16;

// process-wide: a test seam (GSL_ScriptRandomSet)
ScriptRandomFn g_random = nullptr;
// process-wide: only ever compared with an earlier count
uint32_t g_draws = 0;

// A bounded text buffer: bytes past its room are ignored.
struct Part {
    char text[kPartSize] = {};
    uint32_t len = 0;
    void Put(const char* p, uint32_t n) {
        if (len + n >= kPartSize) {
            len = kPartSize - 1;  // full: later bytes are dropped
            return;
        }
        std::memcpy(text + len, p, n);
        len += n;
        text[len] = 0;
    }
};

uint32_t CharLen(const char* p) { return GSL_ScriptIsLead(uint8_t(p[0])) && p[1] ? 2 : 1; }

int32_t RefValue(const char* text) {
    const int8_t* v = GSL_VarRef(text);
    return v ? *v : 0;
}

// An operand: a reference, 0 for any other text holding '[', else the
// leading integer.
int32_t Operand(const char* text) {
    if (std::strchr(text, '[')) return text[0] == '[' ? RefValue(text) : 0;
    return GSL_ScriptAtoi(text, nullptr);
}

// Copies text into out (outSize bytes) without spaces and double quotes.
void Squeeze(const char* text, char* out, uint32_t outSize) {
    uint32_t n = 0;
    for (const char* p = text; *p;) {
        const uint32_t c = CharLen(p);
        if (c == 1 && (*p == ' ' || *p == '"')) {
            ++p;
            continue;
        }
        if (n + c >= outSize) break;
        std::memcpy(out + n, p, c);
        n += c;
        p += c;
    }
    out[n] = 0;
}

}  // namespace

void GSL_ScriptRandomSet(ScriptRandomFn fn) { g_random = fn; }

int32_t GSL_ScriptRand(int32_t a, int32_t b) {
    if (a > b) std::swap(a, b);
    ++g_draws;
    const uint32_t span = uint32_t(int64_t(b) - int64_t(a));
    const uint32_t r = g_random ? g_random(0, span) : Lib_Random(0, span);
    return int32_t(uint32_t(a) + (r > span ? span : r));
}

uint32_t GSL_ScriptRandDraws() { return g_draws; }

int8_t* GSL_VarRef(const char* text) {
    if (!text || text[0] != '[' || (text[1] != '0' && text[1] != '1' && text[1] != '2')) return nullptr;
    const int32_t n = GSL_ScriptAtoi(text + 1, nullptr);
    if (n >= 0 && n < 24) return &SystemDataBlock.systemVars[n];
    if (n >= 2000 && n < 2024) return &GameStateBlock.gameVars[n - 2000];
    return nullptr;
}

bool GSL_CondEval(const char* text) {
    if (!text) return false;
    Part left, op, right;
    auto isOp = [](char c) { return c == '<' || c == '=' || c == '>' || c == '!'; };
    int state = 0;  // 0 left, 1 operator run, 2 right
    for (const char* p = text; *p;) {
        const uint32_t c = CharLen(p);
        if (c == 1 && isOp(*p)) {
            op.Put(p, 1);
            if (state == 0) state = 1;
        } else if (state == 0) {
            left.Put(p, c);
        } else {
            right.Put(p, c);
            state = 2;
        }
        p += c;
    }
    int32_t l = GSL_ScriptAtoi(left.text, nullptr);
    if (std::strstr(left.text, "]+[")) {
        l = 0;
        for (const char* p = left.text; (p = std::strchr(p, '[')) != nullptr; ++p) l += RefValue(p);
    } else if (std::strchr(left.text, '[')) {
        l = RefValue(left.text);
    } else if (std::strcmp(left.text, "R18") == 0) {
        l = Lib_PcArcExists(2) ? 1 : 0;
    }
    int32_t r;
    if (std::strchr(right.text, '[')) r = RefValue(right.text);
    else if (std::strcmp(right.text, "true") == 0) r = 1;
    else if (std::strcmp(right.text, "false") == 0) r = 0;
    else r = GSL_ScriptAtoi(right.text, nullptr);

    if (op.len == 0) return l != 0;
    if (left.len == 0) return r == 0;
    const char* o = op.text;
    if (!std::strcmp(o, "==") || !std::strcmp(o, "=")) return l == r;
    if (!std::strcmp(o, "!=")) return l != r;
    if (!std::strcmp(o, ">=")) return l >= r;
    if (!std::strcmp(o, "<=")) return l <= r;
    if (!std::strcmp(o, ">")) return l > r;
    if (!std::strcmp(o, "<")) return l < r;
    return false;
}

bool GSL_CondEvalList(const char* text) {
    if (!text || !text[0]) return true;
    static char buf[kScriptWordSize];
    Squeeze(text, buf, sizeof buf);
    char* parts[kListParts];
    int32_t count = 0;
    bool orMode = false;
    char* start = buf;
    for (char* p = buf; *p && count < kListParts;) {
        if ((p[0] == '&' && p[1] == '&') || (p[0] == '|' && p[1] == '|')) {
            orMode = p[0] == '|';
            *p = 0;
            parts[count++] = start;
            p += 2;
            start = p;
            continue;
        }
        p += CharLen(p);
    }
    if (count < kListParts) parts[count++] = start;
    for (int32_t i = 0; i < count; ++i) {
        const bool v = GSL_CondEval(parts[i]);
        if (orMode && v) return true;
        if (!orMode && !v) return false;
    }
    return !orMode;
}

void GSL_ExprEval(const char* text) {
    if (!text) return;
    Part target, op, expr;
    auto isOp = [](char c) { return c == '+' || c == '-' || c == '='; };
    auto opDone = [&] {
        const char* o = op.text;
        return !std::strcmp(o, "=") || !std::strcmp(o, "+=") || !std::strcmp(o, "-=") || !std::strcmp(o, "++") ||
               !std::strcmp(o, "--");
    };
    int state = 0;  // 0 target, 1 operator, 2 expression
    for (const char* p = text; *p;) {
        const uint32_t c = CharLen(p);
        if (state == 0 && c == 1 && isOp(*p)) state = 1;
        if (state == 1 && (c != 1 || !isOp(*p) || opDone())) state = 2;
        (state == 0 ? target : state == 1 ? op : expr).Put(p, c);
        p += c;
    }
    const char* e = expr.text;
    int32_t value;
    if (std::strchr(e, '[')) {
        value = e[0] == '[' ? RefValue(e) : 0;
    } else if (!std::strcmp(e, "true")) {
        value = 1;
    } else if (!std::strcmp(e, "false")) {
        value = 0;
    } else if (!std::strncmp(e, "rand(", 5)) {
        const char* comma = std::strchr(e, ',');
        value = GSL_ScriptRand(GSL_ScriptAtoi(e + 5, nullptr), comma ? GSL_ScriptAtoi(comma + 1, nullptr) : 0);
    } else {
        value = GSL_ScriptAtoi(e, nullptr);
    }
    if (std::strpbrk(e, "+-")) {
        // A sum of operands, left to right.
        uint32_t sum = 0;
        bool minus = false;
        const char* piece = e;
        for (const char* p = e;; ++p) {
            if (*p && *p != '+' && *p != '-') continue;
            char one[kPartSize];
            const size_t n = size_t(p - piece);
            std::memcpy(one, piece, n);
            one[n] = 0;
            const uint32_t v = uint32_t(Operand(one));
            sum = minus ? sum - v : sum + v;
            if (!*p) break;
            minus = *p == '-';
            piece = p + 1;
        }
        value = int32_t(sum);
    }
    int8_t* var = GSL_VarRef(target.text);
    const uint32_t t = uint32_t(var ? *var : 0), v = uint32_t(value);
    uint32_t out = t;
    const char* o = op.text;
    if (!std::strcmp(o, "=")) out = v;
    else if (!std::strcmp(o, "+=")) out = t + v;
    else if (!std::strcmp(o, "-=")) out = t - v;
    else if (!std::strcmp(o, "++")) out = t + 1;
    else if (!std::strcmp(o, "--")) out = t - 1;
    if (var) *var = int8_t(uint8_t(out & 0xFF));
}

void GSL_ExprEvalList(const char* text) {
    if (!text) return;
    static char buf[kScriptWordSize];
    Squeeze(text, buf, sizeof buf);
    char* start = buf;
    int32_t count = 0;
    for (char* p = buf; count < kListParts;) {
        if (*p && *p != '&') {
            p += CharLen(p);
            continue;
        }
        const bool last = !*p;
        *p = 0;
        GSL_ExprEval(start);
        ++count;
        if (last) break;
        start = ++p;
    }
}

// --- Block skips -------------------------------------------------------------

namespace {

// A tag text and its numeric form ("<endif>" and "<123>").
struct TagForm {
    const char* text;
    char numeric[80];
};

TagForm FormOf(const char* tag) {
    TagForm f{tag, {}};
    const int32_t index = GSL_ScriptCommandFind(tag);
    const char* rest = tag + std::strcspn(tag, " >");
    if (index >= 0 && std::strlen(rest) < 40) std::snprintf(f.numeric, sizeof f.numeric, "<%d%s", int(index), rest);
    return f;
}

bool Begins(const char* text, uint32_t len, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return n > 0 && n <= len && std::memcmp(text, prefix, n) == 0;
}
bool BeginsForm(const char* text, uint32_t len, const TagForm& f) {
    return Begins(text, len, f.text) || (f.numeric[0] && Begins(text, len, f.numeric));
}

// The tag at '<' offset at, copied up to its '>' and lower-cased up to the
// first space. False when a NUL or the end comes first. *space is the copy's
// length up to and with its first space (0 when none).
bool CopyTag(const ScriptState* s, uint32_t at, char* out, uint32_t* len, uint32_t* end, uint32_t* space) {
    static_assert(kScriptTagSize > 1);
    const uint8_t* t = reinterpret_cast<const uint8_t*>(s->text);
    uint32_t n = 0;
    bool lower = true;
    *space = 0;
    for (uint32_t i = at; i < s->size; ++i) {
        uint8_t b = t[i];
        if (b == 0) return false;
        if (lower && b == ' ') {
            lower = false;
            if (n < kScriptTagSize - 1) *space = n + 1;
        }
        if (lower && b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
        if (n < kScriptTagSize - 1) out[n++] = char(b);
        if (b == '>') {
            out[n] = 0;
            *len = n;
            *end = i + 1;
            return true;
        }
    }
    return false;
}

// The next tag at or after from that begins with one of the forms, or -1.
int32_t FindForward(const ScriptState* s, uint32_t from, const TagForm* forms, int32_t count) {
    static char tag[kScriptTagSize];
    uint32_t len = 0, end = 0, space = 0;
    for (uint32_t i = from; i < s->size;) {
        if (s->text[i] != '<') {
            ++i;
            continue;
        }
        if (!CopyTag(s, i, tag, &len, &end, &space)) {
            ++i;
            continue;
        }
        for (int32_t k = 0; k < count; ++k)
            if (BeginsForm(tag, len, forms[k])) return int32_t(i);
        i = end;
    }
    return -1;
}

// Openings (exact bytes) at offsets in [from, to).
int32_t CountOpenings(const ScriptState* s, uint32_t from, uint32_t to, const TagForm& open) {
    int32_t k = 0;
    if (to > s->size) to = s->size;
    for (uint32_t p = from; p < to; ++p)
        if (s->text[p] == '<' && BeginsForm(s->text + p, s->size - p, open)) ++k;
    return k;
}

}  // namespace

int32_t GSL_IfSkip(ScriptState* script, int32_t start, int32_t direction, const char* const* tags, int32_t count) {
    if (!script || !script->text) return -1;
    if (start >= 0) {
        script->nextOffset = uint32_t(start);
        return start;
    }
    TagForm forms[8];
    if (count > 8) count = 8;
    for (int32_t k = 0; k < count; ++k) forms[k] = FormOf(tags[k]);
    int32_t found = -1;
    if (direction == -1) {
        static char tag[kScriptTagSize];
        uint32_t len = 0, end = 0, space = 0;
        for (int64_t i = script->nextOffset < script->size ? script->nextOffset : int64_t(script->size) - 1;
             i >= 0 && found < 0; --i) {
            if (script->text[i] != '<' || !CopyTag(script, uint32_t(i), tag, &len, &end, &space)) continue;
            for (int32_t k = 0; k < count && found < 0; ++k)
                if (BeginsForm(tag, len, forms[k])) found = int32_t(i);
        }
    } else {
        found = FindForward(script, direction == 1 ? script->nextOffset : 0, forms, count);
    }
    if (found >= 0) script->nextOffset = uint32_t(found);
    return found;
}

int32_t GSL_IfSkip2(ScriptState* script, const char* const* tags, int32_t count) {
    if (!script || !script->text || count < 2) return -1;
    TagForm forms[8];
    if (count > 8) count = 8;
    for (int32_t k = 0; k < count; ++k) forms[k] = FormOf(tags[k]);
    const TagForm& open = forms[0];
    static char tag[kScriptTagSize];
    uint32_t len = 0, end = 0, space = 0;
    for (uint32_t i = script->nextOffset; i < script->size;) {
        if (script->text[i] != '<' || !CopyTag(script, i, tag, &len, &end, &space)) {
            ++i;
            continue;
        }
        if (space && BeginsForm(tag, space, open)) {
            // A nested block: count the closings it needs.
            uint32_t from = i + 1;
            int32_t e = FindForward(script, from, &forms[1], 1);
            if (e >= 0) script->nextOffset = uint32_t(e);
            int32_t k = e < 0 ? 0 : CountOpenings(script, from, uint32_t(e), open);
            while (k > 0 && e >= 0) {
                for (int32_t j = 0; j < k && e >= 0; ++j) {
                    from = uint32_t(e) + 1;
                    e = FindForward(script, from, &forms[1], 1);
                    if (e >= 0) script->nextOffset = uint32_t(e);
                }
                k = e < 0 ? 0 : CountOpenings(script, from, uint32_t(e), open);
            }
            // An unclosed nested block ends the skip.
            if (e < 0) return -1;
            i = uint32_t(e) + 1;
            continue;
        }
        for (int32_t k = 1; k < count; ++k) {
            if (BeginsForm(tag, len, forms[k])) {
                script->nextOffset = i;
                return int32_t(i);
            }
        }
        i = end;
    }
    return -1;
}

void GSL_CmdEval(CommandContext* ctx) {
    if (GSL_ReplayModeGet(ctx) == REPLAY_SILENT) return;
    static char text[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 0, text, sizeof text);
    GSL_ExprEvalList(text);
}

void GSL_CmdClearVar(CommandContext* ctx) {
    // As eval: the silent run passes it, the main run of a replay acts at
    // once (recording it would undo the statements that follow it).
    if (GSL_ReplayModeGet(ctx) == REPLAY_SILENT) return;
    std::memset(GameStateBlock.gameVars, 0, sizeof GameStateBlock.gameVars);
}

void GSL_CmdIf(CommandContext* ctx) {
    static char cond[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 0, cond, sizeof cond);
    if (GSL_CondEvalList(cond)) return;
    static const char* const kTags[] = {"<if ", "<endif>", "<elseif ", "<else>"};
    GSL_IfSkip2(ctx->script, kTags, 4);
}

void GSL_CmdJumpEndif(CommandContext* ctx) {
    static const char* const kTags[] = {"<if ", "<endif>"};
    GSL_IfSkip2(ctx->script, kTags, 2);
}
