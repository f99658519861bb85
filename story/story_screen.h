// The story screen's dispatcher.
#pragma once

#include <cstdint>

#include "ui/wipe.h"  // StoryCaptureSprite

void GSL_StoryModeCB();
