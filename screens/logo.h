// The logo sequence: the caution notice in the interface language, the
// holder logo with its brand call and the publisher logo, each held for its
// time or cut short by a key or a click, then the title screen.
#pragma once

#include <cstdint>

// The sequence's dispatcher.
void GSL_LogoModeCB();
bool GSL_LogoInit();
bool GSL_LogoShow();
bool GSL_LogoPlayMovie();
bool GSL_LogoEnd();
// Minimum time of logo i in microseconds; 0 outside 0..3.
uint32_t GSL_LogoGetDuration(int32_t index);
