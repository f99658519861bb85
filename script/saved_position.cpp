#include "script/saved_position.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "script/args.h"
#include "script/flow.h"
#include "script/game_blocks.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "script/syntax.h"

namespace {

constexpr int32_t kLabelCommand = 110;
constexpr int32_t kCallCommand = 111;
constexpr uint32_t kMembers = 1u << 12;   // what a packed position can name
constexpr uint32_t kCallsMax = 1u << 16;  // the calls of the container remembered
constexpr uint32_t kCallersMax = 16;      // files returning into one file that are looked for

// What became of a file of the histories: its member now, or why none.
constexpr int16_t kUnseen = -5, kSeeking = -4, kApart = -3, kGone = -2;

int32_t MemberOf(uint32_t position) { return int32_t(position >> 20); }
uint32_t OffsetOf(uint32_t position) { return position & 0xFFFFFu; }

bool MemberText(int32_t member, const char** text, uint32_t* size) {
    uint32_t at = 0;
    return member >= 0 && GSL_ScriptPositionText(GSL_ScriptPosition(member, 0), text, size, &at);
}

// The tag whose '<' lies at offset at of a text, cut as the interpreter cuts
// it: its command (-1 none), the offset behind its '>' in *next, and for a
// call the member it calls (-1 none) in *calls.
int32_t TagAt(const char* text, uint32_t size, uint32_t at, uint32_t* next, int32_t* calls) {
    // scratch: a private interpreter state and its buffers
    static ScriptTaskWork scan;
    static char tag[kScriptTagSize], word[kScriptWordSize];
    if (at >= size || text[at] != '<') return -1;
    ScriptState& s = scan.script;
    s.text = text;
    s.size = size;
    s.readOffset = s.nextOffset = at;
    s.status = 0;
    scan.context.script = &s;
    scan.context.argCount = 0;
    if (!GSL_ScriptTagCut(&s, tag, &scan.context, next)) return -1;
    const int32_t command = GSL_ScriptCommandFind(tag);
    if (command == kCallCommand) {
        GSL_ArgGet(&scan.context, nullptr, 0, word, sizeof word);
        *calls = GSL_ScriptCallTarget(word);
    }
    return command;
}

bool LabelAt(const char* text, uint32_t size, uint32_t offset) {
    uint32_t next = 0;
    int32_t calls = -1;
    return TagAt(text, size, offset, &next, &calls) == kLabelCommand;
}

bool LineAt(const char* text, uint32_t size, uint32_t offset) { return offset < size && text[offset] == '<'; }

// The member the <call> tag that ends at offset calls; -2 when no <call>
// ends there. Back to the '<' that starts a command: one in a quoted
// argument names none.
int32_t CallEndingAt(const char* text, uint32_t size, uint32_t offset) {
    if (offset == 0 || offset > size || text[offset - 1] != '>') return -2;
    for (uint32_t start = offset - 1; start > 0 && offset - start <= kScriptTagSize;) {
        uint32_t next = 0;
        int32_t calls = -1;
        const int32_t command = TagAt(text, size, --start, &next, &calls);
        if (command >= 0) return command == kCallCommand && next == offset ? calls : -2;
    }
    return -2;
}

// The file a return point comes from: the file whose label first recorded
// it, the one its <call> called (later labels of the call record it too,
// in that file or in one it jumps to).
int32_t CameFrom(uint32_t entry) {
    const GameState& g = GameStateBlock;
    uint32_t first = entry;
    for (uint32_t i = 0; i < entry; ++i)
        if (g.labelReturn[i] == g.labelReturn[entry]) {
            first = i;
            break;
        }
    return MemberOf(g.labelPos[first]);
}

// True when every label and return point of the label history stands where
// it should in the member it names: a return behind a <call> of the file it
// comes from.
bool LabelsFit() {
    const GameState& g = GameStateBlock;
    const char* text = nullptr;
    uint32_t size = 0;
    for (uint32_t i = 0; i < GSL_LabelCount(); ++i) {
        if (!MemberText(MemberOf(g.labelPos[i]), &text, &size) || !LabelAt(text, size, OffsetOf(g.labelPos[i])))
            return false;
        const uint32_t r = g.labelReturn[i];
        if (r && (!MemberText(MemberOf(r), &text, &size) || CallEndingAt(text, size, OffsetOf(r)) != CameFrom(i)))
            return false;
    }
    return true;
}

// The <call> tags of every member of the container: the offset behind each
// and the member it calls, member m's from first[m] to first[m + 1].
struct CallTable {
    uint32_t first[kMembers + 1];
    uint32_t end[kCallsMax];
    int16_t calls[kCallsMax];
};

void CallTableFill(CallTable* t) {
    uint32_t n = 0;
    for (uint32_t m = 0; m < kMembers; ++m) {
        t->first[m] = n;
        const char* text = nullptr;
        uint32_t size = 0;
        if (!MemberText(int32_t(m), &text, &size)) continue;
        ScriptState s{};
        s.text = text;
        s.size = size;
        for (;;) {
            GSL_ScriptSkipToTag(&s);
            uint32_t next = 0;
            int32_t calls = -1;
            const int32_t command = TagAt(text, size, s.readOffset, &next, &calls);
            if (command == -1 && (s.readOffset >= size || text[s.readOffset] != '<')) break;
            if (next <= s.readOffset) break;  // a tag that is not closed ends the text
            if (command == kCallCommand && n < kCallsMax) {
                t->end[n] = next;
                t->calls[n++] = int16_t(calls);
            }
            s.readOffset = next;
        }
    }
    t->first[kMembers] = n;
}

// How a return point was placed, or why it was not.
enum ReturnFate : uint8_t { RETURN_PLACED, RETURN_GONE, RETURN_APART, RETURN_NO_CALL, RETURN_CALLS };

// The fitting of one restored position: which member each file of the
// histories is now, and what became of each return point.
class Fitting {
public:
    // Forgets an earlier fitting: the saved file old is now member now.
    void Start(int32_t savedOld, int32_t savedNow) {
        for (int16_t& m : now_) m = kUnseen;
        now_[savedOld] = int16_t(savedNow);
        CallTableFill(&calls_);
    }

