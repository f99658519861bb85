// Action presets: a layer picture's second point swung around where it stood
// in one of six repeating patterns (0 bob, 1 sway, 2 sway and drift, 3 wobble,
// 4 hop, 5 loop), built from angle sweeps turned into offsets by the sine.
// Like scale, rotation and colour, an action is carried from page to page by
// its copy; ids live in the StageRecord's action table (page * 12 + layer).
#pragma once

#include <cstdint>

#include "script/game_blocks.h"

int32_t ActionCB(void* work);
// Copies the action running on (srcPage, layer) onto (dstPage, layer),
// driving the destination slot's picture; nothing when there is none or it
// is asked to finish.
void ActionSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage);
// Starts preset `preset` on a layer picture: a turn (presets 0..3) or a
// sweep (4, 5) of `frames`, repeated trunc(repeat) times (negative: until
// stopped). No command makes one. The task slot, or -1.
int32_t GSL_LayerActionStart(StageRecord* stage, int32_t page, int32_t layer, int32_t preset, int32_t frames,
                             float amplitude1, float repeat, float amplitude2);
