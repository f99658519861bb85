// The interpreter task: runs one scenario script, one tag after another,
// each by the handler the command table names for it.
#pragma once

#include <cstdint>

#include "engine/files/container.h"
#include "script/script_state.h"

// Interpreter time (µs, Lib_TimerNow) a frame may take, in a run and in a
// restore's replay, before the task yields to the frame and goes on next
// frame: no scenario keeps the window from drawing or the program from
// closing.
inline constexpr uint64_t kScriptFrameBudgetUs = 4000;

// Creates the "GSL_ScriptCB" task for GameState's current script and start
// and restart offsets, and resets the stage (flags 2|4). Returns the task
// slot (which the caller records in task slot 0 of its context) or -1.
int32_t GSL_ScriptTaskSet();
int32_t GSL_ScriptCB(void* work);

// Executes one tag of a script whose state lies in a ScriptTaskWork.
void GSL_ScriptStep(ScriptState* script);
// The per-tag reset of the state and its command context.
void GSL_ScriptArgsReset(ScriptState* script);
// The loaded "script/script.arc", or null.
const ArcView* GSL_ScriptArcGet();
// Forgets the container checked and the one reported damaged: the next
// look-up checks (and reports) whatever the cache then holds as new.
void GSL_ScriptArcForget();
// True when no sprite of the story screen's layer slots 0..29 is still loading.
bool GSL_ScriptSpritesIdle(int32_t slot);
// Ends a script task from outside it once its sprites are idle: true when it
// was deleted. A task whose callback is running is refused (false); it ends
// through its finish request.
bool GSL_ScriptTaskEnd(int32_t slot);
// The script file name of a script task, or null.
char* GSL_ScriptTaskFileName(int32_t slot);
// The status of a live script task with a work area, else -1.
int32_t GSL_ScriptStatusGet(int32_t slot);
// The work area of a live script task, or null.
ScriptTaskWork* GSL_ScriptTaskWork(int32_t slot);
// The script state of the story screen's script task, or null.
ScriptState* GSL_ScriptStoryState();

// The command name of the tag at the script's read offset (up to the first
// separator), cut to outSize - 1 bytes; empty when no tag is there.
const char* GSL_ScriptTagName(const ScriptState* script, char* out, uint32_t outSize);

// Called before the first call of a handler for a tag: file, offset of the
// tag's '<', command index and the context with its arguments. A tag whose
// name the table lacks comes with its index outside 0..149 (-1 for none);
// no handler runs for it.
using ScriptTraceHook = void (*)(const char* file, uint32_t offset, int32_t index, const CommandContext* ctx);
void GSL_ScriptTraceSet(ScriptTraceHook hook);
// The line about a frame cut short by its tag limit is written once a run;
// after this (the run's reset), once more.
void GSL_ScriptTagLimitLogReset();
// With VN_SCRIPT_TRACE=1 in the environment: a trace that prints one line per
// command and a debug-log sink, both to stderr.
void GSL_ScriptTraceFromEnv();

ScriptTraceHook GSL_ScriptTraceGet();
// The work area a script state lies in (a task's, or the replay's silent run).
ScriptTaskWork* GSL_ScriptWorkOf(ScriptState* script);

// The newest label-history entry of a file (null: the story script's; with
// no story script, the newest entry), with a pending return point when
// pendingOnly; -1 for none.
int32_t GSL_HistoryFind(const char* file, int32_t pendingOnly);
