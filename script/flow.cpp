#include "script/flow.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/task.h"
#include "engine/files/container.h"
#include "script/args.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "script/vars.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"

PendingCallPoint PendingCall = {-1, 0};

namespace {

constexpr char kInfoName[] = "00_info.bin";
constexpr uint32_t kInfoHeader = 8;

// The index member and the records that lie whole inside it.
struct InfoView {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t count = 0;
};

// Read at every lookup: a view kept from an earlier read would outlive its
// archive when another one came to lie at the same address.
InfoView InfoGet() {
    const ArcView* arc = GSL_ScriptArcGet();
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!arc || !Lib_ArcGetData(arc, kInfoName, -1, &data, &size) || !data || size < kInfoHeader) return {};
    int32_t count = 0;
    std::memcpy(&count, data, 4);
    const uint32_t whole = (size - kInfoHeader) / sizeof(LabelRecord);
    uint32_t use = count < 1 ? 0 : uint32_t(count);
    if (use > whole) {
        Lib_DebugPrintf("Error -> GSL_InfoFind(%s): %d records, %u fit\n", kInfoName, int(count), unsigned(whole));
        use = whole;
    }
    return InfoView{data, size, use};
}

// True when a 64-byte field holds exactly text (which is non-empty).
bool FieldIs(const char* field, const char* text) {
    const size_t n = std::strlen(text);
    return n > 0 && n < 64 && strnlen(field, 64) == n && std::memcmp(field, text, n) == 0;
}

ScriptTaskWork* StoryWork() { return GSL_ScriptTaskWork(GSL_ScriptStoryTask()); }

// The file name of the story script, or of the context's own script when
// there is no story script task.
const char* RunningName(CommandContext* ctx) {
    if (ScriptTaskWork* w = StoryWork()) return w->fileName;
    return GSL_ScriptWorkOf(ctx->script)->fileName;
}

void CopyName(char* out, const char* in) {
    if (out == in) return;
    std::snprintf(out, kScriptNameSize, "%s", in);
}

// A member found without regard to case goes by its own name from here on:
// the label index records its labels under that name.
void OwnName(char* name) {
    if (const char* own = GSL_ScriptMemberName(GSL_ScriptMemberIndex(name))) CopyName(name, own);
}

// name = file-name part of word + ".txt"; false when it does not fit.
bool TargetName(const char* word, char* out) {
    char base[256];
    Lib_PathGetName(word, base, 1);
    const int n = std::snprintf(out, kScriptNameSize, "%s.txt", base);
    return n > 0 && n < int(kScriptNameSize);
}

// What a tag whose target file or label does not exist leads to, for the
// author: the file runs from its top, or the running file (named) goes on
// from offset.
void MissText(char* what, size_t size, const char* tag, const char* name, const char* label, bool fileFound,
              const char* running, uint32_t offset) {
    char labelUtf8[256];
    Lib_SjisToUtf8Buf(label, labelUtf8, sizeof labelUtf8);
    if (fileFound)
        std::snprintf(what, size, "%s: %s has no label %s; it runs from its top", tag, name, labelUtf8);
    else
        std::snprintf(what, size, "%s: no script %s; %s goes on from %s", tag, name[0] ? name : "(no name)", running,
                      offset ? "the label of that name in it" : "its top");
}

// Tells the author of a jump or call whose file or label does not exist,
// once for its place. The same tag failing again before any command has
// waited is a loop that nothing ends: false then, after the line that says
// so, and the script ends.
bool MissTold(CommandContext* ctx, const char* name, const char* label, bool fileFound, uint32_t offset) {
    ScriptState* s = ctx->script;
    ScriptTaskWork* w = GSL_ScriptWorkOf(s);
    char tag[512], what[1024];
    GSL_ScriptTagUtf8(s, tag, sizeof tag);
    MissText(what, sizeof what, tag, name, label, fileFound, w->fileName, offset);
    if (w->missText == s->text && w->missOffset == s->readOffset) {
        GSL_ScriptReportAlways(s, s->readOffset, "%s, again without a wait between: the script ends", what);
        s->status = SCRIPT_ENDED;
        return false;
    }
    GSL_ScriptReport(s, s->readOffset, "%s", what);
    w->missText = s->text;
    w->missOffset = s->readOffset;
    return true;
}

