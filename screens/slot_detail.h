// The slot detail view of the load and save screens and the formatter of
// stored detail texts: the tokens NAME_n, SELECT_n, TEXT_n and SYSTEM_n stay
// in a slot as they are and are expanded in the language current when the
// view is shown.
#pragma once

#include <cstddef>
#include <cstdint>

#include "story/save_store.h"

inline constexpr size_t kDetailTextSize = 1536;
inline constexpr int32_t kDetailWrapColumns = 40;

// Expands the tokens of src into dst (dstSize bytes, cut on a character
// boundary). NAME_ keeps the name up to its '='; TEXT_ drops "#n" and the
// "/ruby:", "/size:", "/color:", "/pos:" spans. A token without digits, or
// with a number beyond 32 bits, stays as plain text. Null src or dst: nothing.
void Save_FormatText(const char* src, char* dst, size_t dstSize = kDetailTextSize);

// Appends text to out (length *len, room size) with line feeds inserted
// before the character that would pass 40 columns (wide characters count
// two); a line feed or "#n" starts a new line.
void Save_WrapAppend(char* out, size_t size, size_t* len, const char* text);

// The width in pixels the view's text takes for a label (scale 0.55,
// spacing 2 and 4, style 2); tests replace it.
extern int32_t (*SaveDetailMeasure)(const char* text);

// The view's whole text for slot `slot` with its stored info.
void Save_DetailCompose(char* out, size_t size, const SaveInfo& info, int32_t slot);
