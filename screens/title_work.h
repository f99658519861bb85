// The title screen's header words and the pieces its two modules share:
// the screen steps (title_screen.cpp) and the menu (title_menu.cpp).
#pragma once

#include <cstdint>

#include "ui/mode.h"

enum : uint32_t {
    TITLE_LOADING = 0,      // loading indicator task, -1
    TITLE_FOLLOW = 1,       // 0 on to the story, 1 restart the title (idle)
    TITLE_INPUT = 2,        // selection input task, -1
    TITLE_LAST_CURSOR = 3,  // cursor the idle timer saw last, -1
    TITLE_IDLE_VOICE = 4,   // frames until the idle voice, 1 (0: spent)
    TITLE_ANGLE = 5,        // colour-cycle angle of the cursor item
    TITLE_WIPE = 6,         // wipe task, -1
    TITLE_MOVE = 7,         // move task of the movie skip, -1 (-2 after a skip)
    TITLE_LANGUAGE = 8,     // language remembered when another screen opens, -1
    TITLE_FLAGS = 9,        // bit 0: the quick-save panel held the input
};

enum : int32_t {
    TITLE_STEP_INIT = 0,
    TITLE_STEP_LOAD = 1,
    TITLE_STEP_INPUT = 2,
    TITLE_STEP_EXECUTE = 3,
    TITLE_STEP_BACK = 4,
    TITLE_STEP_WIPE_OUT = 5,
};

inline constexpr int32_t kTitleItems = 14;
inline constexpr uint32_t kTitleVoiceSlot = 22;

inline int32_t TitleWord(const ScreenWork* w, uint32_t i) { return int32_t(int64_t(w->words[i])); }
inline void TitleWordSet(ScreenWork* w, uint32_t i, int32_t v) { w->words[i] = uint64_t(int64_t(v)); }

// The interface language as an index 0..3.
int32_t TitleLanguage();
// The sprite of item i (layer slot i + 1), -1 when none.
int32_t TitleItemSprite(int32_t item);
