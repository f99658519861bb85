#include "story/line_text.h"

#include <cstring>

#include "engine/core/charcode.h"
#include "engine/files/container.h"
#include "engine/files/message_table.h"
#include "script/args.h"
#include "script/markup.h"
#include "script/script_state.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "story/game_state.h"
#include "ui/screen_slots.h"
#include "ui/system_text.h"

char QuickCaption[kQuickCaptionSize] = {};

namespace {
constexpr int32_t kCmdKeywait = 12;
constexpr int32_t kCmdMenustart = 116;
constexpr int32_t kTexts = 8;
constexpr uint32_t kCleanScan = 1534;

// The private interpreter state and the working buffers (about 22 KB, off
// the stack; game thread only). The running script's state is never touched.
struct LineWork {
    ScriptTaskWork task;
    StageRecord stage;
    char tag[kScriptTagSize];
    char name[kLineTextSize];
    char texts[kTexts][kLineTextSize];
    char voice[kLineVoiceSize];
    char expand[kLineTextSize];
    char join[kMarkupSize];
    char converted[kMarkupSize];
    char result[kLineTextSize];
};
// process-wide: scratch, written before each read
LineWork g_work;

// A growing string of cap bytes (terminator included), cut on a character
// boundary: once a character does not fit, nothing more goes in.
struct Out {
    char* buf;
    uint32_t cap;
    uint32_t len = 0;
    bool full = false;
    Out(char* b, uint32_t c) : buf(b), cap(c) { buf[0] = 0; }
    void Put(const char* s, uint32_t n) {
        if (full || len + n >= cap) {
            full = true;
            return;
        }
        std::memcpy(buf + len, s, n);
        len += n;
        buf[len] = 0;
    }
    // A NUL-terminated string, character by character.
    void PutText(const char* s) {
        while (*s && !full) {
            const uint32_t n = Lib_CharLen(s);
            uint32_t k = 0;
            while (k < n && s[k]) ++k;
            Put(s, k);
            s += k;
        }
    }
};

bool Narrow(const char* c, char ch) { return *c == ch && Lib_CharLen(c) == 1 && !Lib_CharIsWide(c); }

// The member's view: text and size.
struct Member {
    const char* text;
    uint32_t size;
    bool At(uint32_t p, const char* word) const {
        const size_t n = std::strlen(word);
        return p <= size && size - p >= n && std::memcmp(text + p, word, n) == 0;
    }
};

// The bytes of an argument from `from` up to '>' (or the end of the member)
// into out, double quotes left out, a Shift-JIS lead byte with its trail.
void CopyArgument(const Member& m, uint32_t from, char* out, uint32_t cap) {
    Out o(out, cap);
    for (uint32_t i = from; i < m.size && m.text[i] != '>' && m.text[i] && !o.full;) {
        const uint8_t b = uint8_t(m.text[i]);
        if (GSL_ScriptIsLead(b)) {
            if (i + 1 >= m.size) break;
            o.Put(m.text + i, 2);
            i += 2;
            continue;
        }
        if (b != '"') o.Put(m.text + i, 1);
        ++i;
    }
}

// The voice tag's second argument: after its first comma up to the next comma
// or '>' (or the end of the member), quotes kept.
void CopyVoice(const Member& m, uint32_t from, char* out, uint32_t cap) {
    Out o(out, cap);
    uint32_t i = from;
    while (i < m.size && m.text[i] != ',' && m.text[i] != '>' && m.text[i]) i += GSL_ScriptIsLead(uint8_t(m.text[i])) ? 2 : 1;
    if (i >= m.size || m.text[i] != ',') return;
    for (++i; i < m.size && m.text[i] != ',' && m.text[i] != '>' && m.text[i] && !o.full;) {
        const uint32_t n = GSL_ScriptIsLead(uint8_t(m.text[i])) ? 2 : 1;
        if (i + n > m.size) break;
        o.Put(m.text + i, n);
        i += n;
    }
}

void Expand(char* buf, bool raw, bool cut) {
    if (raw) return;
    GSL_TextIdExpand(buf, g_work.expand, sizeof g_work.expand);
    if (cut)
        GSL_NameCut(g_work.expand, buf, kLineTextSize);
    else
        std::memcpy(buf, g_work.expand, std::strlen(g_work.expand) + 1);
}

struct Scan {
    int32_t texts = 0;
    uint32_t voices = 0;
};

// Rule of a "<keywait " met before any text: look further back for a
// "<text " whose following line is not a keywait line. Its offset, or 0.
uint32_t TextBehindKeywait(const Member& m, uint32_t p) {
    uint32_t s = p;
    for (uint32_t q = p; q >= 1; --q) {
        if (m.At(q, "<text ") && !m.At(s, "<keywait ")) return q;
        if (m.At(q, "\r\n<")) s = q + 2;
    }
    return 0;
}

// The backward scan from the tag at `from` down to offset 1.
void ScanBack(const Member& m, uint32_t from, char (*voices)[kLineVoiceSize], uint32_t voiceCapacity, bool raw,
              Scan* sc) {
    uint32_t p = from;
    while (p >= 1) {
        if (m.At(p, "<keywait ")) {
            if (sc->texts > 0) return;
            const uint32_t q = TextBehindKeywait(m, p);
            if (!q) return;
            p = q;
            continue;
        }
        if (m.At(p, "<name ")) {
            CopyArgument(m, p + 6, g_work.name, sizeof g_work.name);
            Expand(g_work.name, raw, true);
        } else if (m.At(p, "<text ") && sc->texts < kTexts) {
            char* t = g_work.texts[sc->texts++];
            CopyArgument(m, p + 6, t, kLineTextSize);
            Expand(t, raw, false);
        } else if (m.At(p, "<voice ") && !g_work.voice[0]) {
            CopyVoice(m, p + 7, g_work.voice, sizeof g_work.voice);
            if (voices && g_work.voice[0]) {
                if (sc->voices < voiceCapacity) {
                    std::memcpy(voices[sc->voices], g_work.voice, std::strlen(g_work.voice) + 1);
                    ++sc->voices;
                }
                g_work.voice[0] = 0;
            }
        }
        --p;
    }
}

// Drops a tag at c through its closing bracket (or the end); returns past it.
const char* SkipTag(const char* c, const char* end, Out* keep) {
    while (c < end && *c) {
        const uint32_t n = Lib_CharLen(c);
        const bool close = Narrow(c, ']');
        if (keep) keep->Put(c, n);
        c += n;
        if (close) break;
    }
    return c;
}

// The converted text cleaned of tags by the flags, then its leading breaks
// and ideographic spaces removed.
void Clean(const char* in, char* out, uint32_t flags) {
    Out o(g_work.result, sizeof g_work.result);
    const size_t inLen = std::strlen(in);
    const char* end = in + (inLen < kCleanScan ? inLen : kCleanScan);
    for (const char* c = in; c < end && *c && !o.full;) {
        if (Narrow(c, '#') && c + 1 < end && c[1] && Narrow(c + 1, c[1])) {
            if (c[1] == 'n') {
                if (flags & LINE_BREAKS) o.Put(c, 2);
                c += 2;
            } else if (!std::strncmp(c, "#Add[", 5)) {
                c = SkipTag(c, end, (flags & LINE_ADD) ? &o : nullptr);
            } else if (!std::strncmp(c, "#Awt[", 5) && (flags & LINE_BREAKS)) {
                o.Put("#Pos[", 5);
                c = SkipTag(c + 5, end, &o);
            } else {
                c = SkipTag(c, end, nullptr);
            }
            continue;
        }
        uint32_t n = Lib_CharLen(c);
        if (c + n > end) break;
        o.Put(c, n);
        c += n;
    }
    const char* r = g_work.result;
    for (;;) {
        if (r[0] == '#' && r[1] == 'n') r += 2;
        else if (*r && !GSL_CharMatch(r, "\u3000")) r += Lib_CharLen(r);
        else break;
    }
    std::memmove(out, r, std::strlen(r) + 1);
}
}  // namespace

