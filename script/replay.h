// Restoring a saved position by re-running the script: a silent run from an
// earlier label and the main run from the restart offset let the
// presentation commands record themselves; the records that survive are then
// replayed with every wait at 0 frames.
#pragma once

#include <cstdint>

#include "script/script_state.h"

inline constexpr int32_t kReplayRecords = 2048;

// 0 idle, 1 silent and main runs, 2 replaying records.
extern int32_t ReplayPhase;

// How a handler acts, from the story script's status and its own context's.
enum ReplayMode {
    REPLAY_NORMAL,   // act
    REPLAY_RUN,      // main run (story status 128): record itself or do nothing
    REPLAY_SILENT,   // silent run (own status 0x200 under 128): record or do nothing; no flow side effects
    REPLAY_ACTING,   // replaying records (story status 0x100): act with 0-frame waits
};
ReplayMode GSL_ReplayModeGet(const CommandContext* ctx);
// True while the story script is in the replay run; with kind 1 also while
// it replays records.
bool GSL_SkipFlagGet(int32_t kind);

// GSL_ScriptCB's restore step: 1 when the position is reached (or there was
// nothing to restore), 0 to be called again next frame.
int32_t GSL_ReplayRun(ScriptState* script);
// Appends the context's current command (dropped past 2048 records).
void GSL_ReplayRecord(const CommandContext* ctx);
// Drops older records of command (-1: the context's) whose argument at
// argPos ("arg_default" for -1) equals the context's, keeping keep of them.
void GSL_ReplayDedupe(const CommandContext* ctx, int32_t command, int32_t unused, int32_t argPos, int32_t keep);
// Loads record i into the replay context.
void GSL_ReplayLoad(int32_t i);

// The replay's target text (null when none runs).
const char* GSL_ReplayTargetText();
// Number of records, and record i's command with the key of its argument at
// argPos ("arg_default" for -1) in out; -1 past the records.
int32_t GSL_ReplayCount();
int32_t GSL_ReplayRecordKey(int32_t i, int32_t argPos, char* out, uint32_t outSize);
// The text a context's argument pointers point into: a replayed record's
// member, else the context's script text. False for other contexts.
bool GSL_ReplayArgSpan(const CommandContext* ctx, const char** begin, uint32_t* size);
// Ends the replay of a script whose task ends (or whose work area is new).
void GSL_ReplayForget(const ScriptState* script);
// Forgets the buffer without freeing it, its heap being released, and sets
// the phase back (the run-wide reset).
void GSL_ReplayReset();
