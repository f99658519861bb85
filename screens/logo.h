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

// The sequence's steps.
enum : int32_t { LOGO_STEP_INIT, LOGO_STEP_SHOW, LOGO_STEP_PLAY, LOGO_STEP_END };
// Sub-states of the play step, for each logo: START -> FADE_WAIT -> VOICE ->
// HOLD -> FADE_OUT, then the next logo's FADE_IN -> START (or the end step
// after the last).
enum : int32_t {
    LOGO_PLAY_START = 0,
    LOGO_PLAY_FADE_WAIT = 10,
    LOGO_PLAY_VOICE = 11,
    LOGO_PLAY_HOLD = 12,  // the logo's time, unless skipped
    LOGO_PLAY_FADE_OUT = 13,
    LOGO_PLAY_FADE_IN = 14,
};

// Minimum time of logo i in microseconds; 0 outside 0..3.
uint32_t GSL_LogoGetDuration(int32_t index);
