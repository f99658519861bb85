#include "script/saved_position.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "engine/core/charcode.h"
#include "engine/core/util.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "script/syntax.h"

namespace {

constexpr int32_t kLabelCommand = 110;
constexpr int32_t kCallCommand = 111;
// The tags that record a read line.
constexpr int32_t kKeywaitCommand = 12;
constexpr int32_t kMenuCommand = 116;
constexpr uint32_t kMembers = 1u << 12;  // what a packed position can name
constexpr uint32_t kRecordMax = 1u << 20;
constexpr char kMagic[4] = {'V', 'N', 'S', '1'};
constexpr uint16_t kTop = 0xFFFF;  // a position with no label before it: its stretch starts at the top
constexpr uint32_t kPositionsMax = 2 * kLabelHistorySize + kReadLineSize + 1;
constexpr uint32_t kFileLabelsMax = 4096;

int32_t MemberOf(uint32_t position) { return int32_t(position >> 20); }
uint32_t OffsetOf(uint32_t position) { return position & 0xFFFFFu; }

bool MemberText(int32_t member, const char** text, uint32_t* size) {
    uint32_t at = 0;
    return member >= 0 && GSL_ScriptPositionText(GSL_ScriptPosition(member, 0), text, size, &at);
}

// The digest of a stretch: 64-bit FNV-1a, continued from h.
uint64_t StretchHash(uint64_t h, const char* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) h = (h ^ uint8_t(p[i])) * 0x100000001b3ull;
    return h;
}
constexpr uint64_t kHashStart = 0xcbf29ce484222325ull;

