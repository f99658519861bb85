// The first screen of the mode stack, the boot flow, and the manual viewer.
#pragma once

#include "ui/mode.h"

void GSL_BootModeCB();
void GSL_ManualModeCB();
