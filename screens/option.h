// The option screen: the item list with its voice-mute page, the display
// switch, the reset to the defaults and the font page (screens/font_page.h);
// on leaving, the configuration is applied and, when it changed, saved.
// GSL_OptionModeCB itself is declared in screens/system_screens.h.
#pragma once

#include <cstdint>

#include "screens/system_screens.h"

// One frame of the list's input: 0 stay, 1 open the reset question, 2 open
// the font page.
int32_t GSL_OptionInput();
// Moves the cursor plate and scrolls the list once the cursor changed.
void GSL_OptionScroll();
// Window to full screen, or back.
void GSL_OptionDisplaySwitch();