// A stretch's digest h (from its label to a position) taken on over the rest
// of the position's line: a line put in at the position changes it too.
uint64_t WithLine(uint64_t h, const char* text, uint32_t size, uint32_t at) {
    const void* lf = at < size ? std::memchr(text + at, '\n', size - at) : nullptr;
    const uint32_t end = lf ? uint32_t(static_cast<const char*>(lf) - text) + 1 : size;
    return StretchHash(h, text + at, end - at);
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

// Walks the tags of a text that start before `end`: f(command, called
// member, offset behind the tag) for each, until f says false. A tag that
// is not closed ends the text.
template <typename F>
void EachTag(const char* text, uint32_t size, uint32_t end, F f) {
    ScriptState s{};
    s.text = text;
    s.size = size;
    for (;;) {
        GSL_ScriptSkipToTag(&s);
        if (s.readOffset >= end) return;
        uint32_t next = 0;
        int32_t calls = -1;
        const int32_t command = TagAt(text, size, s.readOffset, &next, &calls);
        if (next <= s.readOffset || !f(command, calls, next)) return;
        s.readOffset = next;
    }
}

// The <call> tags of a member that call member `from`: how many, and the
// offset behind the last in *at.
uint32_t CallsOf(int32_t member, int32_t from, uint32_t* at) {
    const char* text = nullptr;
    uint32_t size = 0, found = 0;
    if (!MemberText(member, &text, &size)) return 0;
    EachTag(text, size, size, [&](int32_t command, int32_t calls, uint32_t next) {
        if (command == kCallCommand && calls == from) ++found, *at = next;
        return true;
    });
    return found;
}

// Whether a <call> of member `from` ends at offset `at` of a member.
bool CallEndsAt(int32_t member, int32_t from, uint32_t at) {
    const char* text = nullptr;
    uint32_t size = 0;
    if (from < 0 || !MemberText(member, &text, &size) || at == 0 || at > size || text[at - 1] != '>') return false;
    bool ends = false;
    EachTag(text, size, at, [&](int32_t command, int32_t calls, uint32_t next) {
        if (next == at) ends = command == kCallCommand && calls == from;
        return next < at;
    });
    return ends;
}

// The file a return point comes from: the file whose label first recorded
// it, the one its <call> called (later labels of the call record it too,
// in that file or in one it jumps to).
int32_t CameFrom(uint32_t entry) {
    const GameState& g = GameStateBlock;
    for (uint32_t i = 0; i < entry; ++i)
        if (g.labelReturn[i] == g.labelReturn[entry]) return MemberOf(g.labelPos[i]);
    return MemberOf(g.labelPos[entry]);
}

// --- The record -----------------------------------------------------------------
//
// Little-endian: "VNS1"; the state it belongs to (script name, 48 bytes; start
// and restart offsets; label and read-line counts, u32 each); u32 file count;
// for each file: i32 its member when saved, u8 name length and the name, the
// SHA-1 of its text, u16 label count and each label (u8 length, the name as
// the index holds it), u32 position count and each position by offset: u32
// offset, u16 its label (0xFFFF: the top), u32 the stretch's length (from the
// label's line to the position), u64 the digest of the stretch with the rest
// of the position's line.

struct Writer {
    uint8_t* p;
    uint32_t n = 0;
    bool ok = true;
    void Put(const void* data, uint32_t size) {
        if (!ok || n + size > kRecordMax) {
            ok = false;
            return;
        }
        std::memcpy(p + n, data, size);
        n += size;
    }
    template <typename T>
    void Value(T v) {
        Put(&v, sizeof v);
    }
};

struct Reader {
    const uint8_t* p;
    uint32_t size;
    uint32_t at = 0;
    bool ok = true;
    const uint8_t* Take(uint32_t n) {
        if (!ok || n > size - at) {
            ok = false;
            return nullptr;
        }
        at += n;
        return p + at - n;
    }
    template <typename T>
    T Value() {
        T v{};
        if (const uint8_t* q = Take(sizeof v)) std::memcpy(&v, q, sizeof v);
        return v;
    }
};

struct Header {
    char scriptName[48];
    uint32_t startOffset, restartOffset, labelCount, readLineCount;
};

Header HeaderOf(const GameState& g) {
    Header h{};
    // The name as far as its terminator: what lies behind it is not kept.
    std::memcpy(h.scriptName, g.scriptName, strnlen(g.scriptName, sizeof h.scriptName));
    h.startOffset = g.startOffset;
    h.restartOffset = g.restartOffset;
    h.labelCount = g.labelCount;
    h.readLineCount = g.readLineCount;
    return h;
}

// process-wide: scratch, the record made last, filled afresh by each save
uint8_t g_made[kRecordMax];
// process-wide: scratch, the positions a record is made of
uint32_t g_positions[kPositionsMax];
// process-wide: scratch, the labels of one file a record is made of
LabelRecord g_labels[kFileLabelsMax];

// process-wide: the record of the load under way, consumed by its story start
// (GSL_SavedScriptsForget, called by the run-state reset)
uint8_t g_loaded[kRecordMax];
uint32_t g_loadedSize = 0;
bool g_loadPending = false;

// The labels of one file in the index, by their offset.
uint32_t FileLabels(const char* name) {
    uint32_t n = 0;
    LabelRecord r;
    for (uint32_t i = 0; n < kFileLabelsMax && GSL_InfoRecordAt(i, &r); ++i)
        if (std::strcmp(r.file, name) == 0 && r.label[0]) g_labels[n++] = r;
    std::stable_sort(g_labels, g_labels + n,
                     [](const LabelRecord& a, const LabelRecord& b) { return a.offset < b.offset; });
    return n;
}

// One file of the record: its positions, from `first` of g_positions (sorted).
void FileWrite(Writer& w, int32_t member, const uint32_t* positions, uint32_t count) {
    const char* name = GSL_ScriptMemberName(member);
    const char* text = nullptr;
    uint32_t size = 0;
    if (!name || !MemberText(member, &text, &size)) return;
    const uint8_t nameLen = uint8_t(strnlen(name, 63));
    uint8_t sha[20];
    Lib_Sha1(text, size, sha);
    w.Value<int32_t>(member);
    w.Value<uint8_t>(nameLen);
    w.Put(name, nameLen);
    w.Put(sha, 20);
    const uint32_t labels = FileLabels(name);
    // The labels used, each by its place in g_labels, numbered in order.
    static uint16_t number[kFileLabelsMax];
    static uint16_t used[kFileLabelsMax];
    uint16_t usedCount = 0;
    for (uint32_t i = 0; i < labels; ++i) number[i] = kTop;
    struct Placed {
        uint32_t offset;
        uint16_t label;
        uint32_t delta;
        uint64_t hash;
    };
    static Placed placed[kPositionsMax];
    uint32_t k = 0, n = 0, from = 0;
    int32_t last = -1;
    uint64_t hash = kHashStart;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = OffsetOf(positions[i]);
        if (offset > size) continue;
        while (k < labels && g_labels[k].offset <= offset) ++k;
        const int32_t label = int32_t(k) - 1;
        const uint32_t start = label < 0 ? 0 : uint32_t(g_labels[label].offset);
        if (label != last) {
            last = label, hash = kHashStart, from = start;
        }
        hash = StretchHash(hash, text + from, offset - from);
        from = offset;
        uint16_t index = kTop;
        if (label >= 0) {
            if (number[label] == kTop) number[label] = usedCount, used[usedCount++] = uint16_t(label);
            index = number[label];
        }
        placed[n++] = {offset, index, offset - start, WithLine(hash, text, size, offset)};
    }
    w.Value<uint16_t>(usedCount);
    for (uint16_t i = 0; i < usedCount; ++i) {
        const char* label = g_labels[used[i]].label;
        const uint8_t len = uint8_t(strnlen(label, 63));
        w.Value<uint8_t>(len);
        w.Put(label, len);
    }
    w.Value<uint32_t>(n);
    for (uint32_t i = 0; i < n; ++i) {
        w.Value<uint32_t>(placed[i].offset);
        w.Value<uint16_t>(placed[i].label);
        w.Value<uint32_t>(placed[i].delta);
        w.Value<uint64_t>(placed[i].hash);
    }
}

