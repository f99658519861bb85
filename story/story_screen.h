// The story screen's dispatcher.
#pragma once

void GSL_StoryModeCB();
