// Problems of a running scenario told to its author: one line on stderr,
// whether tracing is on or not, naming the file and line of the tag, its
// control bytes escaped (Lib_TextEscaped: names and words come from scripts
// and saves). Each place is told once, and at most a few lines go out a
// second.
#pragma once

#include <cstdint>

#include "script/script_state.h"

// "vn: script FILE:LINE: " and the formatted text, for the tag whose '<' lies
// at offset of the script's text. Nothing when the place was told already or
// the second's lines are spent (the place is then told when it comes again).
void GSL_ScriptReport(const ScriptState* script, uint32_t offset, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// "vn: " and the formatted text, a line with no place of its own; within
// the second's lines.
void GSL_ScriptReportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same line, told even when the place or the second has been told.
void GSL_ScriptReportAlways(const ScriptState* script, uint32_t offset, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Tells the author when a resource the running tag names cannot be loaded:
// kind ("picture", "sound" ...), the name as written and the path looked
// for. Only for a tag that runs for itself (not while a saved position is
// restored); false when the file is missing.
bool GSL_ScriptResourceCheck(const CommandContext* ctx, const char* kind, const char* name, const char* path);
// The line (from 1) of an offset of a script's text.
uint32_t GSL_ScriptLineOf(const ScriptState* script, uint32_t offset);
// The current tag as written (from '<' to behind '>', cut to fit), in UTF-8.
const char* GSL_ScriptTagUtf8(const ScriptState* script, char* out, uint32_t outSize);
// The tag from offset start to end (behind its '>') of the script's text, the same way.
const char* GSL_ScriptTagUtf8At(const ScriptState* script, uint32_t start, uint32_t end, char* out, uint32_t outSize);
// Forgets the places told and the second's count (a new script container,
// a new run).
void GSL_ScriptReportReset();
