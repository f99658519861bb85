// The in-game system menu: ten buttons slide in from the right over the
// dimmed, frozen story; each acts at once (skip, auto, quick save, quick
// load, title) or opens another screen above the menu (save, load, backlog,
// options, manual) and comes back when it leaves.
#pragma once

#include <cstdint>

#include "ui/mode.h"

inline constexpr int32_t kSysMenuButtons = 10;

// The menu's work, held in its context's header words.
struct SysMenuHead {
    int32_t input;     // selection input, -1 none
    int32_t lastMove;  // the title button's move task, -1 none
    int32_t dim;       // the dimming fade, -1 none
    int32_t dialog;    // confirmation dialog, -1 none
    int32_t visit;     // where a visit to another screen stands
    int32_t language;  // language byte before an options visit, -1 none
    int32_t angle;     // the cursor's pulse
    uint8_t confirm;   // the confirmation's voice started
    uint8_t font;      // 1 while the font name before an options visit is kept
    uint8_t voiced;    // the dialog's voice played
    void* copy;        // the game state kept over the save screen, null none
};
static_assert(sizeof(SysMenuHead) <= sizeof(ScreenWork::words));

// The buttons, top to bottom.
enum SysMenuButton : int32_t {
    MENU_BUTTON_SAVE = 0,
    MENU_BUTTON_LOAD = 1,
    MENU_BUTTON_QUICK_SAVE = 2,
    MENU_BUTTON_QUICK_LOAD = 3,
    MENU_BUTTON_SKIP = 4,
    MENU_BUTTON_AUTO = 5,
    MENU_BUTTON_BACKLOG = 6,
    MENU_BUTTON_OPTIONS = 7,
    MENU_BUTTON_MANUAL = 8,
    MENU_BUTTON_TITLE = 9,
};

// The menu's steps: INIT -> OPEN -> RUN; RUN -> EXECUTE -> RUN; RUN or
// EXECUTE -> CLOSE. The buttons take input in RUN.
enum : int32_t { MENU_STEP_INIT, MENU_STEP_OPEN, MENU_STEP_RUN, MENU_STEP_EXECUTE, MENU_STEP_CLOSE };

void GSL_SysMenuModeCB();
// The menu's work in context w (null: null).
SysMenuHead* GSL_SysMenuHead(ScreenWork* w);
const SysMenuHead* GSL_SysMenuHead(const ScreenWork* w);
// Layout index (group 5) of button i.
int32_t GSL_SysMenuItemIndex(int32_t i);
// Whether button i can be chosen now.
bool GSL_SysMenuItemEnabled(int32_t i);