// A file of the record as a load reads it.
struct RecordFile {
    int32_t old;
    char name[64];
    uint8_t sha[20];
    const uint8_t* labels;  // the label names, as written
    uint16_t labelCount;
    const uint8_t* positions;
    uint32_t positionCount;
    int32_t now;  // its member now, -1 none
    bool same;    // its text is the same
    uint32_t* placed;  // for a changed file, each position's offset now (kUnplaced: none), made at its first use
    mutable uint32_t found;  // the index of the position found last
};
constexpr uint32_t kPositionBytes = 18;

// process-wide: scratch, the files of the record of the load under way,
// read afresh by each load's fitting
RecordFile g_files[kMembers];
// process-wide: scratch, read afresh with g_files
uint32_t g_fileCount = 0;
// process-wide: scratch, the changed files' positions as they are placed now,
// made afresh by each load's fitting
uint32_t g_placed[kRecordMax / kPositionBytes];
// process-wide: scratch, how much of g_placed the load under way uses, made
// afresh with g_files
uint32_t g_placedUsed = 0;
constexpr uint32_t kUnplaced = 0xFFFFFFFFu;

// The files of the record of the load under way; false when it does not
// read whole or belongs to another state.
bool RecordRead(const GameState& g) {
    g_fileCount = 0;
    g_placedUsed = 0;
    Reader r{g_loaded, g_loadedSize};
    const uint8_t* magic = r.Take(4);
    const uint8_t* header = r.Take(sizeof(Header));
    if (!r.ok || std::memcmp(magic, kMagic, 4) != 0) return false;
    const Header h = HeaderOf(g);
    if (std::memcmp(header, &h, sizeof h) != 0) return false;
    const uint32_t files = r.Value<uint32_t>();
    if (!r.ok || files > kMembers) return false;
    for (uint32_t i = 0; i < files; ++i) {
        RecordFile& f = g_files[i];
        f.old = r.Value<int32_t>();
        const uint8_t nameLen = r.Value<uint8_t>();
        const uint8_t* name = r.Take(nameLen);
        const uint8_t* sha = r.Take(20);
        if (!r.ok || nameLen > 63) return false;
        std::memcpy(f.name, name, nameLen);
        f.name[nameLen] = 0;
        std::memcpy(f.sha, sha, 20);
        f.labelCount = r.Value<uint16_t>();
        f.labels = g_loaded + r.at;
        for (uint16_t l = 0; l < f.labelCount && r.ok; ++l) {
            const uint8_t len = r.Value<uint8_t>();
            if (len > 63) return false;
            r.Take(len);
        }
        f.positionCount = r.Value<uint32_t>();
        if (!r.ok || f.positionCount > kPositionsMax) return false;
        f.positions = r.Take(f.positionCount * kPositionBytes);
        if (!r.ok) return false;
        f.placed = nullptr;
        f.found = 0;
        f.now = GSL_ScriptMemberIndex(f.name);
        const char* text = nullptr;
        uint32_t size = 0;
        uint8_t digest[20];
        f.same = f.now >= 0 && MemberText(f.now, &text, &size) && (Lib_Sha1(text, size, digest), true) &&
                 std::memcmp(digest, f.sha, 20) == 0;
    }
    g_fileCount = files;
    return r.at == r.size;
}

RecordFile* FileOf(int32_t old) {
    for (uint32_t i = 0; i < g_fileCount; ++i)
        if (g_files[i].old == old) return &g_files[i];
    return nullptr;
}

// Label l of a file of the record into out (64 bytes), terminated; false
// when the file has no such label.
bool LabelOf(const RecordFile& f, uint16_t l, char* out) {
    out[0] = 0;
    if (l >= f.labelCount) return false;
    const uint8_t* p = f.labels;
    for (uint16_t i = 0; i < l; ++i) p += 1 + p[0];
    std::memcpy(out, p + 1, p[0]);
    out[p[0]] = 0;
    return true;
}

struct Stretch {
    uint16_t label;
    uint32_t delta;
    uint64_t hash;
};

