// Reading a command's arguments (by name "name:value" or by position), the
// scripts' small integer arithmetic, and the conversions the handlers share.
#pragma once

#include <cstdint>

#include "script/script_state.h"

struct ScriptPos {
    float x, y, z;
};

// The argument's text, one pair of enclosing quotes stripped, into out (cut
// to outSize - 1 bytes on a character boundary; empty when absent). A named
// lookup that finds nothing falls back to the position when it is >= 0.
void GSL_ArgGet(const CommandContext* ctx, const char* name, int32_t pos, char* out, uint32_t outSize);
// The argument as an integer with up to three of + - * / applied left to
// right in wrapping 32-bit arithmetic; -9999 when its text is empty.
int32_t GSL_ArgGetInt(const CommandContext* ctx, const char* name, int32_t pos);
// The leading decimal integer of text (optional sign; saturating), and in
// *used the bytes it took (0 when there are no digits).
int32_t GSL_ScriptAtoi(const char* text, uint32_t* used);

// Authoring sizes scaled by 4/3 (rounded up), unless the override is not 9999.
float GSL_Scale43f(float value, float override);
int32_t GSL_Scale43i(int32_t value, int32_t override);

// A script position (top-left corner, y down, -9999 = not given) of the
// picture in story layer slot base + layer, as the centre-origin sprite
// position (y up).
ScriptPos GSL_PosToScreen(int32_t base, int32_t layer, ScriptPos pos, float sx, float sy);

// Character index 0..11 of a voice file name, 12 for none.
int32_t GSL_CharaIndexFromName(const char* name);
// Copies text up to its first '=' into out, by whole characters.
void GSL_NameCut(const char* text, char* out, uint32_t outSize);
// Expands the keys NAME_n, SELECT_n, TEXT_n (script messages) and SYSTEM_n
// (system messages) into their texts; out is cut on a character boundary.
void GSL_TextIdExpand(const char* in, char* out, uint32_t outSize);
