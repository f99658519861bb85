// Applying the player's configuration (SystemData bytes 5..93): channel
// volumes, message-window opacity, the text edge, the language and its font
// files, the "[0018]" mirror of instant effects, the window title, and the
// option screen's labels after a language change.
#pragma once

#include <cstdint>

// The running font-load task (-1 none) and a reload request (negative: the
// font files must be loaded; set at start, since no font was made yet).
extern int32_t FontLoadTask;
extern int8_t FontReloadPending;
// Both as at start: no load task, the font files due on the next apply.
void GSL_ConfigFontStateReset();

// Bytes 10..13 onto the 23 channels, each scaled by the stage's factor.
void GSL_ConfigApplyVolume();
// The whole configuration; keepFont leaves the language and the fonts alone.
void GSL_ConfigApply(bool keepFont);
// False while the font load started by GSL_ConfigApply runs; then ends its
// task, fills an empty face name with the game's own face, and answers true.
bool GSL_ConfigFontWait();
