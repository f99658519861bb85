// Moving between files and labels: the label index, packed script
// positions, the label and read-line histories of the game state, and the
// commands label, call, return and jump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/script_state.h"

#pragma pack(push, 1)
// One record of "00_info.bin".
struct LabelRecord {
    char label[64];   // with its '*'
    char file[64];
    uint64_t offset;  // of the label's line in that file
};
#pragma pack(pop)
static_assert(sizeof(LabelRecord) == 136);

// The return point the next label records; member -1 means none.
struct PendingCallPoint {
    int32_t member;
    uint32_t offset;
};
extern PendingCallPoint PendingCall;

// (member << 20) | (offset & 0xFFFFF); 0 means none. A position names one
// of the first kPositionMembers members of the script container.
inline constexpr uint32_t kPositionMembers = 4096;
inline uint32_t GSL_ScriptPosition(int32_t member, uint32_t offset) {
    return (uint32_t(member) << 20) | (offset & 0xFFFFFu);
}

// The record of a label in a file, or the default (label "0", file "0",
// offset 0) when the index lacks it.
LabelRecord GSL_InfoFind(const char* file, const char* label);
// Directory index of a member of the script container, or -1.
int32_t GSL_ScriptMemberIndex(const char* file);
// The name of member i of the script container, or null.
const char* GSL_ScriptMemberName(int32_t member);
// The text of a position: member text and size, and the offset (an offset
// past the member is its end). False when the member does not exist.
bool GSL_ScriptPositionText(uint32_t position, const char** text, uint32_t* size, uint32_t* offset);
// Newest label-history entry of a member (with a return point when
// pendingOnly), or -1.
int32_t GSL_HistoryFindMember(int32_t member, int32_t pendingOnly);
// The label and read-line counts of the game state, cut to their tables.
uint32_t GSL_LabelCount();
uint32_t GSL_ReadLineCount();
// Records the story script's current position: kind 0 in the label history
// (with the reference flag), kind 1 in the read-line history. A full history
// keeps the newest: the read lines let go of their oldest, the labels of
// their oldest entry that no return and no next line needs (the read lines'
// labels follow; a line whose label goes keeps kNoLabel).
void GSL_HistoryPosGet(int32_t kind, int32_t flag);
// Moves the context's script to a file (by name, or by member index when
// file is null) at a label's offset, or at offset. 1, or -1 when there is no
// story script task to take the name.
int32_t GSL_ScriptOpen(CommandContext* ctx, const char* file, const char* label, int32_t member, uint32_t offset);
// Where a tag stands: the script text it was read from and its offsets
// (its '<', and behind its '>').
struct ScriptTagPlace {
    const char* text;
    uint32_t start;
    uint32_t end;
};
// Tells the author, once for the tag's place, when the file or the given
// label a tag named for later (a choice) does not exist, or when it named
// neither; file empty is the running file. Nothing else changes.
void GSL_ScriptTargetTell(CommandContext* ctx, const ScriptTagPlace& place, const char* file, const char* label,
                          bool labelGiven);
// PendingCall from the newest entry of the game state's current script that
// holds a return point (none when there is none), at a story's start.
void GSL_PendingCallRearm();
// Where a return from the script's running file goes: the position (0 for
// nowhere) its newest label passed with a return point held. A full label
// history lets go of its oldest entries first, but never of one a return or
// the running file's next line needs: returns go as an unbounded history
// would take them.
uint32_t GSL_ReturnPoint(ScriptState* script);
// How often a label changed where a return of its file goes.
uint32_t GSL_LabelReturnChanges();
// No call pending and no label change counted (the run-state reset).
void GSL_CallStateReset();
// The label of a file whose line lies last at or before offset, or with
// nearest, the one whose line lies nearest to it ("" none), in UTF-8; its
// line's offset in *at.
void GSL_InfoLabelNear(const char* file, uint32_t offset, bool nearest, char* out, size_t outSize, uint32_t* at);
// Record i of the label index (its names terminated); false past its end.
bool GSL_InfoRecordAt(uint32_t i, LabelRecord* out);
// The member a call or jump of a file word goes to (its file-name part +
// ".txt"), or -1.
int32_t GSL_ScriptCallTarget(const char* word);

void GSL_CmdLabel(CommandContext* ctx);
void GSL_CmdCall(CommandContext* ctx);
void GSL_CmdReturn(CommandContext* ctx);
void GSL_CmdJump(CommandContext* ctx);
