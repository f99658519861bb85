// The page swap of the story stage: the prepared back page replaces the fore
// page behind a rule-image wipe, captured once or, while effects run, every
// frame with the new page lifted under the dissolving old picture.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"
#include "ui/widget_task.h"

// The flag byte's bit: a camera task runs on the fore page.
inline constexpr uint8_t STAGE_FLAG_CAMERA_TASK = 2;

// A stage camera task: its x, y (pixels) and zoom, each driven by a
// transition. Its motion is not built; the page swap folds a fore one into
// the fore stage cameras and deletes it.
struct StageCameraWork {
    WidgetWork head;
    int32_t trans[3];  // x, y, zoom
    float x, y, zoom;
};
int32_t CameraCB(void* work);

int32_t WipeCB(void* work);
// Starts a wipe of frames with the rule image `name`; at once while skipping
// or for frames <= 0; nothing while a wipe runs.
void WipeSet(StageRecord* stage, int32_t frames, const char* name);
// Swaps the pages: every fore layer becomes a copy of its back layer, with
// the back layer's effects carried over, and the cameras follow.
void WipeEnd(StageRecord* stage);
// Lifts (flag 1) the back page and the texts below the captured old
// picture, over a black backdrop, or puts them back (flag 0).
void WipeSpriteSet(StageRecord* stage, int32_t flag);
// The sprite of story layer slot base + layer, or -1.
int32_t GSL_LayerSpriteGet(int32_t base, int32_t layer);