// Moves the script to a named file at a label: the text of that member when
// it exists (else the text stays), the label's offset. The names follow the
// text. A given label (labelGiven) that the index lacks, or a missing file,
// is told to the author.
void OpenNamed(CommandContext* ctx, char* name, const char* label, bool labelGiven) {
    ScriptState* s = ctx->script;
    const ArcView* arc = GSL_ScriptArcGet();
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const bool found = arc && Lib_ArcGetData(arc, name, -1, &data, &size) && data;
    if (found) OwnName(name);
    uint64_t offset = 0;
    bool labelFound = true;
    if (label && label[0]) {
        const LabelRecord record = GSL_InfoFind(name, label);
        offset = record.offset;
        labelFound = FieldIs(record.file, name);
    }
    if ((!found || (labelGiven && !labelFound)) && !MissTold(ctx, name, label ? label : "", found, uint32_t(offset)))
        return;
    if (found) {
        s->text = reinterpret_cast<const char*>(data);
        s->size = size;
    } else {
        Lib_DebugPrintf("Error -> Lib_ArcGetData(%s)\n", name);
    }
    s->nextOffset = offset > s->size ? s->size : uint32_t(offset);
    if (!found) return;
    CopyName(GSL_ScriptWorkOf(s)->fileName, name);
    if (ScriptTaskWork* w = StoryWork()) CopyName(w->fileName, name);
}

uint32_t g_returnChanges = 0;  // labels that changed where a return of their file goes

// Label-history entries no return needs: for each file, its newest entry
// and its newest with a return point serve later lines and returns alike
// (kept 1); the returns pending from the running file outward, and the
// running file's newest entry, serve the next return and the next line
// (kept 2). The full history lets go of the oldest entry kept least.
int32_t EntryToDrop(int32_t running) {
    const GameState& g = GameStateBlock;
    const uint32_t count = GSL_LabelCount();
    // scratch: one bit a member, filled afresh at each drop
    static uint64_t newest[kPositionMembers / 64], returning[kPositionMembers / 64];
    static uint8_t kept[kLabelHistorySize];
    std::memset(newest, 0, sizeof newest);
    std::memset(returning, 0, sizeof returning);
    for (int32_t i = int32_t(count) - 1; i >= 0; --i) {
        const uint32_t m = (g.labelPos[i] >> 20) % kPositionMembers;
        const uint64_t bit = 1ull << (m % 64);
        kept[i] = 0;
        if (!(newest[m / 64] & bit)) newest[m / 64] |= bit, kept[i] = 1;
        if (g.labelReturn[i] && !(returning[m / 64] & bit)) returning[m / 64] |= bit, kept[i] = 1;
    }
    if (running >= 0) {
        const int32_t line = GSL_HistoryFindMember(running, 0);
        if (line >= 0) kept[line] = 2;
    }
    for (int32_t file = running, step = 0; file >= 0 && step < int32_t(count); ++step) {
        const int32_t h = GSL_HistoryFindMember(file, 1);
        if (h < 0 || kept[h] == 2) break;
        kept[h] = 2;
        file = int32_t(g.labelReturn[h] >> 20);
    }
    int32_t drop = 0;
    for (uint32_t i = 1; i < count; ++i)
        if (kept[i] < kept[drop]) drop = int32_t(i);
    return drop;
}

// Takes entry `drop` out of the label history; the read lines' labels
// follow, and a line whose label goes keeps none (no jump back reaches it).
void LabelDrop(int32_t drop) {
    GameState& g = GameStateBlock;
    const uint32_t count = GSL_LabelCount(), from = uint32_t(drop) + 1, n = count - from;
    std::memmove(&g.labelReturn[drop], &g.labelReturn[from], n * sizeof g.labelReturn[0]);
    std::memmove(&g.labelVars[drop], &g.labelVars[from], n * sizeof g.labelVars[0]);
    std::memmove(&g.labelPos[drop], &g.labelPos[from], n * sizeof g.labelPos[0]);
    std::memmove(&g.labelFlags[drop], &g.labelFlags[from], n * sizeof g.labelFlags[0]);
    std::memmove(&g.labelName[drop], &g.labelName[from], n * sizeof g.labelName[0]);
    g.labelCount = count - 1;
    // The line a restore heads for lies behind the counted ones.
    const uint32_t lines = g.readLineCount < kReadLineSize ? g.readLineCount + 1 : kReadLineSize;
    for (uint32_t j = 0; j < lines; ++j) {
        uint16_t& label = g.readLineLabel[j];
        if (label == uint16_t(drop)) label = kNoLabel;
        else if (label > drop && label != kNoLabel) --label;
    }
}

