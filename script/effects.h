// Stage effects: pictures of the story layers gliding to a goal (with a
// queue of further moves per layer), and the stage shaking in a decaying
// swing. Task ids live in the StageRecord tables, indexed page * 12 + layer;
// every read of one goes through GSL_EffectTaskGet.
#pragma once

#include <cstdint>

#include "engine/core/task.h"
#include "script/script_state.h"

// The table entry's task while its slot still holds a task of `callback`;
// otherwise the entry is cleared and -1 returned.
int32_t GSL_EffectTaskGet(int32_t* table, int32_t index, TaskCallback callback);
// Asks the effect tasks of a layer (page 0 fore, 1 back) to finish.
void GSL_LayerEffectsStop(StageRecord* stage, int32_t page, int32_t layer);

int32_t MoveCB(void* work);
int32_t ScaleCB(void* work);
int32_t RotCB(void* work);
int32_t AbgrCB(void* work);
int32_t QuakeCB(void* work);

// Moves the picture in story layer slot base + layer (base 0 or 12) to the
// sprite position (x, y, z) over frames; queued behind a running move.
void MoveSet(StageRecord* stage, int32_t base, int32_t layer, float x, float y, float z, int32_t frames);
// Copies of the effect running on (srcPage, layer) onto (dstPage, layer),
// driving the destination slot's picture from where the source stands; no
// effect of that kind on the source copies nothing.
void MoveSet2(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage);
void ScaleSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage);
void RotSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage);
void AbgrSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage);

// The kinds of GSL_LayerEffectStart.
enum : int32_t { EFFECT_SCALE = 1, EFFECT_ROT = 2, EFFECT_ABGR = 3 };
// Starts a scale (goal x, y), rotation (goal z angle) or colour (goal
// channels alpha, blue, green, red in 0..255) effect on a layer picture; no
// command makes one, only copies carry them over. The task slot, or -1.
int32_t GSL_LayerEffectStart(StageRecord* stage, int32_t kind, int32_t page, int32_t layer, const float* goals,
                             int32_t frames);

// Starts a quake of kind 0 (the stage cameras) or 1 (a private camera on the
// window's layers): amplitude in pixels over frames (negative: endless).
void QuakeSet(StageRecord* stage, int32_t kind, int32_t unused, int32_t amplitude, int32_t frames);

// The script commands.
void GSL_CmdMove(CommandContext* ctx);
void GSL_CmdStopMove(CommandContext* ctx);
void GSL_CmdWaitMove(CommandContext* ctx);
void GSL_CmdQuake(CommandContext* ctx);
void GSL_CmdStopQuake(CommandContext* ctx);
void GSL_CmdWaitQuake(CommandContext* ctx);