Stretch StretchAt(const RecordFile& f, uint32_t i) {
    Stretch s;
    const uint8_t* p = f.positions + i * kPositionBytes;
    std::memcpy(&s.label, p + 4, 2);
    std::memcpy(&s.delta, p + 6, 4);
    std::memcpy(&s.hash, p + 10, 8);
    return s;
}

// The index of a position of a file of the record by its offset, or -1.
// The histories are read in order: the one behind the last found is tried
// first.
int32_t PositionIndex(const RecordFile& f, uint32_t offset) {
    uint32_t at = 0;
    const uint32_t next = f.found + 1;
    if (next < f.positionCount && (std::memcpy(&at, f.positions + next * kPositionBytes, 4), at == offset))
        return int32_t(f.found = next);
    uint32_t lo = 0, hi = f.positionCount;
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        std::memcpy(&at, f.positions + mid * kPositionBytes, 4);
        if (at < offset) lo = mid + 1;
        else hi = mid;
    }
    if (lo < f.positionCount) std::memcpy(&at, f.positions + lo * kPositionBytes, 4);
    if (lo >= f.positionCount || at != offset) return -1;
    f.found = lo;
    return int32_t(lo);
}

bool StretchOf(const RecordFile& f, uint32_t offset, Stretch* s) {
    const int32_t i = PositionIndex(f, offset);
    if (i >= 0) *s = StretchAt(f, uint32_t(i));
    return i >= 0;
}

// The offset now of label l of a file of the record, found by name; -1 when
// the file has it no longer.
int64_t LabelNow(const RecordFile& f, uint16_t l) {
    char label[64];
    if (!LabelOf(f, l, label)) return -1;
    const LabelRecord r = GSL_InfoFind(f.name, label);
    return std::strcmp(r.file, f.name) == 0 ? int64_t(r.offset) : -1;
}

// The offset now of each label of a file of the record (-1: gone), found by
// name in one look over the index, whatever the number of labels; valid until
// the next call.
const int64_t* LabelsNow(const RecordFile& f) {
    // scratch: filled afresh for each changed file a load places
    static int64_t now[1u << 16];
    static std::string_view names[1u << 16];
    static uint16_t byName[1u << 16];
    const uint8_t* p = f.labels;
    for (uint32_t l = 0; l < f.labelCount; ++l, p += 1 + p[0]) {
        names[l] = std::string_view(reinterpret_cast<const char*>(p + 1), p[0]);
        now[l] = -1;
        byName[l] = uint16_t(l);
    }
    std::sort(byName, byName + f.labelCount, [](uint16_t a, uint16_t b) { return names[a] < names[b]; });
    LabelRecord r;
    for (uint32_t i = 0; GSL_InfoRecordAt(i, &r); ++i) {
        if (std::strcmp(r.file, f.name) != 0 || !r.label[0]) continue;
        const std::string_view label(r.label);
        const uint16_t* at = std::lower_bound(byName, byName + f.labelCount, label,
                                              [](uint16_t a, std::string_view b) { return names[a] < b; });
        // The first record of a name is the one a jump finds.
        for (; at < byName + f.labelCount && names[*at] == label; ++at)
            if (now[*at] < 0) now[*at] = int64_t(r.offset);
    }
    return now;
}

// Where each position of a changed file stands now, in one pass over it: the
// positions are written by offset, so each label's stretches follow one
// another and grow, and one digest from the label runs through them all.
void PlaceAll(RecordFile& f) {
    f.placed = g_placed + g_placedUsed;
    g_placedUsed += f.positionCount;
    const char* text = nullptr;
    uint32_t size = 0;
    const bool found = MemberText(f.now, &text, &size);
    const int64_t* labels = found ? LabelsNow(f) : nullptr;
    uint16_t last = kTop;
    int64_t start = -1;  // the label's offset now, -1 while it has none
    uint64_t hash = kHashStart;
    uint32_t hashed = 0;  // the stretch's bytes in hash
    for (uint32_t i = 0; i < f.positionCount; ++i) {
        const Stretch s = StretchAt(f, i);
        f.placed[i] = kUnplaced;
        if (!found) continue;
        if (i == 0 || s.label != last || s.delta < hashed) {
            last = s.label;
            hash = kHashStart;
            hashed = 0;
            start = s.label == kTop ? 0 : s.label < f.labelCount ? labels[s.label] : -1;
        }
        if (start < 0 || uint64_t(start) + s.delta > size || uint64_t(start) + s.delta > 0xFFFFFu) continue;
        hash = StretchHash(hash, text + start + hashed, s.delta - hashed);
        hashed = s.delta;
        const uint32_t at = uint32_t(start + s.delta);
        const void* lf = std::memchr(text + at, '\n', size - at);
        const uint32_t end = lf ? uint32_t(static_cast<const char*>(lf) - text) + 1 : size;
        const uint64_t line = StretchHash(hash, text + at, end - at);
        if (line == s.hash) f.placed[i] = at;
        // The label's next stretch goes on past this line: the line is
        // digested once.
        if (i + 1 < f.positionCount) {
            const Stretch next = StretchAt(f, i + 1);
            if (next.label == s.label && next.delta >= end - start) hash = line, hashed = end - uint32_t(start);
        }
    }
}

