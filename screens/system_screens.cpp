#include "screens/system_screens.h"

// Stand-ins until the system screens exist.
void GSL_TitleModeCB() {}
void GSL_SaveModeCB() {}
void GSL_LoadModeCB() {}
