// The first screens of the mode stack: the boot flow and the logos, and the
// manual viewer.
#pragma once

void GSL_BootModeCB();
void GSL_LogoModeCB();
void GSL_ManualModeCB();
