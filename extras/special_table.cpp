#include "extras/special_table.h"

#include <cstddef>
#include <cstring>

#include "script/game_blocks.h"
#include "story/access_flags.h"

namespace {

const SpecialEntry kSpecialTable[kSpecialCount] = {
    {"button_c8.ext", "special.txt", "*m1", "[0000]"},   {"button_c11.ext", "special.txt", "*m2", "[0001]"},
    {"button_c13.ext", "special.txt", "*m3", "[0002]"},  {"button_c20.ext", "special.txt", "*m4", "[0003]"},
    {"button_c23.ext", "special.txt", "*m5", "[0004]"},  {"button_c25.ext", "special.txt", "*m6", "[0005]"},
    {"button_c33.ext", "special.txt", "*m7", "[0006]"},  {"button_c34.ext", "special.txt", "*m8", "[0007]"},
    {"button_c37.ext", "special.txt", "*m9", "[0008]"},  {"button_c46.ext", "special.txt", "*m10", "[0009]"},
    {"button_c49.ext", "special.txt", "*m11", "[0010]"}, {"button_c52.ext", "special.txt", "*m12", "[0011]"},
    {"button_c60.ext", "special.txt", "*m13", "[0012]"}, {"button_c64.ext", "special.txt", "*m14", "[0013]"},
    {"button_c66.ext", "special.txt", "*m15", "[0014]"},
};

// The unlock word sits unaligned at 4377.
uint16_t Bits() {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&SystemDataBlock) + offsetof(SystemData, specialUnlock), 2);
    return v;
}
void SetBits(uint16_t v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&SystemDataBlock) + offsetof(SystemData, specialUnlock), &v, 2);
}

}  // namespace

SpecialEntry* GSL_SpecialGetEntry(SpecialEntry* out, int32_t i) {
    if (!out) return out;
    if (i < 0 || i >= kSpecialCount) std::memset(out, 0, sizeof *out);
    else std::memcpy(out, &kSpecialTable[i], sizeof *out);
    return out;
}

bool GSL_SpecialIsUnlocked(int32_t i) { return i >= 0 && i < kSpecialCount && ((Bits() >> i) & 1); }

int32_t GSL_SpecialRate() {
    int32_t k = 0;
    for (int32_t i = 0; i < kSpecialCount; ++i) k += GSL_SpecialIsUnlocked(i);
    return k * 100 / kSpecialCount;
}

void GSL_SpecialUnlockEval() {
    uint16_t bits = Bits();
    for (int32_t i = 0; i < kSpecialCount; ++i)
        if (GSL_VarRefEval(kSpecialTable[i].unlock) != 0) bits = uint16_t(bits | (1u << i));
    SetBits(bits);
}
