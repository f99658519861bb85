#include "script/script_task.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/task.h"
#include "engine/render/sprite.h"
#include "script/choice_cmds.h"
#include "script/flow.h"
#include "script/replay.h"
#include "script/saved_position.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "script/vars.h"
#include "ui/pointer.h"
#include "ui/widget_delete.h"


namespace {
// The line about a frame cut short by the tag limit is written once a process.
bool g_tagLimitLogged = false;

constexpr char kScriptArc[] = "script/script.arc";
constexpr uint32_t kMemberLimit = 1u << 20;   // positions keep 20 bits of offset
constexpr uint32_t kMemberCountLimit = kPositionMembers;  // and 12 bits of member index
constexpr uint32_t kFrameTagLimit = 100000;
constexpr int32_t kReturnCommand = 112;

// process-wide: a test seam (GSL_ScriptTraceSet)
ScriptTraceHook g_trace = nullptr;
// The slot of the script task whose callback is running, or -1.
// process-wide (g_running, g_tag): set and put back around each step; the tag is scratch
int32_t g_running = -1;
char g_tag[kScriptTagSize];

ScriptTaskWork* WorkOf(ScriptState* script) { return GSL_ScriptWorkOf(script); }

TaskRecord* ScriptTask(int32_t slot) {
    if (slot < 0 || slot >= kTaskSlots) return nullptr;
    TaskRecord* r = TaskTable.slots[slot];
    if (!r || r->dead || r->callback != GSL_ScriptCB || !r->work) return nullptr;
    return r;
}

void CopyName(char* out, const char* in, size_t inSize) {
    size_t n = strnlen(in, inSize);
    if (n >= kScriptNameSize) n = kScriptNameSize - 1;
    std::memcpy(out, in, n);
    out[n] = 0;
}

}  // namespace

const char* GSL_ScriptTagName(const ScriptState* script, char* out, uint32_t outSize) {
    if (!outSize) return out;
    out[0] = 0;
    if (!script || !script->text || script->readOffset >= script->size || script->text[script->readOffset] != '<')
        return out;
    const char* p = script->text + script->readOffset + 1;
    const uint32_t limit = script->size - script->readOffset - 1;
    uint32_t n = 0;
    while (n < limit && n + 1 < outSize && p[n] && p[n] != ' ' && p[n] != ',' && p[n] != '>' && p[n] != '\r' &&
           p[n] != '\n')
        ++n;
    std::memcpy(out, p, n);
    out[n] = 0;
    return out;
}

ScriptTaskWork* GSL_ScriptWorkOf(ScriptState* script) {
    return reinterpret_cast<ScriptTaskWork*>(reinterpret_cast<uint8_t*>(script) - offsetof(ScriptTaskWork, script));
}

namespace {
// Removing every screen task at once deletes a script task without its end:
// its replay ends there, before the screen heap that holds the buffer is
// laid out afresh.
void ScriptTaskDelete(int32_t slot) {
    if (ScriptTaskWork* w = GSL_ScriptTaskWork(slot)) GSL_ReplayForget(&w->script);
}
}  // namespace

int32_t GSL_ScriptTaskSet() {
    static const bool registered = GSL_WidgetDeleteRegister(GSL_ScriptCB, ScriptTaskDelete);
    (void)registered;
    const int32_t slot = Lib_TaskSet("GSL_ScriptCB", GSL_ScriptCB, 34000, 400, 0);
    if (slot < 0) return -1;
    auto* w = static_cast<ScriptTaskWork*>(Lib_TaskWorkAlloc(uint32_t(slot), sizeof(ScriptTaskWork)));
    if (!w) {
        Lib_TaskDel(uint32_t(slot));
        return -1;
    }
    // A replay left by a task that had this work area before is over.
    GSL_ReplayForget(&w->script);
    // So are a choice menu left open and the choices added for a menu not
    // yet started by a story that was cut short.
    MenuActiveFlag &= ~1u;
    ChoiceList.count = 0;
    std::memset(static_cast<void*>(w), 0, sizeof *w);
    w->state = SCRIPT_TASK_LOAD;
    w->ownSlot = slot;
    w->secondSlot = -1;
    CopyName(w->fileName, GameStateBlock.scriptName, sizeof GameStateBlock.scriptName);
    GSL_SavedPositionMend();
    w->script.readOffset = w->script.nextOffset = GameStateBlock.startOffset;
    w->script.restartOffset = GameStateBlock.restartOffset;
    w->script.command = w->script.prevCommand = -1;
    w->context.script = &w->script;
    w->context.stage = &GameStateBlock.stage;
    GSL_StageReset(&GameStateBlock.stage, STAGE_RESET_FIELDS | STAGE_RESET_CAMERAS);
    return slot;
}

