#include "script/syntax.h"

#include <array>
#include <cstring>

#include "script/choice_cmds.h"
#include "script/effects.h"
#include "script/flow.h"
#include "script/message.h"
#include "script/picture_cmds.h"
#include "script/replay.h"
#include "script/sound_cmds.h"
#include "script/staffroll.h"
#include "script/vars.h"

namespace {

// An entry without a handler runs GSL_CommandEmpty and is plain.
struct NamedCommand {
    constexpr NamedCommand(int32_t i, const char* n) : index(i), name(n), handler(GSL_CommandEmpty), plain(true) {}
    constexpr NamedCommand(int32_t i, const char* n, CommandHandler h, bool p = false)
        : index(i), name(n), handler(h), plain(p) {}
    int32_t index;
    const char* name;
    CommandHandler handler;
    bool plain;
};

// A command that never waits, in any play mode, and chooses the script's
// way by the variables, the label history, the pending return point and
// rand() draws alone, or does not touch the way at all (CommandEntry::plain).
// Any other command, one added without thought of the loop watch included,
// counts as a wait: a tag that waits or would wait but for skip or auto,
// that reads the player's input, the clock or a worker. An entry with no
// handler does nothing and is plain.
constexpr bool kPlain = true;

// The commands at their fixed indices; every other index is free ("0"). The
// handlers are bound by the modules that implement the commands.
constexpr NamedCommand kNamed[] = {
    // The message.
    {9, "analyze_00", GSL_CmdAnalyze00, kPlain}, {10, "name", GSL_CmdName, kPlain},
    {11, "text", GSL_CmdText, kPlain}, {12, "keywait", GSL_CmdKeyWait}, {13, "voice", GSL_CmdVoice},
    {14, "font", GSL_CmdFont, kPlain}, {15, "windowex"}, {16, "setautowin"}, {17, "voice_wait"},
    {18, "voice_stop", GSL_CmdVoiceStop, kPlain}, {19, "textspeed", GSL_CmdTextSpeed, kPlain},
    {20, "lw", GSL_CmdLw}, {21, "winframe", GSL_CmdWinFrame, kPlain}, {22, "cm"},
    {23, "layopt", GSL_CmdLayOpt, kPlain}, {24, "position", GSL_CmdPosition, kPlain},
    // Pictures, effects and the staff roll.
    {30, "trans", GSL_CmdTrans, kPlain}, {31, "wt", GSL_CmdWaitTrans}, {32, "backlay", GSL_CmdBackLay, kPlain},
    {33, "image", GSL_CmdImage}, {34, "freeimage", GSL_CmdFreeImage}, {35, "move", GSL_CmdMove, kPlain},
    {36, "stopmove", GSL_CmdStopMove, kPlain}, {37, "wm", GSL_CmdWaitMove}, {40, "quake", GSL_CmdQuake},
    {41, "stopquake", GSL_CmdStopQuake, kPlain}, {42, "wq", GSL_CmdWaitQuake}, {43, "staffroll_set"},
    {44, "staffroll_start", GSL_CmdStaffrollStart, kPlain}, {45, "staffroll_wait", GSL_CmdStaffrollWait},
    {46, "staffroll_end", GSL_CmdStaffrollEnd, kPlain}, {50, "effect"}, {51, "gradater"},
    // Movies and sounds.
    {100, "openvideo", GSL_CmdOpenVideo}, {101, "playbgm", GSL_CmdPlayBgm}, {102, "stopbgm", GSL_CmdStopBgm},
    {103, "playse", GSL_CmdPlaySe}, {104, "stopse", GSL_CmdStopSe, kPlain}, {105, "ws", GSL_CmdWaitSe},
    {106, "soundstopall"},
    // The script's way, choices and waits.
    {110, "label", GSL_CmdLabel, kPlain}, {111, "call", GSL_CmdCall, kPlain},
    {112, "return", GSL_CmdReturn, kPlain}, {113, "eval", GSL_CmdEval, kPlain}, {114, "jump", GSL_CmdJump, kPlain},
    {115, "gosub"}, {116, "menustart", GSL_CmdMenuStart}, {117, "menuadd", GSL_CmdMenuAdd, kPlain},
    {118, "clearvar", GSL_CmdClearVar, kPlain}, {120, "if", GSL_CmdIf, kPlain}, {121, "elseif", GSL_CmdIf, kPlain},
    {122, "else"}, {123, "endif"}, {124, "jump_endif", GSL_CmdJumpEndif, kPlain},
    {130, "trophy", GSL_CmdTrophy, kPlain}, {131, "returnmenu", GSL_CmdReturnMenu}, {132, "wait", GSL_CmdWait},
    {133, "input"}, {134, "click", GSL_CmdClick}, {135, "cancelskipping"}, {136, "autosaverange"},
    {149, "debug", GSL_CmdDebug},
};
static_assert(std::size(kNamed) == 62);

constexpr std::array<CommandEntry, kScriptCommands> MakeTable() {
    std::array<CommandEntry, kScriptCommands> table{};
    for (CommandEntry& e : table) {
        e.name[0] = '0';
        e.handler = GSL_CommandEmpty;
        e.plain = true;
    }
    for (const NamedCommand& c : kNamed) {
        CommandEntry& e = table[size_t(c.index)];
        size_t i = 0;
        for (; c.name[i]; ++i) e.name[i] = c.name[i];
        e.name[i] = 0;
        e.handler = c.handler;
        e.plain = c.plain;
    }
    return table;
}

constexpr std::array<CommandEntry, kScriptCommands> kTable = MakeTable();
// process-wide: a test seam (GSL_ScriptCommandTableSet)
const CommandEntry* g_table = kTable.data();

// Length of the character at i: 2 for a lead byte with its second byte
// inside the text (a NUL is never a second byte), else 1.
uint32_t CharAt(const uint8_t* t, uint32_t i, uint32_t n) {
    return GSL_ScriptIsLead(t[i]) && i + 1 < n && t[i + 1] != 0 ? 2 : 1;
}

}  // namespace

