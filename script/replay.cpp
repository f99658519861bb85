#include "script/replay.h"

#include <cstdio>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/syntax.h"

int32_t ReplayPhase = 0;

namespace {

// Tags per frame of the runs (and at most the interpreter's frame time), and
// in all: a damaged history can send the runs round a loop that never meets
// the target; the restore then gives up where it is.
constexpr uint32_t kTagsPerFrame = 20000;
constexpr uint32_t kTagsInAll = 1000000;
constexpr char kDefaultKey[] = "arg_default";
constexpr int32_t kCallCommand = 111;

struct ReplayRecordT {
    int32_t command;
    uint8_t argCount;
    const char* args[kScriptArgMax];
    const char* text;   // the member the arguments point into
    uint32_t size;
    uint32_t offset;    // of the tag, for the trace
};

struct ReplayBuffer {
    ScriptState* script;
    int32_t ownerSlot;
    const char* targetText;
    uint32_t targetOffset;
    bool targetAtLabel;  // the target is the restart label: the run ends behind it
    bool away;           // the main run is inside a call made on its way to the target
    int32_t cursor;
    int32_t count;
    bool traced;
    uint32_t tags;
    bool capped;     // the runs stopped at a frame's share: their position is still to be tested
    int32_t passes;  // times the silent run still passes the restart point before it stops
    int32_t perCommand[kScriptCommands];  // records of each command
    int16_t commands[kReplayRecords];     // the records' commands, packed for the drop scans
    ReplayRecordT records[kReplayRecords];
    CommandContext context;
    StageRecord stage;
    bool silentOn;
    // What the player has unlocked and read when the runs start: nothing they
    // pass unseen is kept.
    int8_t systemVars[sizeof SystemData::systemVars];
    uint8_t readText[sizeof SystemData::readText];
    uint8_t choiceSeen[sizeof SystemData::choiceSeen];
    uint8_t eventUnlock[sizeof SystemData::eventUnlock];
    uint8_t musicUnlock[sizeof SystemData::musicUnlock];
    uint16_t specialUnlock;
    int32_t storySlot;
    char storyName[kScriptNameSize];
    ScriptTaskWork silent;
};

ReplayBuffer* g_buf = nullptr;

void Free() {
    if (g_buf) Lib_MemFree(2, g_buf);
    g_buf = nullptr;
    ReplayPhase = 0;
}

// The key of a command's argument: its text, or "arg_default".
void KeyOf(const CommandContext* ctx, int32_t pos, char* out, uint32_t outSize) {
    if (pos < 0) {
        std::snprintf(out, outSize, "%s", kDefaultKey);
        return;
    }
    GSL_ArgGet(ctx, nullptr, pos, out, outSize);
}

void KeyOfRecord(const ReplayRecordT& r, int32_t pos, char* out, uint32_t outSize) {
    static ScriptState s;
    static CommandContext c;
    s = ScriptState{};
    s.text = r.text;
    s.size = r.size;
    c.script = &s;
    c.argCount = int8_t(r.argCount);
    std::memcpy(c.args, r.args, sizeof c.args);
    KeyOf(&c, pos, out, outSize);
}

// Whether a record's argument at pos (pos >= 0) is the non-empty key of
// keyLen bytes: the argument's word with one pair of enclosing quotes
// stripped, as GSL_ArgGet gives it, compared in place.
bool RecordKeyIs(const ReplayRecordT& r, int32_t pos, const char* key, size_t keyLen) {
    static ScriptState s;
    static CommandContext c;
    if (pos >= r.argCount || pos >= kScriptArgMax) return false;
    const char* p = r.args[pos];
    if (!p || !r.text || p < r.text || p >= r.text + r.size || *p == ' ' || *p == ',' || *p == '>') return false;
    s.text = r.text;
    s.size = r.size;
    c.script = &s;
    c.argCount = int8_t(pos + 1);
    c.args[pos] = p;
    size_t n = GSL_ScriptArgWord(&c, pos, nullptr, 0);
    if (n >= kScriptWordSize) return false;
    if (n >= 2 && p[0] == '"' && p[n - 1] == '"') {
        ++p;
        n -= 2;
    }
    return n == keyLen && n > 0 && std::memcmp(p, key, n) == 0;
}

// The first '<' at or behind offset, as the step would find it.
uint32_t NextTag(const ScriptState* script, uint32_t offset) {
    ScriptState probe = *script;
    probe.readOffset = offset;
    GSL_ScriptSkipToTag(&probe);
    return probe.readOffset;
}

bool SilentAtRestart(const ReplayBuffer& b) {
    const ScriptState& s = b.silent.script;
    if (s.text != b.targetText) return false;
    const uint32_t restart = b.script->restartOffset, at = s.nextOffset;
    // Behind the tag itself, behind its CR LF, or with only text lines (a
    // label's '*' line) between it and the restart tag.
    return at == restart || at + 2 == restart || (at < restart && NextTag(&s, at) == restart);
}

// The main run has come to the target: the next tag it runs is the target's
// (a run that went past it by a jump or a branch not taken has not met it),
// or, for a target at the restart label itself, the label has run.
bool MainAtTarget(const ReplayBuffer& b) {
    const ScriptState& s = *b.script;
    if (s.text != b.targetText) return false;
    if (b.targetAtLabel) return true;
    return s.nextOffset <= b.targetOffset && NextTag(&s, s.nextOffset) >= b.targetOffset;
}

void DropSilent() {
    if (!g_buf->silentOn) return;
    g_buf->silentOn = false;
    // A jump in the silent run renames the story script; its own name
    // comes back.
    if (char* name = GSL_ScriptTaskFileName(g_buf->storySlot)) std::memcpy(name, g_buf->storyName, kScriptNameSize);
}

// Prepares the silent run from the histories: from the flagged label before
// the restart label towards the restart point.
void PrepareSilent() {
    const GameState& g = GameStateBlock;
    const uint32_t count = g.readLineCount;
    if (count >= kReadLineSize) return;
    const uint32_t line = g.readLineLabel[count];
    if (line >= kLabelHistorySize) return;
    const uint32_t f = g.labelPos[line] >> 20;
    uint32_t d = line;
    while (d > 0 && !g.labelFlags[d]) --d;
    const uint32_t s = (g.labelPos[d] >> 20) == f ? d : line;
    if (s < 1) return;
    uint32_t e = s - 1;
    while (e > 0 && !g.labelFlags[e]) --e;
    const char* text = nullptr;
    uint32_t size = 0, offset = 0;
    const char* name = GSL_ScriptMemberName(int32_t(g.labelPos[e] >> 20));
    if (!name || !GSL_ScriptPositionText(g.labelPos[e], &text, &size, &offset)) return;
    ScriptTaskWork& w = g_buf->silent;
    std::memset(static_cast<void*>(&w), 0, sizeof w);
    w.state = SCRIPT_TASK_RUN;
    w.ownSlot = -1;
    w.secondSlot = -1;
    std::memcpy(w.fileName, name, strnlen(name, 63));
    // How often the restored line was passed before it.
    g_buf->passes = 0;
    for (uint32_t j = 0; j < count; ++j)
        if (g.readLinePos[j] == g.readLinePos[count]) ++g_buf->passes;
    w.script.text = text;
    w.script.size = size;
    w.script.readOffset = w.script.nextOffset = w.script.restartOffset = offset;
    w.script.command = w.script.prevCommand = -1;
    w.script.status = SCRIPT_STARTED | SCRIPT_REPLAY_RUN | SCRIPT_SILENT;
    w.context.script = &w.script;
    w.context.stage = &g_buf->stage;
    GSL_StageReset(&g_buf->stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    g_buf->storySlot = GSL_ScriptStoryTask();
    if (const char* story = GSL_ScriptTaskFileName(g_buf->storySlot))
        std::memcpy(g_buf->storyName, story, kScriptNameSize);
    g_buf->silentOn = true;
}

// The member whose text a record points into: a replayed line is traced
// under the file it was recorded in, which a load may have left behind.
const char* MemberNameOf(const char* text) {
    for (int32_t i = 0; const char* name = GSL_ScriptMemberName(i); ++i) {
        const char* t = nullptr;
        uint32_t n = 0, at = 0;
        if (GSL_ScriptPositionText(uint32_t(i) << 20, &t, &n, &at) && t == text) return name;
    }
    return nullptr;
}

void TraceRecord() {
    const ReplayRecordT& r = g_buf->records[g_buf->cursor];
    if (ScriptTraceHook hook = GSL_ScriptTraceGet()) {
        const char* file = MemberNameOf(r.text);
        if (!file) file = GSL_ScriptTaskFileName(g_buf->ownerSlot);
        hook(file ? file : "", r.offset, r.command, &g_buf->context);
    }
}

// Counts a tag: true when this frame's share of tags or time (from `start`)
// is used up (tags = the limit) or the runs have gone on too long in all
// (tags below it).
bool TooMany(uint32_t* tags, uint64_t start) {
    if (++g_buf->tags > kTagsInAll) {
        if (g_buf->tags == kTagsInAll + 1)
            Lib_DebugPrintf("Error -> GSL_ReplayRun: the target is not met after %u tags\n", unsigned(kTagsInAll));
        *tags = 0;
        return true;
    }
    if (++*tags < kTagsPerFrame && Lib_TimerNow() - start < kScriptFrameBudgetUs) return false;
    *tags = kTagsPerFrame;
    g_buf->capped = true;
    return true;
}

// A run resumes with a step, unless the last frame stopped it at its share
// after a step: that position is tested first.
bool ResumeWithStep() {
    const bool step = !g_buf->capped;
    g_buf->capped = false;
    return step;
}

void SystemKeep() {
    const SystemData& d = SystemDataBlock;
    std::memcpy(g_buf->systemVars, d.systemVars, sizeof d.systemVars);
    std::memcpy(g_buf->readText, d.readText, sizeof d.readText);
    std::memcpy(g_buf->choiceSeen, d.choiceSeen, sizeof d.choiceSeen);
    std::memcpy(g_buf->eventUnlock, d.eventUnlock, sizeof d.eventUnlock);
    std::memcpy(g_buf->musicUnlock, d.musicUnlock, sizeof d.musicUnlock);
    std::memcpy(&g_buf->specialUnlock, reinterpret_cast<const uint8_t*>(&d) + offsetof(SystemData, specialUnlock), 2);
}

void SystemPutBack() {
    SystemData& d = SystemDataBlock;
    std::memcpy(d.systemVars, g_buf->systemVars, sizeof d.systemVars);
    std::memcpy(d.readText, g_buf->readText, sizeof d.readText);
    std::memcpy(d.choiceSeen, g_buf->choiceSeen, sizeof d.choiceSeen);
    std::memcpy(d.eventUnlock, g_buf->eventUnlock, sizeof d.eventUnlock);
    std::memcpy(d.musicUnlock, g_buf->musicUnlock, sizeof d.musicUnlock);
    std::memcpy(reinterpret_cast<uint8_t*>(&d) + offsetof(SystemData, specialUnlock), &g_buf->specialUnlock, 2);
}

// One step of the main run. True when it passed the restored file without
// meeting the target: it left the file other than by a call (a return, its
// end, a jump), or came past the target in it other than inside a call. The
// run goes no further, and says so. A call is followed until it comes back
// to the file before the target.
bool MainStepLeaves(ScriptState* script) {
    const bool inTarget = script->text == g_buf->targetText;
    const uint32_t at = (script->status & SCRIPT_BUSY) ? script->readOffset : NextTag(script, script->nextOffset);
    ScriptState place{};
    place.text = script->text;
    place.size = script->size;
    GSL_ScriptStep(script);
    const bool back = script->text == g_buf->targetText;
    if (script->command == kCallCommand && !(script->status & SCRIPT_BUSY)) g_buf->away = g_buf->away || inTarget;
    else if (back && script->nextOffset <= g_buf->targetOffset) g_buf->away = false;
    if (g_buf->away || (!inTarget && !back)) return false;
    const bool passed = back && !g_buf->targetAtLabel && script->nextOffset > g_buf->targetOffset;
    if (back && !passed) return false;
    const char* name = MemberNameOf(g_buf->targetText);
    const char* file = name ? name : "?";
    const char* here = MemberNameOf(place.text);
    if (passed)
        GSL_ScriptReportLine("script %s:%u: the replay of the restored scene passes the saved line of %s here "
                             "without meeting it; the story goes on from here",
                             here ? here : "?", unsigned(GSL_ScriptLineOf(&place, at)), file);
    else
        GSL_ScriptReportLine("script %s:%u: the replay of the restored scene leaves %s here without meeting the "
                             "saved line; the story goes on from here",
                             file, unsigned(GSL_ScriptLineOf(&place, at)), file);
    return true;
}

// Phase 1: the silent run, then the main run to the target.
int32_t RunTowardsTarget(ScriptState* script) {
    uint32_t tags = 0;
    const uint64_t start = Lib_TimerNow();
    if (g_buf->silentOn) {
        ScriptState* silent = &g_buf->silent.script;
        if (ResumeWithStep()) {
            GSL_ScriptStep(silent);
            if (silent->status & SCRIPT_BUSY) return 0;
        }
        while (!(silent->status & SCRIPT_ENDED)) {
            if (SilentAtRestart(*g_buf)) {
                if (g_buf->passes < 1) break;
                --g_buf->passes;
            }
            GSL_ScriptStep(silent);
            if (silent->status & SCRIPT_BUSY) return 0;
            if (TooMany(&tags, start)) {
                if (tags < kTagsPerFrame) break;
                return 0;
            }
        }
        DropSilent();
    }
    bool left = false;
    if (!(script->status & SCRIPT_ENDED) && ResumeWithStep()) {
        left = MainStepLeaves(script);
        if (!left && (script->status & SCRIPT_BUSY)) return 0;
    }
    // A script that ends before the target ends the run there; one that
    // leaves the restored file without meeting it goes no further.
    while (!left && !(script->status & SCRIPT_ENDED) && !MainAtTarget(*g_buf)) {
        left = MainStepLeaves(script);
        if (left) break;
        if (script->status & SCRIPT_BUSY) return 0;
        if (TooMany(&tags, start)) {
            if (tags < kTagsPerFrame) break;
            return 0;
        }
    }
    SystemPutBack();
    script->status = (script->status & ~SCRIPT_REPLAY_RUN) | SCRIPT_REPLAYING;
    g_buf->cursor = 0;
    g_buf->traced = false;
    GSL_ReplayLoad(0);
    ReplayPhase = 2;
    return 1;
}

}  // namespace

ReplayMode GSL_ReplayModeGet(const CommandContext* ctx) {
    const ScriptState* story = GSL_ScriptStoryState();
    if (!story) return REPLAY_NORMAL;
    if (story->status & SCRIPT_REPLAY_RUN)
        return ctx && ctx->script && (ctx->script->status & SCRIPT_SILENT) ? REPLAY_SILENT : REPLAY_RUN;
    if (story->status & SCRIPT_REPLAYING) return REPLAY_ACTING;
    return REPLAY_NORMAL;
}

bool GSL_SkipFlagGet(int32_t kind) {
    const ScriptState* story = GSL_ScriptStoryState();
    if (!story) return false;
    return (story->status & (kind == 1 ? SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING : SCRIPT_REPLAY_RUN)) != 0;
}

const char* GSL_ReplayTargetText() { return g_buf ? g_buf->targetText : nullptr; }
int32_t GSL_ReplayCount() { return g_buf ? g_buf->count : 0; }
int32_t GSL_ReplayRecordKey(int32_t i, int32_t argPos, char* out, uint32_t outSize) {
    if (!g_buf || i < 0 || i >= g_buf->count || !out || !outSize) return -1;
    KeyOfRecord(g_buf->records[i], argPos, out, outSize);
    return g_buf->records[i].command;
}
void GSL_ReplayForget(const ScriptState* script) {
    if (!g_buf || g_buf->script != script) return;
    // A story that ends on the way keeps nothing the runs wrote unseen.
    if (ReplayPhase == 1) SystemPutBack();
    Free();
}
void GSL_ReplayReset() {
    g_buf = nullptr;
    ReplayPhase = 0;
}

bool GSL_ReplayArgSpan(const CommandContext* ctx, const char** begin, uint32_t* size) {
    if (!g_buf || ctx != &g_buf->context || ReplayPhase != 2 || g_buf->cursor >= g_buf->count) return false;
    const ReplayRecordT& r = g_buf->records[g_buf->cursor];
    *begin = r.text;
    *size = r.size;
    return true;
}

void GSL_ReplayRecord(const CommandContext* ctx) {
    if (!g_buf || g_buf->count >= kReplayRecords || !ctx || !ctx->script) return;
    const int32_t command = ctx->script->command;
    if (command < 0 || command >= kScriptCommands) return;
    ++g_buf->perCommand[command];
    g_buf->commands[g_buf->count] = int16_t(command);
    ReplayRecordT& r = g_buf->records[g_buf->count++];
    r.command = ctx->script->command;
    r.argCount = uint8_t(ctx->argCount < 0 ? 0 : ctx->argCount);
    std::memcpy(r.args, ctx->args, sizeof r.args);
    r.text = ctx->script->text;
    r.size = ctx->script->size;
    r.offset = ctx->script->readOffset;
}

void GSL_ReplayLoad(int32_t i) {
    if (!g_buf || i < 0 || i >= kReplayRecords) return;
    CommandContext& c = g_buf->context;
    const ReplayRecordT& r = g_buf->records[i];
    c.step = CMD_STEP_FIRST;
    c.argCount = int8_t(r.argCount);
    std::memcpy(c.args, r.args, sizeof c.args);
    std::memset(c.priv, 0, sizeof c.priv);
}

void GSL_ReplayDedupe(const CommandContext* ctx, int32_t command, int32_t, int32_t argPos, int32_t keep) {
    if (!g_buf || g_buf->count == 0 || !ctx || !ctx->script) return;
    if (command == -1) command = ctx->script->command;
    if (command < 0 || command >= kScriptCommands || g_buf->perCommand[command] == 0) return;
    static char key[kScriptWordSize];
    KeyOf(ctx, argPos, key, sizeof key);
    if (!key[0]) return;
    const size_t keyLen = std::strlen(key);
    auto same = [&](int32_t i) {
        if (g_buf->commands[i] != command) return false;
        const ReplayRecordT& r = g_buf->records[i];
        if (argPos < 0) return true;  // both "arg_default"
        return RecordKeyIs(r, argPos, key, keyLen);
    };
    int32_t m = 0;
    for (int32_t i = 0; i < g_buf->count; ++i) m += same(i) ? 1 : 0;
    if (m < 1 || m <= keep) return;
    for (int32_t i = 0; i < g_buf->count;) {
        if (!same(i)) {
            ++i;
            continue;
        }
        std::memmove(&g_buf->records[i], &g_buf->records[i + 1],
                     sizeof(ReplayRecordT) * size_t(g_buf->count - i - 1));
        std::memmove(&g_buf->commands[i], &g_buf->commands[i + 1], sizeof(int16_t) * size_t(g_buf->count - i - 1));
        --g_buf->count;
        --g_buf->perCommand[command];
        if (keep == 0 && argPos >= 0) break;
        if (--m <= keep) break;
    }
}

int32_t GSL_ReplayRun(ScriptState* script) {
    if (!script) return 1;
    if (g_buf && g_buf->script != script) {
        // The task that owned the buffer is gone.
        ScriptTaskWork* owner = GSL_ScriptTaskWork(g_buf->ownerSlot);
        if (owner && &owner->script == g_buf->script) return 0;
        Free();
    }
    if (!g_buf) {
        if (script->readOffset == 0) return 1;
        g_buf = static_cast<ReplayBuffer*>(Lib_MemAlloc(2, sizeof(ReplayBuffer), 8));
        if (!g_buf) {
            Lib_DebugPrintf("Error -> GSL_ReplayRun: no room for the replay buffer\n");
            return 1;
        }
        std::memset(static_cast<void*>(g_buf), 0, sizeof *g_buf);
        ScriptTaskWork* w = GSL_ScriptWorkOf(script);
        g_buf->script = script;
        g_buf->ownerSlot = w->ownSlot;
        g_buf->targetText = script->text;
        g_buf->targetOffset = script->readOffset;
        g_buf->context.script = w->context.script;
        g_buf->context.stage = w->context.stage;
        script->status |= SCRIPT_REPLAY_RUN;
        if (script->restartOffset > script->size) script->restartOffset = script->size;
        g_buf->targetAtLabel = g_buf->targetOffset <= script->restartOffset;
        script->readOffset = script->nextOffset = script->restartOffset;
        SystemKeep();
        PrepareSilent();
        ReplayPhase = 1;
    }
    if (ReplayPhase == 1 && !RunTowardsTarget(script)) return 0;
    while (g_buf->cursor < g_buf->count) {
        const ReplayRecordT& r = g_buf->records[g_buf->cursor];
        if (!g_buf->traced) {
            g_buf->traced = true;
            TraceRecord();
        }
        GSL_ScriptCommandGet(r.command).handler(&g_buf->context);
        if (script->status & SCRIPT_BUSY) return 0;
        ++g_buf->cursor;
        g_buf->traced = false;
        GSL_ReplayLoad(g_buf->cursor);
    }
    script->status &= ~SCRIPT_REPLAYING;
    Free();
    return 1;
}
