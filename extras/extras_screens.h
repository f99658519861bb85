// The extras screens' dispatchers and the special-scenario flag.
#pragma once

#include <cstdint>

// 1 while a special scenario started from the extras menu runs.
extern uint32_t SpecialScenarioFlag;

void GSL_SpecialModeCB();
void GSL_MusicRoomModeCB();