void GSL_CommandEmpty(CommandContext*) {}

void GSL_ScriptCommandTableSet(const CommandEntry* table) { g_table = table ? table : kTable.data(); }
const CommandEntry* GSL_ScriptCommandTable() { return kTable.data(); }

void GSL_ScriptSkipToTag(ScriptState* script) {
    const uint8_t* t = reinterpret_cast<const uint8_t*>(script->text);
    const uint32_t n = t ? script->size : 0;
    uint32_t i = script->readOffset;
    while (i < n) {
        const uint8_t b = t[i];
        if (b == 0 || b == '<') break;
        if (b == ';') {
            // A comment ends only behind a CR LF pair, or at a NUL.
            ++i;
            while (i < n && t[i] != 0) {
                if (t[i] == '\r' && i + 1 < n && t[i + 1] == '\n') {
                    i += 2;
                    break;
                }
                i += CharAt(t, i, n);
            }
            continue;
        }
        i += CharAt(t, i, n);
    }
    script->readOffset = i < n ? i : n;
}

bool GSL_ScriptTagCut(const ScriptState* script, char* tag, CommandContext* ctx, uint32_t* next) {
    const uint8_t* t = reinterpret_cast<const uint8_t*>(script->text);
    const uint32_t n = t ? script->size : 0;
    uint32_t len = 0;
    auto put = [&](uint8_t b) {
        if (len < kScriptTagSize - 1) tag[len++] = char(b);
    };
    bool quote = false;
    uint32_t i = script->readOffset;
    while (i < n) {
        const uint8_t b = t[i];
        if (b == 0) break;
        if (CharAt(t, i, n) == 2) {
            put(b);
            put(t[i + 1]);
            i += 2;
            continue;
        }
        if (b == '"') {
            const uint8_t after = i + 1 < n ? t[i + 1] : 0;
            quote = !(after == ' ' || after == ',' || after == '>');
            put(b);
            ++i;
            continue;
        }
        if (!quote && b == '>') {
            put(b);
            tag[len] = 0;
            *next = i + 1;
            return true;
        }
        if (!quote && (b == ' ' || b == ',')) {
            put(b);
            ++i;
            while (i < n && t[i] == ' ') ++i;
            if (b == ' ' && i < n && t[i] == ',') {
                put(',');
                ++i;
                while (i < n && t[i] == ' ') ++i;
            }
            if (ctx && ctx->argCount < kScriptArgMax) ctx->args[ctx->argCount++] = script->text + i;
            continue;
        }
        put(b);
        ++i;
    }
    tag[len] = 0;
    return false;
}

int32_t GSL_ScriptCommandFind(const char* tag) {
    if (!tag || tag[0] != '<') return -1;
    const uint8_t* name = reinterpret_cast<const uint8_t*>(tag + 1);
    size_t len = 0;
    while (name[len] && name[len] != ' ' && name[len] != '>')
        len += (GSL_ScriptIsLead(name[len]) && name[len + 1]) ? 2 : 1;
    if (len == 0 || len > 31) return -1;

    // A numeric name is the index itself.
    size_t i = 0;
    bool negative = false;
    if (name[0] == '+' || name[0] == '-') {
        negative = name[0] == '-';
        i = 1;
    }
    if (i < len && name[i] >= '0' && name[i] <= '9') {
        int64_t value = 0;
        for (; i < len && name[i] >= '0' && name[i] <= '9'; ++i) {
            value = value * 10 + (name[i] - '0');
            if (value > int64_t(INT32_MAX) + 1) return -1;
        }
        if (negative) value = -value;
        if (value > INT32_MAX || value < INT32_MIN) return -1;
        if (value != 0) return int32_t(value);
    }

    for (int32_t k = 0; k < kScriptCommands; ++k) {
        const char* entry = g_table[k].name;
        if (entry[0] == '0') continue;
        if (std::strlen(entry) == len && std::memcmp(entry, name, len) == 0) return k;
    }
    return -1;
}

CommandEntry GSL_ScriptCommandGet(int32_t index) {
    if (index < 0 || index >= kScriptCommands) return CommandEntry{"0", GSL_CommandEmpty, true};
    return g_table[index];
}

uint32_t GSL_ScriptArgWord(const CommandContext* ctx, int32_t i, char* out, uint32_t outSize) {
    if (out && outSize) out[0] = 0;
    if (!ctx || !ctx->script || i < 0 || i >= ctx->argCount) return 0;
    const char* begin = ctx->script->text;
    uint32_t size = ctx->script->size;
    GSL_ReplayArgSpan(ctx, &begin, &size);
    const char* p = ctx->args[i];
    if (!begin || !p || p < begin || p >= begin + size) return 0;
    const uint8_t* w = reinterpret_cast<const uint8_t*>(p);
    const uint32_t limit = uint32_t(begin + size - p);

    bool quote = false;
    uint32_t k = 0, copied = 0;
    while (k < limit) {
        const uint8_t b = w[k];
        if (b == 0) break;
        if (!quote && (b == ' ' || b == ',' || b == '>')) break;
        const uint32_t len = CharAt(w, k, limit);
        if (b == '"') {
            const uint8_t after = k + 1 < limit ? w[k + 1] : 0;
            quote = !(after == ' ' || after == ',' || after == '>');
        }
        if (out && copied == k && k + len < outSize) {
            std::memcpy(out + k, w + k, len);
            copied = k + len;
        }
        k += len;
    }
    if (out && outSize) out[copied] = 0;
    return k;
}
