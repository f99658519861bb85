#include "extras/extras_screens.h"

uint32_t SpecialScenarioFlag = 0;

// Stand-ins until the extras screens exist.
void GSL_SpecialModeCB() {}
void GSL_MusicRoomModeCB() {}
