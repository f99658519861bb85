// The title screen's header words and the pieces its two modules share:
// the screen steps (title_screen.cpp) and the menu (title_menu.cpp).
#pragma once

#include <cstdint>

#include "ui/mode.h"

// The title's work, held in its context's header words.
struct TitleHead {
    int32_t loading;     // loading indicator task, -1
    int32_t follow;      // 0 on to the story, 1 restart the title (idle)
    int32_t input;       // selection input task, -1
    int32_t lastCursor;  // cursor the idle timer saw last, -1
    int32_t idleVoice;   // frames until the idle voice, 1 (0: spent)
    int32_t angle;       // colour-cycle angle of the cursor item
    int32_t wipe;        // wipe task, -1
    int32_t move;        // move task of the movie skip, -1 (-2 after a skip)
    int32_t language;    // language remembered when another screen opens, -1
    int32_t flags;       // TITLE_BIT_*
};
static_assert(sizeof(TitleHead) <= sizeof(ScreenWork::words));
inline TitleHead* GSL_TitleHead(ScreenWork* w) { return w ? reinterpret_cast<TitleHead*>(w->words) : nullptr; }

// Bits of TitleHead::flags.
enum : int32_t {
    TITLE_BIT_PANEL = 1,      // the quick-save panel held the input
    TITLE_BIT_VOICE_CUT = 2,  // the chosen item's voice was cut, act now
};

enum : int32_t {
    TITLE_STEP_INIT = 0,
    TITLE_STEP_LOAD = 1,
    TITLE_STEP_INPUT = 2,
    TITLE_STEP_EXECUTE = 3,
    TITLE_STEP_BACK = 4,
    TITLE_STEP_WIPE_OUT = 5,
};

// Sub-states of the load step: the opening movie (when TitleFlags asks for
// it) START -> MOVIE_WAIT -> MOVIE -> (SKIP -> MOVIE), then the title
// picture PICTURES -> LOAD -> FLASH -> SHOW, then the menu and the call
// SETTLE -> MENU -> CALL -> CALL_WAIT, which hands over to the input step.
enum : int32_t {
    TITLE_LOAD_START = 0,
    TITLE_LOAD_MOVIE_WAIT = 1,  // until the movie's first frame shows
    TITLE_LOAD_MOVIE = 2,       // playing; a skip slides it away
    TITLE_LOAD_SKIP = 3,        // the skip's slide
    TITLE_LOAD_PICTURES = 10,   // loading indicator on
    TITLE_LOAD_LOAD = 11,       // the pictures load under a fade to black
    TITLE_LOAD_FLASH = 12,      // then the white flash
    TITLE_LOAD_SHOW = 13,       // the title picture, label and music
    TITLE_LOAD_SETTLE = 1000,   // one frame
    TITLE_LOAD_MENU = 1001,
    TITLE_LOAD_CALL = 1002,       // the title call once the music and fade are on
    TITLE_LOAD_CALL_WAIT = 1003,  // until the call has been spoken
};

// Sub-states of the execute step while another screen opens from the menu:
// FADE -> PUSH -> (that screen runs) RETURN -> BACK. FADE is also the
// execute step's entry, before any screen is open.
enum : int32_t {
    TITLE_GOTO_FADE = 0,
    TITLE_GOTO_PUSH = 1,
    TITLE_GOTO_RETURN = 2,
    TITLE_GOTO_BACK = 3,
};

// Sub-states of the wipe-out step: CHOOSE -> BLACK (new game or idle
// restart) or CHOOSE -> WIPE -> WIPE_READY -> WIPE_END (continue), then
// LEAVE.
enum : int32_t {
    TITLE_OUT_CHOOSE = 0,
    TITLE_OUT_BLACK = 40,
    TITLE_OUT_WIPE = 50,
    TITLE_OUT_WIPE_READY = 51,
    TITLE_OUT_WIPE_END = 52,
    TITLE_OUT_LEAVE = 999,
};

// The menu's items (layer slot item + 1); 1, 2, 11 and 12 never show.
enum : int32_t {
    TITLE_ITEM_NEW_GAME = 0,
    TITLE_ITEM_LOAD = 3,
    TITLE_ITEM_CONTINUE = 4,  // the quick-save slot
    TITLE_ITEM_OPTIONS = 5,
    TITLE_ITEM_EXTRAS = 6,
    TITLE_ITEM_GALLERY = 7,
    TITLE_ITEM_MUSIC_ROOM = 8,
    TITLE_ITEM_SPECIAL = 9,
    TITLE_ITEM_BACK = 10,
    TITLE_ITEM_MANUAL = 13,
};

inline constexpr int32_t kTitleItems = 14;
inline constexpr uint32_t kTitleVoiceSlot = 22;


// The interface language as an index 0..3.
int32_t TitleLanguage();
// The sprite of item i (layer slot i + 1), -1 when none.
int32_t TitleItemSprite(int32_t item);
