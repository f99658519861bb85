#include "story/story_standins.h"

uint32_t StoryPlayMode = 0;

bool GSL_StaffrollIsActive() { return false; }

void StoryAccessFlagGal(const char*, int32_t, int32_t) {}
