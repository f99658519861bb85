#include "story/story_screen.h"

// Stand-in until the story screen exists.
void GSL_StoryModeCB() {}
