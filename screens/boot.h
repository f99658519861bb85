// The first screens of the mode stack: the boot flow and the logos.
#pragma once

void GSL_BootModeCB();
void GSL_LogoModeCB();