    // The member old is now, or kApart / kGone.
    int16_t Now(int32_t old) {
        if (old < 0 || uint32_t(old) >= kMembers) return kGone;
        int16_t& m = now_[old];
        if (m == kUnseen) {
            m = kSeeking;
            m = Find(old);
        }
        return m == kSeeking ? kGone : m;
    }

    // Places return point entry of the label history; its fate, and in *count
    // the calls found when there were several.
    ReturnFate Place(uint32_t entry, uint32_t* position, uint32_t* count) {
        const int16_t into = Now(MemberOf(*position));
        if (into == kApart) return RETURN_APART;
        if (into < 0) return RETURN_GONE;
        const int16_t from = Now(CameFrom(entry));
        const uint32_t offset = OffsetOf(*position);
        if (from < 0) {
            // Nothing to find its call by: it stays only where a call still ends.
            const char* text = nullptr;
            uint32_t size = 0;
            if (!MemberText(into, &text, &size) || CallEndingAt(text, size, offset) == -2) return RETURN_NO_CALL;
            *position = GSL_ScriptPosition(into, offset);
            return RETURN_PLACED;
        }
        uint32_t found = 0, at = 0;
        for (uint32_t k = calls_.first[into]; k < calls_.first[into + 1]; ++k) {
            if (calls_.calls[k] != from) continue;
            if (calls_.end[k] == offset) {  // the call it was behind
                found = 1, at = offset;
                break;
            }
            ++found, at = calls_.end[k];
        }
        *count = found;
        if (found != 1) return found ? RETURN_CALLS : RETURN_NO_CALL;
        *position = GSL_ScriptPosition(into, at);
        return RETURN_PLACED;
    }

private:
    // The one member where old's recorded labels and read lines stand and
    // that calls every file returning into old; else the one of either.
    int16_t Find(int32_t old) {
        const GameState& g = GameStateBlock;
        int16_t callers[kCallersMax];
        uint32_t callerCount = 0;
        for (uint32_t i = 0; i < GSL_LabelCount(); ++i) {
            if (!g.labelReturn[i] || MemberOf(g.labelReturn[i]) != old) continue;
            const int32_t from = CameFrom(i);
            const int16_t m = from == old ? kGone : Now(from);
            if (m < 0 || callerCount == kCallersMax) continue;
            bool known = false;
            for (uint32_t k = 0; k < callerCount; ++k) known = known || callers[k] == m;
            if (!known) callers[callerCount++] = m;
        }
        int16_t both = -1, standing = -1, calling = -1;
        uint32_t bothCount = 0, standingCount = 0, callingCount = 0;
        for (int32_t c = 0; GSL_ScriptMemberName(c) && uint32_t(c) < kMembers; ++c) {
            const bool stands = Stands(old, c), calls = callerCount > 0 && CallsAll(c, callers, callerCount);
            if (stands && calls) both = int16_t(c), ++bothCount;
            if (stands) standing = int16_t(c), ++standingCount;
            if (calls) calling = int16_t(c), ++callingCount;
        }
        for (const auto& [count, member] : {std::pair{bothCount, both}, std::pair{callingCount, calling},
                                            std::pair{standingCount, standing}}) {
            if (count == 1) return member;
            if (count > 1) return kApart;
        }
        return kGone;
    }