void GSL_ScriptArgsReset(ScriptState* script) {
    CommandContext* ctx = &WorkOf(script)->context;
    script->prevCommand = script->command;
    script->readOffset = script->nextOffset;
    script->command = -1;
    ctx->step = CMD_STEP_FIRST;
    ctx->argCount = 0;
    std::memset(ctx->args, 0, sizeof ctx->args);
    std::memset(ctx->priv, 0, sizeof ctx->priv);
}

void GSL_ScriptStep(ScriptState* script) {
    ScriptTaskWork* w = WorkOf(script);
    CommandContext* ctx = &w->context;
    if (!(script->status & SCRIPT_BUSY)) {
        g_tag[0] = 0;
        GSL_ScriptArgsReset(script);
        GSL_ScriptSkipToTag(script);
        if (!script->text || script->readOffset >= script->size) {
            std::strcpy(g_tag, "end");
        } else {
            uint32_t next = 0;
            if (!GSL_ScriptTagCut(script, g_tag, ctx, &next)) {
                Lib_DebugPrintf("Error -> GSL_ScriptStep(%s): tag at %u is not closed\n", w->fileName,
                                unsigned(script->readOffset));
                script->status = SCRIPT_ENDED;
                return;
            }
            script->nextOffset = next;
        }
        if (std::strcmp(g_tag, "end") == 0) {
            if (GSL_ReturnPoint(script) != 0) {
                script->command = kReturnCommand;
                GSL_ScriptCommandGet(kReturnCommand).handler(ctx);
                return;
            }
            script->status = SCRIPT_ENDED;
            return;
        }
        script->command = GSL_ScriptCommandFind(g_tag);
        if (g_trace) g_trace(w->fileName, script->readOffset, script->command, ctx);
        if (script->command < 0 || script->command >= kScriptCommands) {
            // Passed over, as the table has no such command.
            static char tag[512];
            GSL_ScriptReport(script, script->readOffset, "%s: unknown command; the tag is passed over",
                             GSL_ScriptTagUtf8(script, tag, sizeof tag));
            return;
        }
    }
    if (script->command >= 0 && script->command < kScriptCommands)
        GSL_ScriptCommandGet(script->command).handler(ctx);
}

namespace {
// The container last checked, and the last one refused (reported once).
struct ScriptArcCheck {
    ArcView arc;
    const void* checked = nullptr;
    uint64_t checkedSize = 0;
    const void* refused = nullptr;
};
ScriptArcCheck g_arcCheck;
}  // namespace

void GSL_ScriptArcForget() { g_arcCheck = ScriptArcCheck{}; }

const ArcView* GSL_ScriptArcGet() {
    ArcView& arc = g_arcCheck.arc;
    const void*& checked = g_arcCheck.checked;
    uint64_t& checkedSize = g_arcCheck.checkedSize;
    void* data = nullptr;
    uint64_t size = 0;
    if (Lib_CashLookup(kScriptArc, &data, &size) != 1 || !data) return nullptr;
    // The directory is checked at every look-up (the entry may have been
    // reloaded in the same place); the limits are reported once per container.
    if (!Lib_ArcOpen(&arc, data, size)) {
        const void*& refused = g_arcCheck.refused;
        if (data != refused) {
            refused = data;
            std::fprintf(stderr, "vn: script pack %s is damaged: its directory does not fit its %llu bytes; no scenario can run\n",
                         kScriptArc, static_cast<unsigned long long>(size));
        }
        return nullptr;
    }
    if (data != checked || size != checkedSize) {
        checked = data;
        checkedSize = size;
        GSL_ScriptReportReset();
        bool tooLarge = arc.count > kMemberCountLimit;
        for (uint32_t i = 0; i < arc.count && !tooLarge; ++i) {
            const uint8_t* member = nullptr;
            uint32_t memberSize = 0;
            if (Lib_ArcGetData(&arc, nullptr, int32_t(i), &member, &memberSize) && memberSize >= kMemberLimit)
                tooLarge = true;
        }
        if (tooLarge) {
            Lib_DebugPrintf("Error -> GSL_ScriptArcGet(%s): over %u members or a member of 1 MiB or more\n",
                            kScriptArc, unsigned(kMemberCountLimit));
            std::fprintf(stderr, "vn: script pack %s has over %u members or a member of 1 MiB or more\n", kScriptArc,
                         unsigned(kMemberCountLimit));
        }
    }
    return &arc;
}

