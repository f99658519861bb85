// The logo sequence: the caution notice in the interface language, the
// holder logo with its brand call and the publisher logo, each held for its
// time or cut short by a key or a click, then the title screen.
#pragma once

#include <cstdint>

// The sequence's dispatcher. The boot flow still hands over to the logo
// stand-in (GSL_LogoModeCB) until the title and its menu take over its test
// hooks; this screen then takes that name.
void GSL_LogoSequenceModeCB();
bool GSL_LogoInit();
bool GSL_LogoShow();
bool GSL_LogoPlayMovie();
bool GSL_LogoEnd();
// Minimum time of logo i in microseconds; 0 outside 0..3.
uint32_t GSL_LogoGetDuration(int32_t index);
