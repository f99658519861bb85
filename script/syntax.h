// Script syntax: finding the next tag, cutting it into a command name and
// arguments, and the command table. Scripts are Shift-JIS: a byte of 0x81 or
// above outside 0xA0..0xDF leads a two-byte character whose second byte is
// never syntax. Members are not NUL-terminated; every scan stops at the size.
#pragma once

#include <cstdint>

#include "script/script_state.h"

// True for a Shift-JIS lead byte.
inline bool GSL_ScriptIsLead(uint8_t b) { return b > 0x80 && (b < 0xA0 || b > 0xDF); }

// Moves the read offset to the next '<' outside ';' comments, to a NUL, or to
// the size.
void GSL_ScriptSkipToTag(ScriptState* script);
// Cuts the tag whose '<' lies at the read offset: its text (at most 1535
// bytes) into tag, the argument pointers and count into ctx. True with the
// offset behind its '>' in *next; false when a NUL or the end comes first.
bool GSL_ScriptTagCut(const ScriptState* script, char* tag, CommandContext* ctx, uint32_t* next);
// Command index of a tag text beginning with '<': the table index of its
// name, or the number a numeric name gives (not range-checked); -1 for none.
int32_t GSL_ScriptCommandFind(const char* tag);
// The entry of an index (a free entry outside 0..149).
CommandEntry GSL_ScriptCommandGet(int32_t index);
// Copies the word of argument i (quotes kept, up to ' ', ',' or '>' outside
// quotes) into out of outSize bytes, cut on a character boundary. Nothing
// for an index outside the arguments; returns the word's full length.
uint32_t GSL_ScriptArgWord(const CommandContext* ctx, int32_t i, char* out, uint32_t outSize);

// The handler of entries that accept a tag and do nothing.
void GSL_CommandEmpty(CommandContext* ctx);
// Test seam: puts another table of 150 entries in place; null restores the
// constant one.
void GSL_ScriptCommandTableSet(const CommandEntry* table);
// The constant table.
const CommandEntry* GSL_ScriptCommandTable();
