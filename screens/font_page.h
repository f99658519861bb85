// The option screen's font page (its step OPTION_FONT_PAGE): the interface
// language, from a list of four, and the font face, through the
// font-settings window.
#pragma once

#include <cstdint>

// The font-settings window's driver (Lib_FontAppRun); tests replace it.
extern uint8_t (*OptionFontAppRun)(const char* configured);

// Sub-states of the page: PAGE_START -> PAGE_OPEN -> PAGE_ROWS, the two
// rows taking input; row 0 opens LIST_START -> LIST_OPEN -> LIST ->
// LIST_CLOSE -> LIST_FONTS_WAIT (the chosen language's fonts) -> PAGE_ROWS,
// row 1 FACE_WINDOW -> PAGE_ROWS; a cancel PAGE_CLOSE.
enum : int32_t {
    FONT_PAGE_START = 0,
    FONT_PAGE_OPEN = 1,
    FONT_PAGE_ROWS = 10,
    FONT_LIST_START = 50,
    FONT_LIST_OPEN = 51,
    FONT_LIST = 52,
    FONT_LIST_CLOSE = 53,
    FONT_LIST_FONTS_WAIT = 54,
    FONT_FACE_WINDOW = 60,
    FONT_PAGE_CLOSE = 99,
};

// One frame of the page; back to the list (OPTION_MAIN) when it closes.
void GSL_OptionFontPage();
// Row 0 ("language : name") or row 1 ("face : name") into out.
void GSL_OptionFontLabel(int32_t row, char* out, uint32_t size);
