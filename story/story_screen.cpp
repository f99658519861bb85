#include "story/story_screen.h"

int32_t StoryCaptureSprite = -1;

// Stand-in until the story screen exists.
void GSL_StoryModeCB() {}
