// The option screen's font page (its step 5): the interface language, from a
// list of four, and the font face, through the font-settings window.
#pragma once

#include <cstdint>

// The font-settings window's driver (Lib_FontAppRun); tests replace it.
extern uint8_t (*OptionFontAppRun)(const char* configured);

// One frame of the page; back to the list (step 2) when it closes.
void GSL_OptionFontPage();
// Row 0 ("language : name") or row 1 ("face : name") into out.
void GSL_OptionFontLabel(int32_t row, char* out, uint32_t size);
