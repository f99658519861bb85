// The colour pulse of a highlighted item and the pause of every screen
// widget (group 400) while something is open over the screen.
#pragma once

#include <cstdint>

// Shifts the colour of a sprite (or, with a negative sprite, of text object
// `text`) by the cosine of *angle and advances the angle by 5 degrees.
// red, green, blue are the base channels (0 keeps the current one); the
// colour word is red << 16 | green << 8 | blue with alpha kept.
void GSL_SystemColorCycle(int32_t sprite, int32_t text, int32_t red, int32_t green, int32_t blue, int32_t amplitude,
                          int32_t* angle);

// The first call on a buffer (0 or 1) saves the suspended byte of every
// group-400 task and sets it to `value`; the next call gives each task that
// still holds its slot its own byte back and frees the buffer.
void GSL_SystemTaskPause(uint8_t value, int32_t buffer);
