// The extras screens' dispatchers. The special-scenario menu sets
// SpecialScenarioFlag (script/script_host.h) while its scenario runs.
#pragma once

#include <cstdint>

#include "script/script_host.h"

void GSL_SpecialModeCB();
void GSL_MusicRoomModeCB();
