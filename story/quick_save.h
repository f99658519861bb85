// The quick save: one game state with its thumbnail and caption, kept in
// memory and in save slot 33, and the preview panel that shows it.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"

// The quick save's game state and whether it holds one.
extern uint8_t QuickDataPresent;
extern GameState QuickDataCache;
// -1 while no quick-data task runs.
extern int32_t SaveQuickGDGuard;
// The preview panel's task, -1 when none runs.
extern int32_t ShowQuickGDTask;

// Starts the quick-data task: mode 0 writes the quick save, mode 1 (boot)
// loads slot 33 into memory. Does nothing while a task runs.
void SaveQuickGDSet(uint32_t mode);
// Opens the preview panel centred at (x, y) when none runs and quick data
// exists; closes it.
void ShowQuickGDSet(float x, float y, int32_t priority);
void ShowQuickGDDel();
// The panel's state byte (-1 without a panel), and the caller's selection
// input it pauses while its delete question runs.
int32_t ShowQuickGDState();
void ShowQuickGDInputSet(int32_t inputId);