int32_t GSL_ScriptLineText(uint32_t line, char* name, char* text, char (*voices)[kLineVoiceSize],
                           uint32_t voiceCapacity, uint32_t flags) {
    if (!name || !text) return -1;
    name[0] = text[0] = 0;
    const GameState& gs = GameStateBlock;
    if (line >= gs.readLineCount || line >= kReadLineSize) return -1;
    const uint32_t pos = gs.readLinePos[line];
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const ArcView* arc = GSL_ScriptArcGet();
    if (!arc || !Lib_ArcGetData(arc, nullptr, int32_t(pos >> 20), &data, &size) || !data) return -1;
    const Member m{reinterpret_cast<const char*>(data), size};

    // The private interpreter state at the line's position.
    LineWork& w = g_work;
    std::memset(&w.task, 0, sizeof w.task);
    ScriptState& s = w.task.script;
    s.text = m.text;
    s.size = m.size;
    s.readOffset = s.nextOffset = pos & 0xFFFFF;
    s.command = s.prevCommand = -1;
    s.status = SCRIPT_STARTED;
    w.task.context.script = &s;
    w.task.context.stage = &w.stage;
    GSL_StageRecordReset(&w.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    w.tag[0] = 0;
    GSL_ScriptArgsReset(&s);

    GSL_ScriptSkipToTag(&s);
    uint32_t next = 0;
    if (s.readOffset >= m.size || !GSL_ScriptTagCut(&s, w.tag, &w.task.context, &next)) return -1;
    const int32_t command = GSL_ScriptCommandFind(w.tag);
    const bool raw = flags & LINE_RAW;
    if (command == kCmdMenustart) {
        if (raw)
            std::memcpy(name, "SYSTEM_2006", sizeof "SYSTEM_2006");
        else
            GSL_SysTextGet(nullptr, 2, 6, 0, name, kLineTextSize);
        return 1;
    }
    if (command != kCmdKeywait) return -1;

    w.name[0] = w.voice[0] = 0;
    for (auto& t : w.texts) t[0] = 0;
    Scan sc;
    if (s.readOffset >= 1) ScanBack(m, s.readOffset - 1, voices, voiceCapacity, raw, &sc);

    // Oldest first: the texts were collected from the nearest back.
    Out join(w.join, sizeof w.join);
    for (int32_t i = sc.texts - 1; i >= 0; --i) join.PutText(w.texts[i]);
    GSL_TextToMarkup(&w.task.context, w.join, w.converted, sizeof w.converted, (flags & LINE_INDENT) != 0, -1.0f,
                     0.4f);
    Clean(w.converted, text, flags);
    std::memcpy(name, w.name, std::strlen(w.name) + 1);
    return 0;
}

int32_t GSL_ScriptLineTextInto(uint32_t line, char* name, uint32_t nameSize, char* text, uint32_t textSize,
                               uint32_t flags) {
    if (!name || !text || nameSize == 0 || textSize == 0) return -1;
    if (nameSize >= kLineTextSize && textSize >= kLineTextSize)
        return GSL_ScriptLineText(line, name, text, nullptr, 0, flags);
    static char fullName[kLineTextSize], fullText[kLineTextSize];
    const int32_t r = GSL_ScriptLineText(line, fullName, fullText, nullptr, 0, flags);
    GSL_WorkNameCopy(name, nameSize, fullName);
    GSL_WorkNameCopy(text, textSize, fullText);
    return r;
}

void GSL_QuickBuildPreviewText(char* out, uint32_t outSize) {
    if (!out || !outSize) return;
    Out o(out, outSize);
    static const struct {
        const char* key;
        int32_t section;  // -1: a system text
    } kKeys[] = {{"NAME_", 0}, {"SELECT_", 1}, {"TEXT_", 2}, {"SYSTEM_", -1}};
    static char text[kMesTextSize], cut[kMesTextSize];
    const char* caption = QuickCaption;
    const uint32_t end = uint32_t(strnlen(caption, kQuickCaptionSize));
    for (uint32_t i = 0; i < end && !o.full;) {
        int32_t section = -2;
        uint32_t used = 0, n = 0;
        for (const auto& k : kKeys) {
            const uint32_t kl = uint32_t(std::strlen(k.key));
            if (end - i < kl || std::strncmp(caption + i, k.key, kl) != 0) continue;
            uint32_t d = 0;
            n = 0;
            while (i + kl + d < end && d < 9 && caption[i + kl + d] >= '0' && caption[i + kl + d] <= '9')
                n = n * 10 + uint32_t(caption[i + kl + d++] - '0');
            if (!d) continue;  // a key without digits is plain text
            section = k.section;
            used = kl + d;
            break;
        }
        if (section == -2) {
            uint32_t c = Lib_CharLen(caption + i);
            if (i + c > end) c = end - i;
            o.Put(caption + i, c);
            i += c;
            continue;
        }
        i += used;
        if (section < 0) {
            GSL_SysTextGet(nullptr, n / 1000, n % 1000, 0, text, sizeof text);
            o.PutText(text);
            continue;
        }
        GSL_SysTextGet(&ScriptMesTable, uint32_t(section), n, 0, text, sizeof text);
        if (section == 0) {
            GSL_NameCut(text, cut, sizeof cut);
            o.PutText(cut);
            continue;
        }
        if (section == 1) {
            o.PutText(text);
            continue;
        }
        // A message: without its breaks and its ruby, size, colour and
        // position constructs (a ruby's base text goes with it).
        Out clean(cut, sizeof cut);
        for (const char* c = text; *c;) {
            if (c[0] == '#' && c[1] == 'n') {
                c += 2;
                continue;
            }
            bool construct = false;
            for (const char* kw : {"/ruby:", "/size:", "/color:", "/pos:"}) {
                const size_t kl = std::strlen(kw);
                if (std::strncmp(c, kw, kl) != 0) continue;
                c += kl;
                while (*c && !Narrow(c, '/')) c += Lib_CharLen(c);
                if (*c) ++c;
                construct = true;
                break;
            }
            if (construct) continue;
            const uint32_t k = Lib_CharLen(c);
            uint32_t have = 0;
            while (have < k && c[have]) ++have;
            clean.Put(c, have);
            c += have;
        }
        o.PutText(cut);
    }
}
