// The story-level state the script engine asks about, until the screens that
// own it exist: the play mode, the staff roll and the gallery's access flags.
#pragma once

#include <cstdint>

// The story screen's play mode (bit value 1 skip, 4 auto); 0 until the story
// screen sets it.
extern uint32_t StoryPlayMode;
// True while the staff roll runs (never yet).
bool GSL_StaffrollIsActive();
// Flags a gallery picture (mode 1: unlocked); nothing is kept yet.
void StoryAccessFlagGal(const char* name, int32_t id, int32_t mode);