// A saved position where it stands now: the same offset in an unchanged
// file, else the same stretch behind its label, found by name. False when it
// cannot be placed.
bool Place(uint32_t position, uint32_t* now) {
    RecordFile* f = FileOf(MemberOf(position));
    if (!f || f->now < 0) return false;
    if (f->same) {
        *now = GSL_ScriptPosition(f->now, position);
        return true;
    }
    const int32_t i = PositionIndex(*f, OffsetOf(position));
    if (i < 0) return false;
    if (!f->placed) PlaceAll(*f);
    if (f->placed[i] == kUnplaced) return false;
    *now = GSL_ScriptPosition(f->now, f->placed[i]);
    return true;
}

// How a return point was placed, or why it was not.
enum ReturnFate : uint8_t {
    RETURN_PLACED,
    RETURN_OTHER_CALL,  // placed behind the one call of a label other than the one it was called under
    RETURN_GONE,
    RETURN_NO_CALL,
    RETURN_CALLS,
    RETURN_UNSHOWN,     // without a record: behind no call of the file it comes from
    RETURN_UNSURE,      // without a record: behind such a call in more than one file
};

// Places return point entry of the label history: where it was in a file
// that has not changed, else where the same stretch follows its label, else
// behind the one <call> of the file it comes from; in *count the calls found
// when there were several.
ReturnFate PlaceReturn(uint32_t entry, uint32_t* position, uint32_t* count) {
    const RecordFile* into = FileOf(MemberOf(*position));
    if (!into || into->now < 0) return RETURN_GONE;
    if (Place(*position, position)) return RETURN_PLACED;
    const RecordFile* from = FileOf(CameFrom(entry));
    if (!from || from->now < 0) return RETURN_NO_CALL;
    uint32_t at = 0;
    *count = CallsOf(into->now, from->now, &at);
    if (*count != 1) return *count ? RETURN_CALLS : RETURN_NO_CALL;
    // The call the player was inside lay behind the label of the return's
    // stretch (-2: no label): the one call behind another is another call.
    Stretch s;
    char near[256];
    uint32_t labelAt = 0;
    GSL_InfoLabelNear(into->name, at, false, near, sizeof near, &labelAt);
    const bool stretch = StretchOf(*into, OffsetOf(*position), &s);
    *position = GSL_ScriptPosition(into->now, at);
    if (!stretch) return RETURN_PLACED;  // nothing to tell them apart by
    const int64_t was = s.label == kTop ? -2 : LabelNow(*into, s.label);
    return was == (near[0] ? int64_t(labelAt) : -2) ? RETURN_PLACED : RETURN_OTHER_CALL;
}

// Without a record a position is taken only where its file shows it: a
// saved line at a tag that records a line (kind 0), a label at a <label> tag
// with its label line before it and no tag between (1).
bool Stands(int32_t member, uint32_t offset, int kind) {
    const char* text = nullptr;
    uint32_t size = 0;
    if (!MemberText(member, &text, &size) || offset >= size) return false;
    uint32_t next = 0;
    int32_t calls = -1;
    const int32_t command = TagAt(text, size, offset, &next, &calls);
    if (kind == 0) return command == kKeywaitCommand || command == kMenuCommand;
    char label[256];
    uint32_t at = 0;
    GSL_InfoLabelNear(GSL_ScriptMemberName(member), offset, false, label, sizeof label, &at);
    if (command != kLabelCommand || !label[0]) return false;
    ScriptState s{};
    s.text = text;
    s.size = size;
    s.readOffset = at;
    GSL_ScriptSkipToTag(&s);
    return s.readOffset == offset;
}