// Takes the oldest read line out of the full read-line history.
void LineDrop() {
    GameState& g = GameStateBlock;
    std::memmove(&g.readLineLabel[0], &g.readLineLabel[1], (kReadLineSize - 1) * sizeof g.readLineLabel[0]);
    std::memmove(&g.readLinePos[0], &g.readLinePos[1], (kReadLineSize - 1) * sizeof g.readLinePos[0]);
    g.readLineCount = kReadLineSize - 1;
}

}  // namespace

void GSL_ScriptTargetTell(CommandContext* ctx, const ScriptTagPlace& place, const char* file, const char* label,
                          bool labelGiven) {
    ScriptState* s = ctx->script;
    // The tag is told at its own place when it stands in the running text.
    const bool here = place.text == s->text;
    const uint32_t start = here ? place.start : s->readOffset, end = here ? place.end : s->nextOffset;
    char name[kScriptNameSize], tag[512], what[1024];
    GSL_ScriptTagUtf8At(s, start, end, tag, sizeof tag);
    const char* running = RunningName(ctx);
    if (!file[0] && !labelGiven) {
        GSL_ScriptReport(s, start, "%s: the choice names no file or label; %s runs again from its top", tag, running);
        return;
    }
    if (!file[0]) CopyName(name, running);
    else if (!TargetName(file, name)) name[0] = 0;
    const bool found = name[0] && GSL_ScriptMemberIndex(name) >= 0;
    if (found) OwnName(name);
    if (found && (!labelGiven || FieldIs(GSL_InfoFind(name, label).file, name))) return;
    MissText(what, sizeof what, tag, name, label, found, running, 0);
    GSL_ScriptReport(s, start, "%s", what);
}

LabelRecord GSL_InfoFind(const char* file, const char* label) {
    LabelRecord r{};
    r.label[0] = '0';
    r.file[0] = '0';
    if (!file || !label || !file[0] || !label[0]) return r;
    const InfoView info = InfoGet();
    for (uint32_t i = 0; i < info.count; ++i) {
        LabelRecord rec;
        std::memcpy(&rec, info.data + kInfoHeader + i * sizeof(LabelRecord), sizeof rec);
        if (FieldIs(rec.file, file) && FieldIs(rec.label, label)) {
            rec.label[63] = rec.file[63] = 0;
            return rec;
        }
    }
    return r;
}

int32_t GSL_ScriptMemberIndex(const char* file) {
    const ArcView* arc = GSL_ScriptArcGet();
    if (!arc || !file) return -1;
    const int64_t id = Lib_ArcGetFileID(arc, file);
    return id < 0 || id >= int64_t(arc->count) ? -1 : int32_t(id);
}

const char* GSL_ScriptMemberName(int32_t member) {
    const ArcView* arc = GSL_ScriptArcGet();
    if (!arc || member < 0 || uint32_t(member) >= arc->count) return nullptr;
    // The directory was checked when the container was opened: every entry
    // lies inside it with its name terminated.
    return reinterpret_cast<const char*>(arc->data + 8 + 72 * size_t(member));
}

bool GSL_ScriptPositionText(uint32_t position, const char** text, uint32_t* size, uint32_t* offset) {
    const ArcView* arc = GSL_ScriptArcGet();
    const uint8_t* data = nullptr;
    uint32_t n = 0;
    // Only the members the container has are asked for.
    if (!arc || (position >> 20) >= arc->count || !Lib_ArcGetData(arc, nullptr, int32_t(position >> 20), &data, &n) ||
        !data)
        return false;
    *text = reinterpret_cast<const char*>(data);
    *size = n;
    const uint32_t off = position & 0xFFFFFu;
    *offset = off > n ? n : off;
    return true;
}

uint32_t GSL_LabelCount() {
    return GameStateBlock.labelCount > kLabelHistorySize ? kLabelHistorySize : GameStateBlock.labelCount;
}

uint32_t GSL_ReadLineCount() {
    return GameStateBlock.readLineCount > kReadLineSize ? kReadLineSize : GameStateBlock.readLineCount;
}

int32_t GSL_HistoryFindMember(int32_t member, int32_t pendingOnly) {
    if (member < 0) return -1;
    for (int32_t i = int32_t(GSL_LabelCount()) - 1; i >= 0; --i) {
        if (int32_t(GameStateBlock.labelPos[i] >> 20) != member) continue;
        if (pendingOnly && GameStateBlock.labelReturn[i] == 0) continue;
        return i;
    }
    return -1;
}

int32_t GSL_HistoryFind(const char* file, int32_t pendingOnly) {
    if (GSL_LabelCount() == 0) return -1;
    if (!file) {
        ScriptTaskWork* w = StoryWork();
        if (!w) return int32_t(GSL_LabelCount()) - 1;
        file = w->fileName;
    }
    return GSL_HistoryFindMember(GSL_ScriptMemberIndex(file), pendingOnly);
}

