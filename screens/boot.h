// The first screens of the mode stack: the boot flow and the logos, and the
// manual viewer.
#pragma once

#include "ui/mode.h"

void GSL_BootModeCB();
void GSL_LogoModeCB();
void GSL_ManualModeCB();

// What W opens over the logo once the title's extras item is on (system
// variable [15]): the gallery, filled in by the top layer.
extern ModeFunction LogoExtrasScreen;
// What Tab and F3 open there: the music room and the special-scenario menu.
extern ModeFunction LogoMusicScreen;
extern ModeFunction LogoSpecialScreen;
