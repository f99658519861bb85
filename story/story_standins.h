// The story-level state the script engine asks about, until the screens that
// own it exist: the play mode.
#pragma once

#include <cstdint>

// The story screen's play mode (bit value 1 skip, 4 auto); 0 until the story
// screen sets it.
extern uint32_t StoryPlayMode;