void Tell(const char* name, const char* text, uint32_t size, uint32_t restart, bool lineKept, bool labelKept,
          const char* savedLabel, bool recorded, const char* lost) {
    char label[256];
    uint32_t labelAt = restart;
    GSL_InfoLabelNear(name, restart, false, label, sizeof label, &labelAt);
    if (!labelKept) label[0] = 0;
    ScriptState at{};
    at.text = text;
    at.size = size;
    const unsigned lineNo = unsigned(GSL_ScriptLineOf(&at, restart));
    const char* shown = label[0] ? label : "its top";
    char saved[300] = "";  // " at" the saved label, when it is known
    if (savedLabel[0]) std::snprintf(saved, sizeof saved, " at %s", savedLabel);
    if (!recorded && lineKept)
        GSL_ScriptReportLine("script %s:%u: the save at %s has no record of its script files; it goes on where the "
                             "save places it%s",
                             name, lineNo, shown, lost);
    else if (!recorded && labelKept)
        GSL_ScriptReportLine("script %s:%u: the save at %s has no record of its script files, and its line is no tag "
                             "of %s; it goes on from %s%s",
                             name, lineNo, shown, name, shown, lost);
    else if (!recorded)
        GSL_ScriptReportLine("script %s:%u: the save%s has no record of its script files, and its label is no label "
                             "of %s; it goes on from its top%s",
                             name, lineNo, saved, name, lost);
    else if (lineKept)
        GSL_ScriptReportLine("script %s:%u: the save at %s was made with other script files; it goes on there, found "
                             "by name%s",
                             name, lineNo, shown, lost);
    else if (labelKept)
        GSL_ScriptReportLine("script %s:%u: the save at %s was made with other script files and %s has changed "
                             "between %s and the saved line; it goes on from %s%s",
                             name, lineNo, shown, name, shown, shown, lost);
    else
        GSL_ScriptReportLine("script %s:%u: the save%s was made with other script files and %s no longer has "
                             "%s; it goes on from its top%s",
                             name, lineNo, saved, name, savedLabel[0] ? savedLabel : "its label", lost);
}

}  // namespace

uint32_t GSL_SavedScriptsMake(const GameState& g, const uint8_t** record) {
    *record = g_made;
    const uint32_t labels = g.labelCount > kLabelHistorySize ? kLabelHistorySize : g.labelCount;
    const uint32_t lines = g.readLineCount < kReadLineSize ? g.readLineCount + 1 : kReadLineSize;
    uint32_t n = 0;
    for (uint32_t i = 0; i < labels; ++i) {
        g_positions[n++] = g.labelPos[i];
        if (g.labelReturn[i]) g_positions[n++] = g.labelReturn[i];
    }
    for (uint32_t j = 0; j < lines; ++j) g_positions[n++] = g.readLinePos[j];
    std::sort(g_positions, g_positions + n);
    n = uint32_t(std::unique(g_positions, g_positions + n) - g_positions);
    Writer w{g_made};
    w.Put(kMagic, 4);
    w.Value(HeaderOf(g));
    uint32_t files = 0;
    for (uint32_t i = 0; i < n;) {
        uint32_t e = i;
        while (e < n && MemberOf(g_positions[e]) == MemberOf(g_positions[i])) ++e;
        files += GSL_ScriptMemberName(MemberOf(g_positions[i])) ? 1 : 0;
        i = e;
    }
    w.Value<uint32_t>(files);
    for (uint32_t i = 0; i < n;) {
        uint32_t e = i;
        while (e < n && MemberOf(g_positions[e]) == MemberOf(g_positions[i])) ++e;
        FileWrite(w, MemberOf(g_positions[i]), g_positions + i, e - i);
        i = e;
    }
    return w.ok && files ? w.n : 0;
}

void GSL_SavedScriptsLoaded(const uint8_t* record, uint32_t size) {
    g_loadPending = true;
    g_loadedSize = record && size <= kRecordMax ? size : 0;
    if (g_loadedSize) std::memcpy(g_loaded, record, g_loadedSize);
}

void GSL_SavedScriptsForget() {
    g_loadPending = false;
    g_loadedSize = 0;
}

