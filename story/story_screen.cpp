#include "story/story_screen.h"

int32_t StoryCaptureSprite = -1;
