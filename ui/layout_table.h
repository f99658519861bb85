// The rectangles of the pieces cut from the interface sprite sheets: 218
// source rectangles in 11 groups (sizes 28, 13, 18, 12, 5, 32, 25, 34, 8,
// 11, 32), one group per family of screens.
#pragma once

#include <cstdint>

inline constexpr int32_t kLayoutGroups = 11;
inline constexpr int32_t kLayoutRects = 218;

// Pixels of the sheet, origin at its top-left corner, y downward.
struct LayoutRect {
    int32_t x, y, width, height;
};

// Writes rectangle `index` of `group` to out and returns out. A group outside
// 0..10 or an index outside its group gives {-1, 0, 0, 0}.
LayoutRect* GSL_LayoutGetRect(LayoutRect* out, int32_t group, int32_t index);
// Cuts sprite's source rectangle to rectangle `index` of `group`; a sprite
// that is not live, or a rectangle that does not exist, changes nothing.
void GSL_LayoutSpriteRect(int32_t sprite, int32_t group, int32_t index);
