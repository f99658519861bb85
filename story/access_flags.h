// The unlock bits of the extras in SystemDataBlock: event pictures seen and
// music tracks heard, selected by name or id; and the "[n]" variable
// reference that the unlock conditions use.
#pragma once

#include <cstdint>

// op >= 1 sets the bit, op < 0 clears it, 0 queries. Returns the bit as it
// was, 0 when nothing was selected (then a debug line is written).
int32_t StoryAccessFlagGal(const char* name, int32_t id, int8_t op);
int32_t StoryAccessFlagBGM(const char* name, int32_t id, int8_t op);

// A reference that begins "[0", "[1" or "[2": n is its digits up to the
// first non-digit. False for anything else.
bool GSL_VarRefParse(const char* text, int32_t* n);
// Variable n: [0]..[23] of the system bank, [2000]..[2023] of the game
// bank, 0 for any other n.
int32_t GSL_VarRead(int32_t n);
// The value of a reference field, 0 when it is not one.
int32_t GSL_VarRefEval(const char* text);