bool GSL_ScriptSpritesIdle(int32_t) {
    if (!GSL_ScriptStoryPresent()) return true;
    for (int32_t i = 0; i < 30; ++i) {
        const SpriteRecord* s = Lib_SpriteAt(GSL_ScriptStoryLayerSprite(i));
        if (s && (s->flags & SPRITE_IN_USE) && !(s->flags & (SPRITE_READY | SPRITE_FAILED))) return false;
    }
    return true;
}

bool GSL_ScriptTaskEnd(int32_t slot) {
    TaskRecord* r = ScriptTask(slot);
    if (!r || slot == g_running || !GSL_ScriptSpritesIdle(slot)) return false;
    const int32_t second = static_cast<ScriptTaskWork*>(r->work)->secondSlot;
    GSL_ReplayForget(&static_cast<ScriptTaskWork*>(r->work)->script);
    Lib_TaskBreakAll();
    Lib_TaskDel(uint32_t(second));
    Lib_TaskDel(uint32_t(slot));
    return true;
}

ScriptTaskWork* GSL_ScriptTaskWork(int32_t slot) {
    TaskRecord* r = ScriptTask(slot);
    return r ? static_cast<ScriptTaskWork*>(r->work) : nullptr;
}

char* GSL_ScriptTaskFileName(int32_t slot) {
    ScriptTaskWork* w = GSL_ScriptTaskWork(slot);
    return w ? w->fileName : nullptr;
}

int32_t GSL_ScriptStatusGet(int32_t slot) {
    ScriptTaskWork* w = GSL_ScriptTaskWork(slot);
    return w ? int32_t(w->script.status) : -1;
}

ScriptState* GSL_ScriptStoryState() {
    ScriptTaskWork* w = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
    return w ? &w->script : nullptr;
}

namespace {
// A script that comes back to a place (by a jump, a call or a return, the
// end of a file included) moves again exactly as it did the last time it
// stood there when nothing it chooses its way by has changed: plain
// commands (CommandEntry::plain) choose by the variables, the label history
// and the pending return point alone, and a rand() draw is counted as a
// change. Coming back to a place with all of that as it was, with only plain
// commands between, is a loop that nothing can end: no input of the player,
// no play mode, no timer and no worker. Such a loop is found among the
// places come back to since the last wait by comparing each with one kept
// mark, taken afresh after 1, 2, 4 ... places (Brent's cycle search): a
// loop is found within about twice its length plus the way into it. A loop
// whose counters still change is no such loop, however long it runs, and
// any command that is not plain starts the watch afresh, as a wait does,
// even when skip or auto lets it go on in its first call.
void LoopWatchReset(ScriptTaskWork* w) {
    w->loopMark = ScriptLoopMark{};
    w->loopSeen = w->loopSpan = 0;
}

ScriptLoopMark LoopMarkOf(const ScriptState* s) {
    ScriptLoopMark m{s->text, s->nextOffset, s->status, GSL_LabelCount(), GSL_LabelReturnChanges(),
                     PendingCall.member, PendingCall.offset, GSL_ScriptRandDraws(), {}, {}};
    std::memcpy(m.gameVars, GameStateBlock.gameVars, sizeof m.gameVars);
    std::memcpy(m.systemVars, SystemDataBlock.systemVars, sizeof m.systemVars);
    return m;
}

// The name of the script member whose text this is ("?" when none is).
const char* MemberNameOfText(const char* text) {
    const ArcView* arc = GSL_ScriptArcGet();
    for (int32_t i = 0; arc && uint32_t(i) < arc->count; ++i) {
        const uint8_t* data = nullptr;
        if (Lib_ArcGetData(arc, nullptr, i, &data, nullptr) && reinterpret_cast<const char*>(data) == text)
            return GSL_ScriptMemberName(i);
    }
    return "?";
}

// After a step that did not wait: true, with the line that tells it, when
// it came back to a place in a loop that nothing can end; the script ends.
// from and fromSize are the text the step's tag (at the read offset) lies in.
bool LoopsForEver(ScriptTaskWork* w, const char* from, uint32_t fromSize) {
    ScriptState* s = &w->script;
    if (s->text == from && s->nextOffset > s->readOffset) return false;  // on, not back
    const ScriptLoopMark now = LoopMarkOf(s);
    if (w->loopMark.text && w->loopMark == now) {
        ScriptState at{};
        at.text = from;
        at.size = fromSize;
        at.readOffset = s->readOffset;
        char tag[512], what[640];
        if (s->readOffset >= fromSize) {
            std::snprintf(what, sizeof what, "the end of %s", s->text == from ? w->fileName : MemberNameOfText(from));
        } else {
            static CommandContext cut;
            uint32_t end = 0;
            if (!GSL_ScriptTagCut(&at, g_tag, &cut, &end)) end = fromSize;
            std::snprintf(what, sizeof what, "%s at %s:%u", GSL_ScriptTagUtf8At(&at, s->readOffset, end, tag, sizeof tag),
                          s->text == from ? w->fileName : MemberNameOfText(from),
                          unsigned(GSL_ScriptLineOf(&at, s->readOffset)));
        }
        GSL_ScriptReportAlways(s, s->nextOffset,
                               "%s comes back here again and again with nothing changed and no tag between that "
                               "waits or reads the player's input or the clock: the script ends",
                               what);
        s->status = SCRIPT_ENDED;
        return true;
    }
    if (w->loopSeen == w->loopSpan) {
        w->loopMark = now;
        w->loopSpan = w->loopSpan ? (w->loopSpan < (1u << 30) ? 2 * w->loopSpan : w->loopSpan) : 1;
        w->loopSeen = 0;
    }
    ++w->loopSeen;
    return false;
}
}  // namespace

