// The in-game system menu: ten buttons slide in from the right over the
// dimmed, frozen story; each acts at once (skip, auto, quick save, quick
// load, title) or opens another screen above the menu (save, load, backlog,
// options, manual) and comes back when it leaves.
#pragma once

#include <cstdint>

#include "ui/mode.h"

inline constexpr int32_t kSysMenuButtons = 10;

// Words of the menu's context.
enum SysMenuWord : uint32_t {
    MENU_INPUT = 0,     // selection input, -1 none
    MENU_MOVE9 = 1,     // button 9's move task, -1 none
    MENU_DIM = 2,       // the dimming fade, -1 none
    MENU_RATE = 3,      // FrameRateConfig at entry
    MENU_CONFIRM = 4,   // the confirmation's voice started
    MENU_DIALOG = 5,    // confirmation dialog, -1 none
    MENU_COPY = 6,      // the game state kept over the save screen (address), 0 none
    MENU_GOTO = 7,      // counter of the screen visit
    MENU_LANGUAGE = 8,  // language byte before an options visit, -1 none
    MENU_FONT = 9,      // 1 while the font name before an options visit is kept
    MENU_ANGLE = 10,    // the cursor's pulse
    MENU_VOICED = 11,   // the dialog's voice played
};

void GSL_SysMenuModeCB();
// Layout index (group 5) of button i.
int32_t GSL_SysMenuItemIndex(int32_t i);
// Whether button i can be chosen now.
bool GSL_SysMenuItemEnabled(int32_t i);
