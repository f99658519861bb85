// Message-text markup: the authoring constructs of scenario lines (ruby,
// size, colour, position, italic, weight, system font, escapes) rewritten
// into the engine's inline text tags and laid out for the message window with
// the line-break rules of the current language; the line-break classes and
// the line measuring they use; the wait icon's place and the voice test of
// the message window. Game thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/game_blocks.h"
#include "script/script_state.h"

// Room of the working copy, the output and the measuring string (1535 bytes
// and the terminator); a construct argument holds 63 bytes and the terminator.
inline constexpr size_t kMarkupSize = 1536;
inline constexpr size_t kMarkupArgSize = 64;

// False when the first characters of text and ch are the same character in
// either encoding (strcmp sense), compared over ch's UTF-8 length: an empty
// ch matches everything.
bool GSL_CharMatch(const char* text, const char* ch);
// Mode 0: 0 when the character is a closing mark of the language (it may not
// begin a line), else 1. Mode 1: 1 for an opening mark (it may not end a
// line), else 0. Languages outside 0..3 give 1 and 0.
int32_t GSL_KinsokuCheck(int32_t mode, const char* ch);
// The width of text from byte `start` on at the stage's text size, with the
// "#Size[" tags before start applied first.
float GSL_TextSizeParse(const StageRecord* stage, const char* text, uint32_t start);

// Converts one message line into out (outSize bytes, at most kMarkupSize
// used). columns < 0: 66, or 54 for a negative window frame; indentScale 0:
// 0.5. Nothing at all without a context or stage.
void GSL_MarkupConvert(CommandContext* ctx, const char* in, char* out, size_t outSize, bool hanging,
                       float columns, float indentScale);
// The same conversion for a past line read back outside the script: the
// indent is written "#Awt[" (a tag no text object reads; the reader turns it
// into a move or drops it) and every measuring is GSL_LineTextSizeParse's.
void GSL_TextToMarkup(CommandContext* ctx, const char* in, char* out, size_t outSize, bool hanging, float columns,
                      float indentScale);
// GSL_TextSizeParse with "#Awt[" measured as "#Pos[" and in font style 2.
float GSL_LineTextSizeParse(const StageRecord* stage, const char* text, uint32_t start);
// The wait icon's place at the end of the story screen's message; (395,
// -310, 0) when the story context, the icon or the message is missing.
float* GSL_TextPageMake(float out[3], const CommandContext* ctx);
// True while a voice channel of the story screen still sounds.
bool GSL_ContextCheck();
