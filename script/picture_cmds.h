// The picture commands of the story stage: pictures are loaded into the back
// page's layer slots (layer + 12), shown at once or gathered for the next
// transition, copied from the fore page, freed; and the transition commands
// that bring the back page to the front behind a rule-image wipe.
#pragma once

#include <cstdint>

#include "script/script_state.h"

// The layer a script word names: "base" is 10, a whole number 0..11 itself;
// -1 for anything else.
int32_t GSL_ScriptLayerParse(const char* word);

// 1 when a fore-page picture tag should show its page at once: in the replay
// modes, or when the next picture-relevant line after the tag is a text, a
// backlay, a trans, a move or a picture of the same layer. 0 for the back
// page, another layer's picture, a freeimage or the end of the text.
int32_t GSL_ScriptImageLookAhead(const CommandContext* ctx, int32_t fore);
// The scan of the look-ahead over text[0..size): lines from `from` on, with
// the layer word of the current tag. Bounded by size.
int32_t GSL_ImageLookAheadScan(const char* text, uint32_t size, uint32_t from, const char* layerWord);

// Priority of a layer picture: 10,000,000 - offset, clamped to the i32 range.
int32_t GSL_ImagePriority(int32_t offset);

void GSL_CmdTrans(CommandContext* ctx);
void GSL_CmdWaitTrans(CommandContext* ctx);
void GSL_CmdBackLay(CommandContext* ctx);
void GSL_CmdImage(CommandContext* ctx);
void GSL_CmdFreeImage(CommandContext* ctx);