void GSL_SavedPositionMend() {
    if (!g_loadPending) return;
    g_loadPending = false;
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
    const bool recorded = g_loadedSize && RecordRead(g) && FileOf(old);
    if (!recorded) g_fileCount = 0;
    if (recorded) {
        bool same = true;
        for (uint32_t i = 0; i < g_fileCount; ++i) same = same && g_files[i].same && g_files[i].now == g_files[i].old;
        if (same) return;  // every file as it was, where it was
    }
    // The saved label's name, as the record or the index holds it, and the
    // offset of its line now (when it has one).
    char savedLabel[256] = "";
    uint32_t labelLine = 0;
    bool labelFound = false;
    if (const RecordFile* f = FileOf(old); f) {
        Stretch s;
        char raw[64];
        if (StretchOf(*f, g.restartOffset, &s) && s.label != kTop && LabelOf(*f, s.label, raw)) {
            Lib_SjisToUtf8Buf(raw, savedLabel, sizeof savedLabel);
            const LabelRecord r = GSL_InfoFind(name, raw);
            labelFound = std::strcmp(r.file, name) == 0 && r.offset <= size;
            labelLine = labelFound ? uint32_t(r.offset) : 0;
        }
    }

    // Without a record the saved file's number stands for the file of the
    // saved name now, and a file a return comes back into for the one whose
    // call of the returning file stands behind the return point, at its
    // number or at the next or the one before (a file added or taken out in
    // front of it). A number nothing shows stands for no file, unless no
    // file is shown to have moved.
    // scratch: filled afresh at each load
    static int32_t movedTo[kMembers];
    if (!recorded) {
        for (uint32_t m = 0; m < kMembers; ++m) movedTo[m] = -1;
        movedTo[old] = now;
    }
    auto nowOf = [&](int32_t member) { return member >= 0 && uint32_t(member) < kMembers ? movedTo[member] : -1; };
    // A bare return point of entry i behind the call of the file it comes
    // from, in the one file that shows that call of the ones its number may
    // stand for now: its own, the one its file's move gives it, or the one
    // beside it (a file added or taken out).
    auto placeBare = [&](uint32_t i, uint32_t* position) {
        const uint32_t at = OffsetOf(*position);
        const int32_t into = MemberOf(*position), came = CameFrom(i), shift = now - old;
        // The caller's number now, when member c holds its call there: the
        // number known for it, else tried as the return's own.
        auto callerAt = [&](int32_t c) {
            if (c < 0 || uint32_t(c) >= kMembers) return -1;
            if (nowOf(came) >= 0) return CallEndsAt(c, nowOf(came), at) ? nowOf(came) : -1;
            for (const int32_t from : {came + shift, came, came + 1, came - 1})
                if (CallEndsAt(c, from, at)) return from;
            return -1;
        };
        const int32_t tries[] = {into + shift, into, into + 1, into - 1};
        int32_t found = -1, from = -1, fits = 0;
        for (const int32_t& c : tries) {
            if (std::find(tries, &c, c) != &c) continue;  // tried already
            const int32_t f = callerAt(c);
            if (f >= 0 && ++fits == 1) found = c, from = f;
        }
        if (fits != 1) return fits ? RETURN_UNSURE : RETURN_UNSHOWN;
        movedTo[into] = found;
        movedTo[came] = from;
        *position = GSL_ScriptPosition(found, at);
        return RETURN_PLACED;
    };

    // What each return point became, placed on the histories' member numbers
    // as they were saved: by the record, or without one behind the call
    // that shows it (the returns the story takes first, from the saved file
    // outward, then the rest).
    // scratch: filled afresh at each load
    static ReturnFate fates[kLabelHistorySize];
    static uint32_t counts[kLabelHistorySize], returns[kLabelHistorySize];
    static bool decided[kLabelHistorySize];
    for (uint32_t i = 0; i < labels; ++i) {
        returns[i] = g.labelReturn[i];
        counts[i] = 0;
        decided[i] = !returns[i] || recorded;
        if (!returns[i]) fates[i] = RETURN_PLACED;
        else if (recorded) fates[i] = PlaceReturn(i, &returns[i], &counts[i]);
    }
    auto decide = [&](uint32_t i) {
        if (decided[i]) return;
        decided[i] = true;
        fates[i] = placeBare(i, &returns[i]);
    };
    // The saved line and its label.
    // A label tag that cannot be placed goes on from its label's line, found
    // by name.
    uint32_t lineNow = 0, labelNow = 0;
    bool labelKept = recorded ? Place(g.labelPos[labels - 1], &labelNow)
                              : MemberOf(g.labelPos[labels - 1]) == old && Stands(now, g.restartOffset, 1);
    if (!recorded && labelKept) labelNow = GSL_ScriptPosition(now, g.restartOffset);
    const bool lineKept = labelKept && (recorded ? Place(line, &lineNow) && MemberOf(lineNow) == now
                                                 : Stands(now, g.startOffset, 0) &&
                                                       (lineNow = GSL_ScriptPosition(now, g.startOffset), true));
    labelKept = labelKept && MemberOf(labelNow) == now;
    if (recorded && !labelKept && labelFound) {
        labelNow = GSL_ScriptPosition(now, labelLine);
        labelKept = true;
    }
    const uint32_t restart = labelKept ? OffsetOf(labelNow) : 0;
    const uint32_t start = lineKept ? OffsetOf(lineNow) : restart;

    // The returns the story will take, from the saved file outward, as the
    // return command looks them up (the newest label of the file that had
    // one), on the saved member numbers; the first not placed ends the story,
    // and no older label of its file may stand in for it. The first that
    // lands behind another call than the one it was called from is told.
    // scratch: filled afresh at each load
    static uint32_t savedPos[kLabelHistorySize];
    std::memcpy(savedPos, g.labelPos, labels * sizeof savedPos[0]);
    char lost[1024] = "", other[1536] = "";
    int32_t ends = -1;  // the label entry whose file's return points are dropped, and all before it
    int32_t file = old;
    auto nameOf = [&](int32_t member) {
        const RecordFile* f = FileOf(member);
        const char* n = recorded ? (f ? f->name : nullptr) : GSL_ScriptMemberName(nowOf(member));
        return member == old ? name : n ? n : "?";
    };
    for (uint32_t step = 0; step < labels && !lost[0]; ++step) {
        int32_t h = int32_t(labels) - 1;
        while (h >= 0 && !(MemberOf(savedPos[h]) == file && g.labelReturn[h])) --h;
        if (h < 0) break;
        decide(uint32_t(h));
        const int32_t into = MemberOf(g.labelReturn[h]);
        if (fates[h] == RETURN_OTHER_CALL && !other[0])
            std::snprintf(other, sizeof other, ", and %s returns into %s behind a call of it under another label "
                          "than the one it was called under", nameOf(file), nameOf(into));
        if (fates[h] == RETURN_PLACED || fates[h] == RETURN_OTHER_CALL) {
            file = into;
            continue;
        }
        ends = h;
        char why[512] = "";
        switch (fates[h]) {
            case RETURN_GONE: std::snprintf(why, sizeof why, "%s, which is no longer there", nameOf(into)); break;
            case RETURN_NO_CALL:
                std::snprintf(why, sizeof why, "%s, which has changed and no longer calls it", nameOf(into));
                break;
            case RETURN_CALLS:
                std::snprintf(why, sizeof why, "%s, which has changed and calls it in %u places", nameOf(into),
                              unsigned(counts[h]));
                break;
            default: break;
        }
        if (fates[h] == RETURN_UNSHOWN || fates[h] == RETURN_UNSURE)
            std::snprintf(lost, sizeof lost,
                          ", but %s returns behind a call of it that %s where the save places it, so the story ends "
                          "at that return",
                          nameOf(file),
                          fates[h] == RETURN_UNSHOWN ? "the script files do not hold"
                                                     : "more than one script file holds");
        else
            std::snprintf(lost, sizeof lost, ", but %s returns into %s, so the story ends at that return",
                          nameOf(file), why);
    }
    for (uint32_t i = 0; i < labels; ++i) decide(i);
    // Without a record, when no file is shown to have moved, a number stands
    // for the file it names now.
    bool moved = false;
    for (uint32_t m = 0; !recorded && m < kMembers; ++m) moved = moved || (movedTo[m] >= 0 && movedTo[m] != int32_t(m));
    for (uint32_t m = 0; !recorded && !moved && m < kMembers; ++m)
        if (movedTo[m] < 0) movedTo[m] = int32_t(m);

    // A position not placed names a member no container of fewer members
    // holds, or lies past its file's end: a run from it ends at once, no
    // line of the backlog reads from another place, and no jump back takes it.
    const int32_t nowhere = GSL_ScriptMemberName(kMembers - 1) ? 0 : int32_t(kMembers - 1);
    auto map = [&](uint32_t& position, int kind) {
        uint32_t placed = 0;
        if (recorded ? Place(position, &placed) : Stands(nowOf(MemberOf(position)), OffsetOf(position), kind)) {
            position = recorded ? placed : GSL_ScriptPosition(nowOf(MemberOf(position)), OffsetOf(position));
            return;
        }
        const RecordFile* f = FileOf(MemberOf(position));
        position = GSL_ScriptPosition(f && f->now >= 0 ? f->now : nowhere, 0xFFFFFu);
    };
    for (uint32_t i = 0; i < labels; ++i) {
        const bool dropped = int32_t(i) <= ends && MemberOf(savedPos[i]) == file;
        map(g.labelPos[i], 1);
        // A return point not placed is dropped: its return ends the story.
        g.labelReturn[i] =
            (fates[i] == RETURN_PLACED || fates[i] == RETURN_OTHER_CALL) && !dropped ? returns[i] : 0;
    }
    for (uint32_t j = 0; j < lines; ++j) map(g.readLinePos[j], 0);
    g.labelPos[labels - 1] = GSL_ScriptPosition(now, restart);
    g.readLinePos[lines] = GSL_ScriptPosition(now, start);
    g.startOffset = start;
    g.restartOffset = restart;
    std::strncat(other, lost, sizeof other - std::strlen(other) - 1);
    Tell(name, text, size, restart, lineKept, labelKept, savedLabel, recorded, other);
}
