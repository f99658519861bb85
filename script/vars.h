// The scripts' variables ([0]..[23] in the system data, [2000]..[2023] in
// the game state, signed bytes), the condition and statement grammars, and
// the if / elseif / else / endif block skips.
#pragma once

#include <cstdint>

#include "script/script_state.h"

// The variable a text starting with '[' names, or null ("[5]" -> system
// variable 5); reads of null give 0 and writes are dropped.
int8_t* GSL_VarRef(const char* text);
// One comparison ("[2000]==3", "![2001]", "R18==1", "5").
bool GSL_CondEval(const char* text);
// Comparisons joined by "&&" or "||" (the last separator decides for all);
// an empty text is true.
bool GSL_CondEvalList(const char* text);
// One statement ("[2000]=rand(1,6)", "[2001]+=3", "[2002]++").
void GSL_ExprEval(const char* text);
// Statements joined by '&'.
void GSL_ExprEvalList(const char* text);

// Finds the first tag at or after the start offset (start -1: forwards from
// the offset after the current tag for direction 1, backwards for -1, from 0
// otherwise; start >= 0 only moves there) that begins with one of the tag
// texts or their numeric forms ("<123>" for "<endif>"). Sets the offset after
// the current tag to its '<' and returns it; -1 when none.
int32_t GSL_IfSkip(ScriptState* script, int32_t start, int32_t direction, const char* const* tags, int32_t count);
// Skips a block from the offset after the current tag: tags[0] opens a nested
// block, tags[1] closes one, tags[2..] also stop. Sets the offset after the
// current tag to the stopping tag's '<' and returns it; -1 when none.
int32_t GSL_IfSkip2(ScriptState* script, const char* const* tags, int32_t count);

// Draws in lo..hi (test seam: null restores Lib_Random).
using ScriptRandomFn = uint32_t (*)(uint32_t lo, uint32_t hi);
void GSL_ScriptRandomSet(ScriptRandomFn fn);
// rand(a, b) of a statement: a..b with the bounds in either order.
int32_t GSL_ScriptRand(int32_t a, int32_t b);
// How many draws GSL_ScriptRand has made in this process.
uint32_t GSL_ScriptRandDraws();

void GSL_CmdEval(CommandContext* ctx);
void GSL_CmdClearVar(CommandContext* ctx);
void GSL_CmdIf(CommandContext* ctx);
void GSL_CmdJumpEndif(CommandContext* ctx);
