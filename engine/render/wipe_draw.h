// The drawing side of the rule-image wipe: the unit quad through the wipe
// programs with the revealed image at unit 0 and the rule at unit 1.
#pragma once

#include <cstdint>

#include "shaders/const_buf.h"

// Binds the wipe programs, `image` at unit 0 and `rule` at unit 1 (both
// through `sampler`), uploads cb at binding 0, sets blend state 0 and draws
// the quad's 6 indices. False, with nothing drawn, when the programs or the
// renderer are missing.
bool Lib_WipeQuadDraw(const ConstBuf& cb, uint32_t image, uint32_t rule, uint32_t sampler);
// Deletes a texture made by Lib_SpriteTexCreate and zeroes the name.
void Lib_WipeTexRelease(uint32_t* texture);