void GSL_HistoryPosGet(int32_t kind, int32_t flag) {
    ScriptTaskWork* w = StoryWork();
    if (!w) return;
    const int32_t member = GSL_ScriptMemberIndex(w->fileName);
    if (member < 0) return;
    const uint32_t position = GSL_ScriptPosition(member, w->script.readOffset);
    GameState& g = GameStateBlock;
    if (kind == 0) {
        if (g.labelCount > kLabelHistorySize) g.labelCount = kLabelHistorySize;
        if (g.labelCount == kLabelHistorySize) LabelDrop(EntryToDrop(member));
        const uint32_t i = g.labelCount;
        std::memcpy(g.labelVars[i], g.gameVars, sizeof g.gameVars);
        g.labelPos[i] = position;
        g.labelFlags[i] = uint8_t(flag);
        if (PendingCall.member != -1) {
            const uint32_t point = GSL_ScriptPosition(PendingCall.member, PendingCall.offset);
            const int32_t was = GSL_HistoryFindMember(member, 1);
            g_returnChanges += was < 0 || g.labelReturn[was] != point;
            g.labelReturn[i] = point;
            std::memcpy(g.labelName[i], g.stage.name, sizeof g.labelName[i] - 1);
            g.labelName[i][sizeof g.labelName[i] - 1] = 0;
        } else {
            g.labelReturn[i] = 0;
        }
        g.labelCount = i + 1;
    } else if (kind == 1) {
        if (g.labelCount == 0) return;
        if (g.readLineCount >= kReadLineSize) LineDrop();
        int32_t label = GSL_HistoryFindMember(member, 0);
        if (label < 0) label = int32_t(GSL_LabelCount()) - 1;
        g.readLineLabel[g.readLineCount] = uint16_t(label);
        g.readLinePos[g.readLineCount] = position;
        ++g.readLineCount;
    }
}

int32_t GSL_ScriptOpen(CommandContext* ctx, const char* file, const char* label, int32_t member, uint32_t offset) {
    ScriptState* s = ctx->script;
    char name[kScriptNameSize];
    name[0] = 0;
    if (file) {
        if (!TargetName(file, name)) name[0] = 0;
    } else if (const char* n = GSL_ScriptMemberName(member)) {
        CopyName(name, n);
    }
    const ArcView* arc = GSL_ScriptArcGet();
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const bool found = name[0] && arc && Lib_ArcGetData(arc, name, -1, &data, &size) && data;
    if (found) {
        OwnName(name);
        s->text = reinterpret_cast<const char*>(data);
        s->size = size;
    } else {
        Lib_DebugPrintf("Error -> Lib_ArcGetData(%s)\n", name);
    }
    uint64_t at = offset;
    if (label && label[0]) at = GSL_InfoFind(name, label).offset;
    s->nextOffset = at > s->size ? s->size : uint32_t(at);
    if (found) CopyName(GSL_ScriptWorkOf(s)->fileName, name);
    ScriptTaskWork* w = StoryWork();
    if (!w) return -1;
    if (found) CopyName(w->fileName, name);
    return 1;
}

void GSL_PendingCallRearm() {
    PendingCall = {-1, 0};
    char name[sizeof GameStateBlock.scriptName + 1];
    std::memcpy(name, GameStateBlock.scriptName, sizeof GameStateBlock.scriptName);
    name[sizeof GameStateBlock.scriptName] = 0;
    const int32_t h = GSL_HistoryFindMember(GSL_ScriptMemberIndex(name), 1);
    if (h < 0) return;
    const uint32_t r = GameStateBlock.labelReturn[h];
    if (r != 0) PendingCall = {int32_t(r >> 20), r & 0xFFFFFu};
}

void GSL_InfoLabelNear(const char* file, uint32_t offset, bool nearest, char* out, size_t outSize, uint32_t* at) {
    out[0] = 0;
    const InfoView info = InfoGet();
    uint64_t best = 0;
    for (uint32_t i = 0; i < info.count; ++i) {
        LabelRecord rec;
        std::memcpy(&rec, info.data + kInfoHeader + i * sizeof(LabelRecord), sizeof rec);
        rec.label[63] = 0;
        if (!FieldIs(rec.file, file) || (!nearest && rec.offset > offset)) continue;
        const uint64_t distance = rec.offset > offset ? rec.offset - offset : offset - rec.offset;
        if (out[0] && distance >= best) continue;
        best = distance;
        *at = uint32_t(rec.offset);
        Lib_SjisToUtf8Buf(rec.label, out, uint32_t(outSize));
    }
}

