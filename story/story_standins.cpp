#include "story/story_standins.h"

uint32_t StoryPlayMode = 0;
