// The fifteen special scenarios: their constant rows, the unlock rule and
// the unlock bits (the u16 at byte 4377 of SystemDataBlock).
#pragma once

#include <cstdint>

struct SpecialEntry {
    char button[64];  // member of "visual/thumb/thumb2.arc"
    char script[32];
    char label[32];
    char unlock[32];  // a variable reference "[n]"
};
static_assert(sizeof(SpecialEntry) == 160);

inline constexpr int32_t kSpecialCount = 15;

// Copies row i into out (zeroed for i outside 0..14) and returns out.
SpecialEntry* GSL_SpecialGetEntry(SpecialEntry* out, int32_t i);
bool GSL_SpecialIsUnlocked(int32_t i);
// Unlocked entries in percent, k * 100 / 15 truncated.
int32_t GSL_SpecialRate();
// Sets the bit of every entry whose variable is non-zero; never clears one.
void GSL_SpecialUnlockEval();