    // True when every label and read line recorded in member old stands on
    // its tag in member c.
    bool Stands(int32_t old, int32_t c) const {
        const GameState& g = GameStateBlock;
        const char* text = nullptr;
        uint32_t size = 0;
        if (!MemberText(c, &text, &size)) return false;
        for (uint32_t i = 0; i < GSL_LabelCount(); ++i)
            if (MemberOf(g.labelPos[i]) == old && !LabelAt(text, size, OffsetOf(g.labelPos[i]))) return false;
        // The read lines and the one a restore reads again.
        const uint32_t lines = GSL_ReadLineCount() < kReadLineSize ? GSL_ReadLineCount() + 1 : kReadLineSize;
        for (uint32_t j = 0; j < lines; ++j)
            if (MemberOf(g.readLinePos[j]) == old && !LineAt(text, size, OffsetOf(g.readLinePos[j]))) return false;
        return true;
    }

    bool CallsAll(int32_t c, const int16_t* callers, uint32_t count) const {
        for (uint32_t k = 0; k < count; ++k) {
            bool calls = false;
            for (uint32_t i = calls_.first[c]; i < calls_.first[c + 1] && !calls; ++i) calls = calls_.calls[i] == callers[k];
            if (!calls) return false;
        }
        return true;
    }

    int16_t now_[kMembers];
    CallTable calls_;
};

}  // namespace

