#include "extras/extras_screens.h"

uint32_t SpecialScenarioFlag = 0;
