// The story screen's dispatcher.
#pragma once

#include <cstdint>

void GSL_StoryModeCB();

// The save thumbnail's capture sprite (-1 none); its users free it.
extern int32_t StoryCaptureSprite;