void GSL_SavedPositionMend() {
    GameState& g = GameStateBlock;
    const uint32_t labels = GSL_LabelCount(), lines = GSL_ReadLineCount();
    if (labels == 0 || lines >= kReadLineSize) return;
    // A restored position: the read line restored and the label it starts
    // from are the last of their histories.
    const uint32_t line = g.readLinePos[lines];
    if (OffsetOf(line) != g.startOffset || OffsetOf(g.labelPos[labels - 1]) != g.restartOffset) return;
    char name[sizeof g.scriptName + 1];
    std::memcpy(name, g.scriptName, sizeof g.scriptName);
    name[sizeof g.scriptName] = 0;
    const int32_t now = GSL_ScriptMemberIndex(name);
    const char* text = nullptr;
    uint32_t size = 0;
    if (now < 0 || !MemberText(now, &text, &size)) return;  // told when the script task loads
    const int32_t old = MemberOf(line);
    const bool placed = LineAt(text, size, g.startOffset) && LabelAt(text, size, g.restartOffset);
    if (old == now && placed && LabelsFit()) return;

    // scratch: too large for the stack, filled afresh at each load
    static Fitting fit;
    fit.Start(old, now);
    // What each return point became, placed on the histories' member numbers
    // as they were saved.
    static ReturnFate fates[kLabelHistorySize];
    static uint32_t counts[kLabelHistorySize], returns[kLabelHistorySize];
    for (uint32_t i = 0; i < labels; ++i) {
        returns[i] = g.labelReturn[i];
        counts[i] = 0;
        fates[i] = returns[i] ? fit.Place(i, &returns[i], &counts[i]) : RETURN_PLACED;
    }
    // A file not found is named by a member number no container of fewer
    // members holds: neither a restore nor a return goes into another file.
    // A label or line of another file that no longer stands on its tag lies
    // past that file's end from here on: a run from it ends at once.
    const int32_t nowhere = GSL_ScriptMemberName(kMembers - 1) ? -1 : int32_t(kMembers - 1);
    auto map = [&](uint32_t& position, bool (*stands)(const char*, uint32_t, uint32_t)) {
        const int32_t was = MemberOf(position);
        const int16_t m = fit.Now(was);
        if (m < 0) {
            if (nowhere >= 0) position = GSL_ScriptPosition(nowhere, position);
            return;
        }
        const char* memberText = nullptr;
        uint32_t memberSize = 0;
        const bool moved = was != old && (!MemberText(m, &memberText, &memberSize) ||
                                          !stands(memberText, memberSize, OffsetOf(position)));
        position = GSL_ScriptPosition(m, moved ? 0xFFFFFu : position);
    };
    for (uint32_t i = 0; i < labels; ++i) {
        map(g.labelPos[i], LabelAt);
        // A return point not placed is dropped: its return ends the story.
        g.labelReturn[i] = fates[i] == RETURN_PLACED ? returns[i] : 0;
    }
    for (uint32_t j = 0; j <= lines; ++j) map(g.readLinePos[j], LineAt);

    // The returns the story will take, from the saved file outward, as the
    // return command looks them up (the newest label of the file that had
    // one); the first not placed ends the story, and no older label of its
    // file may stand in for it.
    char lost[1024] = "";
    int32_t file = now;
    for (uint32_t step = 0; step < labels && file >= 0 && !lost[0]; ++step) {
        int32_t h = int32_t(labels) - 1;
        while (h >= 0 && !(MemberOf(g.labelPos[h]) == file && returns[h])) --h;
        if (h < 0) break;
        if (fates[h] == RETURN_PLACED) {
            file = MemberOf(g.labelReturn[h]);
            continue;
        }
        for (int32_t i = 0; i <= h; ++i)
            if (MemberOf(g.labelPos[i]) == file) g.labelReturn[i] = 0;
        const char* from = GSL_ScriptMemberName(file);
        const char* into = GSL_ScriptMemberName(fit.Now(MemberOf(returns[h])));
        char why[512];
        switch (fates[h]) {
            case RETURN_GONE: std::snprintf(why, sizeof why, "a file that is no longer there"); break;
            case RETURN_APART: std::snprintf(why, sizeof why, "a file that cannot be told apart from another"); break;
            case RETURN_NO_CALL:
                std::snprintf(why, sizeof why, "%s, which has changed and no longer calls it", into ? into : "?");
                break;
            default:
                std::snprintf(why, sizeof why, "%s, which has changed and calls it in %u places", into ? into : "?",
                              unsigned(counts[h]));
                break;
        }
        std::snprintf(lost, sizeof lost, ", but %s returns into %s, so the story ends at that return",
                      from ? from : "?", why);
    }

    char label[256];
    uint32_t labelAt = g.restartOffset;
    GSL_InfoLabelNear(name, g.restartOffset, !placed, label, sizeof label, &labelAt);
    ScriptState at{};
    at.text = text;
    at.size = size;
    const unsigned lineNo = unsigned(GSL_ScriptLineOf(&at, placed ? g.restartOffset : labelAt));
    if (placed)
        GSL_ScriptReportLine("script %s:%u: the save at %s was made with other script files; it goes on there, found "
                             "by name%s",
                             name, lineNo, label[0] ? label : "its top", lost);
    else
        GSL_ScriptReportLine("script %s:%u: the save near %s was made with other script files and %s has changed "
                             "since; it goes on from the saved offset %u, which may not be where it was%s",
                             name, lineNo, label[0] ? label : "its top", name, unsigned(g.startOffset), lost);
}