int32_t GSL_ScriptCB(void* work) {
    auto* w = static_cast<ScriptTaskWork*>(work);
    ScriptState* s = &w->script;
    TaskRecord* self = TaskTable.slots[w->ownSlot];
    const int32_t outer = g_running;
    g_running = w->ownSlot;
    struct Restore {
        int32_t outer;
        ~Restore() { g_running = outer; }
    } restore{outer};

    switch (w->state) {
        case SCRIPT_TASK_LOAD: {
            const uint8_t* data = nullptr;
            uint32_t size = 0;
            const ArcView* arc = GSL_ScriptArcGet();
            if (!arc || !Lib_ArcGetData(arc, w->fileName, -1, &data, &size) || !data) {
                Lib_DebugPrintf("Error -> Lib_ArcGetData(%s)\n", w->fileName);
                // A damaged pack is told where it is opened.
                if (arc) GSL_ScriptReportLine("no script %s in %s; the story cannot start", w->fileName, kScriptArc);
                return 1;
            }
            s->text = reinterpret_cast<const char*>(data);
            s->size = size;
            w->state = SCRIPT_TASK_RESTORE;
        }
            [[fallthrough]];
        case SCRIPT_TASK_RESTORE:
            if (GSL_ReplayRun(s) == 1) {
                w->state = SCRIPT_TASK_START;
                s->status = SCRIPT_READY;
            }
            return 0;
        case SCRIPT_TASK_START:
            s->status = SCRIPT_STARTED;
            w->state = SCRIPT_TASK_RUN;
            [[fallthrough]];
        case SCRIPT_TASK_RUN: {
            uint32_t tags = 0;
            const uint64_t start = Lib_TimerNow();
            for (;;) {
                if (self->finishRequest) break;
                const char* text = s->text;
                const uint32_t size = s->size;
                GSL_ScriptStep(s);
                if (s->status == SCRIPT_ENDED) break;
                const bool busy = (s->status & SCRIPT_BUSY) != 0;
                if (busy || !GSL_ScriptCommandGet(s->command).plain) {
                    // A wait, or a command that would wait but for skip or
                    // auto or reads what the mark lacks: a missing target met
                    // again from here on is no loop, and the watch starts afresh.
                    w->missText = nullptr;
                    LoopWatchReset(w);
                    if (busy) return 0;
                } else if (LoopsForEver(w, text, size)) {
                    break;
                }
                if (Lib_TimerNow() - start >= kScriptFrameBudgetUs) return 0;
                if (++tags >= kFrameTagLimit && !(s->status & SCRIPT_SILENT)) {
                    if (!g_tagLimitLogged) {
                        g_tagLimitLogged = true;
                        Lib_DebugPrintf("Error -> GSL_ScriptCB(%s): %u tags in one frame\n", w->fileName,
                                        unsigned(tags));
                    }
                    return 0;
                }
            }
            w->state = SCRIPT_TASK_DONE;
        }
            [[fallthrough]];
        case SCRIPT_TASK_DONE:
            if (!GSL_ScriptSpritesIdle(w->ownSlot) || !self->finishRequest) return 0;
            w->state = SCRIPT_TASK_END;
            GSL_ReplayForget(s);
            Lib_TaskBreakAll();
            Lib_TaskDel(uint32_t(w->secondSlot));
            return 1;
        case SCRIPT_TASK_END:
            GSL_ReplayForget(s);
            Lib_TaskBreakAll();
            Lib_TaskDel(uint32_t(w->secondSlot));
            return 1;
        default:
            return 0;
    }
}