bool GSL_InfoRecordAt(uint32_t i, LabelRecord* out) {
    const InfoView info = InfoGet();
    if (i >= info.count) return false;
    std::memcpy(out, info.data + kInfoHeader + i * sizeof(LabelRecord), sizeof *out);
    out->label[63] = out->file[63] = 0;
    return true;
}

int32_t GSL_ScriptCallTarget(const char* word) {
    char name[kScriptNameSize];
    return TargetName(word, name) ? GSL_ScriptMemberIndex(name) : -1;
}

void GSL_CmdLabel(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_SILENT) return;
    if (mode == REPLAY_RUN && GSL_ReplayTargetText() == ctx->script->text &&
        ctx->script->readOffset == ctx->script->restartOffset)
        return;
    int32_t ref = GSL_ArgGetInt(ctx, "ref", 1);
    if (ref == kScriptMissing) ref = 1;
    GSL_HistoryPosGet(0, ref != 0);
}

void GSL_CmdCall(CommandContext* ctx) {
    if (GSL_ReplayModeGet(ctx) == REPLAY_SILENT) {
        ctx->script->status |= SCRIPT_ENDED;
        return;
    }
    char file[kScriptWordSize], label[kScriptWordSize], name[kScriptNameSize];
    GSL_ArgGet(ctx, nullptr, 0, file, sizeof file);
    GSL_ArgGet(ctx, nullptr, 1, label, sizeof label);
    const bool labelGiven = label[0] != 0;
    if (!labelGiven) std::strcpy(label, "top");
    PendingCall = {GSL_ScriptMemberIndex(RunningName(ctx)), ctx->script->nextOffset};
    if (!TargetName(file, name)) name[0] = 0;
    OpenNamed(ctx, name, label, labelGiven);
}

void GSL_CmdReturn(CommandContext* ctx) {
    ScriptState* s = ctx->script;
    if (ctx->step == CMD_STEP_LAST) {
        s->status &= ~SCRIPT_BUSY;
        return;
    }
    if (GSL_ReplayModeGet(ctx) == REPLAY_SILENT) {
        s->status |= SCRIPT_ENDED;
        return;
    }
    const uint32_t r = GSL_ReturnPoint(s);
    if (r != 0) {
        PendingCall = {-1, 0};
        GSL_ScriptOpen(ctx, nullptr, nullptr, int32_t(r >> 20), r & 0xFFFFFu);
        return;
    }
    // No return point: the story screen's task ends through its finish
    // request (it must not be deleted from inside its own command), and the
    // screen lets go of its id. Without a story task the script's own ends.
    s->status |= SCRIPT_BUSY;
    const ModeFunction story = GSL_ScreenOf(SCREEN_STORY);
    if (story && GSL_ScriptTaskWork(GSL_WorkTaskGet(story))) {
        GSL_WorkTaskEnd(story, 0);
    } else {
        const int32_t slot = GSL_ScriptWorkOf(s)->ownSlot;
        if (slot >= 0 && slot < kTaskSlots && TaskTable.slots[slot]) TaskTable.slots[slot]->finishRequest = 1;
    }
    ctx->step = CMD_STEP_LAST;
}

uint32_t GSL_ReturnPoint(ScriptState* s) {
    const int32_t i = GSL_HistoryFindMember(GSL_ScriptMemberIndex(GSL_ScriptWorkOf(s)->fileName), 1);
    return i >= 0 ? GameStateBlock.labelReturn[i] : 0;
}

uint32_t GSL_LabelReturnChanges() { return g_returnChanges; }

void GSL_CallStateReset() {
    PendingCall = {-1, 0};
    g_returnChanges = 0;
}

void GSL_CmdJump(CommandContext* ctx) {
    char file[kScriptWordSize], label[kScriptWordSize], cond[kScriptWordSize], name[kScriptNameSize];
    GSL_ArgGet(ctx, nullptr, 2, cond, sizeof cond);
    if (cond[0] && !GSL_CondEvalList(cond)) return;
    GSL_ArgGet(ctx, nullptr, 0, file, sizeof file);
    GSL_ArgGet(ctx, nullptr, 1, label, sizeof label);
    const bool labelGiven = label[0] != 0;
    if (!labelGiven) std::strcpy(label, "top");
    if (!file[0]) CopyName(name, RunningName(ctx));
    else if (!TargetName(file, name)) name[0] = 0;
    OpenNamed(ctx, name, label, labelGiven);
}
