// Snapshot and restore of screen contexts. A push snapshots the suspended
// contexts and, unless they keep their resources, releases them; when the
// screen is on top again the restore driver reloads what was released, waits
// for the loads and the screen's script task, puts every attribute back and
// resumes the screen's tasks. Game thread only.
#pragma once

#include <cstdint>

#include "ui/mode.h"

// 0 before a restore starts, 1 while it waits for the reloads.
extern uint8_t WorkRestorePhase;

// Mode 0 (suspension: once per suspension, saves the frame rate and forces
// 60) or 1 (plain) copy of the live records into the context's slots.
void GSL_WorkSnapshot(int32_t index, uint8_t mode);
// A plain snapshot of the story screen's context, when it exists.
void GSL_ScriptWorkSnapshot();
// Reloads the layers, texts and endless sounds of a released context.
void GSL_WorkRestoreLoad(ModeFunction screen);
void GSL_WorkRestoreLoadAt(int32_t index);
// Re-makes the copies and writes the snapshot's attributes back.
void GSL_WorkRestoreAttrAt(int32_t index);
// One frame of the restore driver; true while it waits.
bool GSL_WorkRestoreStep();