// --- Tracing ---------------------------------------------------------------

void GSL_ScriptTagLimitLogReset() { g_tagLimitLogged = false; }

void GSL_ScriptTraceSet(ScriptTraceHook hook) { g_trace = hook; }
ScriptTraceHook GSL_ScriptTraceGet() { return g_trace; }

namespace {

// One line per tag: the command and its arguments as the interpreter split
// them, one per comma; the words of a line written in place (text) are shown
// whole, joined as the text command joins them. A name the table lacks is
// shown as unknown.
constexpr int32_t kTextCommand = 11;

void PrintTrace(const char* file, uint32_t offset, int32_t index, const CommandContext* ctx) {
    static char line[4096], word[kScriptWordSize], utf8[2 * kScriptWordSize], name[64];
    // The line is counted in the text the tag lies in: a replayed record's own.
    ScriptState at{};
    if (ctx->script) at = *ctx->script;
    GSL_ReplayArgSpan(ctx, &at.text, &at.size);
    const unsigned lineNo = unsigned(GSL_ScriptLineOf(&at, offset));
    const bool known = index >= 0 && index < kScriptCommands;
    int n = known ? std::snprintf(line, sizeof line, "script %s:%u %s(%d)", file, lineNo,
                                  GSL_ScriptCommandGet(index).name, int(index))
                  : std::snprintf(line, sizeof line, "script %s:%u %s(unknown)", file, lineNo,
                                  Lib_SjisToUtf8Buf(GSL_ScriptTagName(ctx->script, name, sizeof name), utf8,
                                                    sizeof utf8));
    const char* between = index == kTextCommand ? " " : ", ";
    for (int32_t i = 0; i < ctx->argCount && n > 0 && size_t(n) < sizeof line; ++i) {
        GSL_ScriptArgWord(ctx, i, word, sizeof word);
        Lib_SjisToUtf8Buf(word, utf8, sizeof utf8);
        n += std::snprintf(line + n, sizeof line - size_t(n), "%s%s", i ? between : " ", utf8);
    }
    // The runs of a restore are marked: the silent run, the main run and the
    // replayed records.
    const uint32_t status = ctx->script ? ctx->script->status : 0;
    const char* mark = (status & SCRIPT_SILENT)      ? " [silent run]"
                       : (status & SCRIPT_REPLAYING) ? " [replayed]"
                       : (status & SCRIPT_REPLAY_RUN) ? " [main run]"
                                                      : "";
    static char escaped[4 * sizeof line];
    std::fprintf(stderr, "%s%s\n", Lib_TextEscaped(line, escaped, sizeof escaped), mark);
}

// The debug log's lines while tracing: they name files and words of the
// script and the saves, so they are escaped as the trace is; the line end
// the line was written with stays.
void PrintDebug(const char* text) {
    char line[1024], escaped[4 * sizeof line];
    std::snprintf(line, sizeof line, "%s", text);
    const size_t n = std::strlen(line);
    const bool ended = n && line[n - 1] == '\n';
    if (ended) line[n - 1] = 0;
    std::fprintf(stderr, "%s%s", Lib_TextEscaped(line, escaped, sizeof escaped), ended ? "\n" : "");
}

}  // namespace

void GSL_ScriptTraceFromEnv() {
    const char* v = std::getenv("VN_SCRIPT_TRACE");
    if (!v || std::strcmp(v, "1") != 0) return;
    GSL_ScriptTraceSet(PrintTrace);
    Lib_DebugSetSink(PrintDebug);
}
