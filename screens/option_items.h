// The option screen's items: the 26 widget templates, the binding of each
// item to its configuration byte, the drawing of the items from the
// configuration and one change of the item under the cursor.
#pragma once

#include <cstdint>

#include "screens/system_screens.h"

// Steps of the option screen; the font page (screens/font_page.h) returns
// to OPTION_MAIN.
enum OptionStep : int32_t {
    OPTION_INIT,
    OPTION_BUILD,
    OPTION_MAIN,
    OPTION_LEAVE,
    OPTION_RESET,
    OPTION_FONT_PAGE,
    OPTION_EXIT,
};
// The answers of GSL_OptionInput (screens/option.h).
enum : int32_t { OPTION_INPUT_STAY = 0, OPTION_INPUT_RESET = 1, OPTION_INPUT_FONTS = 2 };
inline constexpr int32_t kOptionItems = 24;          // selectable items 0..23
inline constexpr int32_t kOptionTemplates = 26;      // with the plate and the terminator
inline constexpr int32_t kOptionFirstIcon = 11;
inline constexpr int32_t kOptionLastItem = 23;
inline constexpr uint32_t kOptionFirstLayer = 10;    // item sprites: 10..62
inline constexpr uint32_t kOptionFirstText = 3;      // item texts: 3..49
inline constexpr int32_t kOptionItemSprites = 53;
inline constexpr int32_t kOptionItemTexts = 47;

// The option screen's own work, held by its context (word 0) and allocated
// from the screen heap.
struct OptionWork {
    int32_t heap;
    int32_t angle;           // colour cycle of the cursor plate
    int32_t cursor, previousCursor, scrollTop;
    int32_t bar;
    int32_t wipeOrDialog;
    int32_t loading;
    int32_t moveTask;
    int32_t dragItem, dragApplied;  // slider drag, -1 none
    int32_t seChannel, voiceChannel, sysVoiceChannel;
    int32_t keys[6];  // Left/1, Right/1, Up/5, Down/5, Left/5, Right/5
    int32_t barDragApplied;
    uint8_t barDrag;
    uint8_t digest[20];  // of bytes 5..93 on entry
    // Reset.
    int32_t resetCapture;
    int32_t resetLanguage;
    // Font page.
    int32_t dimmer, capture;
    int32_t rowPlate[2], rowText[2];
    int32_t listPlate[4], listText[4];
    int32_t listWindow;
    int32_t row;  // the row the cursor plate stands on
    float savedPlate[3], savedRow0[3];
};

// The configuration byte (offset in SystemData) of item n, -1 none.
int32_t GSL_OptionItemByte(int32_t item);
// The option screen's work while its context exists, else null.
OptionWork* GSL_OptionWork();
// 53 copies of the option sheet into layer slots 10..62 and 47 texts into
// text slots 3..49, in template order.
void GSL_OptionBuildItems();
// Lays the items out from the templates and the configuration; initial 0
// keeps every vertical position (the list scroll).
void GSL_OptionDrawItems(int32_t initial);
// Changes the item under the cursor by step and applies it at once.
void GSL_OptionChangeItem(int8_t step, uint8_t playSound);
