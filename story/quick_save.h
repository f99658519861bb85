// The quick save: one game state with its thumbnail and caption, kept in
// memory and in save slot 33, and the preview panel that shows it.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"
#include "story/save_store.h"

inline constexpr int32_t kQuickThumbWidth = 320;
inline constexpr int32_t kQuickThumbHeight = 180;
inline constexpr uint32_t kQuickThumbSize = 320u * 180u * 4u;  // B, G, R, A
// Caption bytes before the ellipsis.
inline constexpr uint32_t kQuickCaptionLimit = 60;

// The quick save's game state and whether it holds one.
extern uint8_t QuickDataPresent;
extern GameState QuickDataCache;
// The top-left 320×180 of the story's capture at the quick save.
extern uint8_t QuickThumb[kQuickThumbSize];
// What the start-up check of slot 33 found.
extern SaveInfo QuickSlotInfo;
// -1 while no quick-data task runs; -2 while one runs (the slot check's
// result during the start-up load).
extern int32_t SaveQuickGDGuard;
// The preview panel's task, -1 when none runs.
extern int32_t ShowQuickGDTask;

// No quick data: as at the process's start, before the boot reads slot 33.
void GSL_QuickDataReset();
// Starts the quick-data task: SAVE_TASK_SAVE writes the quick save,
// SAVE_TASK_LOAD (boot) loads slot 33 into memory. Does nothing while a task
// runs.
void SaveQuickGDSet(SaveTaskMode mode);
// Opens the preview panel centred at (x, y) when none runs and quick data
// exists; closes it.
void ShowQuickGDSet(float x, float y, int32_t priority);
void ShowQuickGDDel();
// The panel's state byte (-1 without a panel), and the caller's selection
// input it pauses while its delete question runs.
int32_t ShowQuickGDState();
// The panel's states: OPEN -> BUILD -> SHOWN; a delete SHOWN -> ASK ->
// (yes) DELETE -> DELETE_WAIT, after which the panel closes.
enum : int32_t {
    QUICK_PANEL_OPEN = 0,
    QUICK_PANEL_BUILD = 1,
    QUICK_PANEL_SHOWN = 2,
    QUICK_PANEL_ASK = 10,  // from here on the panel holds the input
    QUICK_PANEL_DELETE = 11,
    QUICK_PANEL_DELETE_WAIT = 12,
};
void ShowQuickGDInputSet(int32_t inputId);

// The thumbnail from the story's capture and the caption from the stage
// name and the last read line (keys kept raw). Nothing without a capture
// sprite.
void GSL_QuickCaptureThumb();
// The caption of a line: stage name, two spaces, the speaker and two spaces
// (when there is one), then the message; cut on a character (a raw key and
// its digits are one) at 60 bytes with an ellipsis. out holds 64 bytes.
void GSL_QuickCaptionBuild(char* out, const char* stageName, const char* speaker, const char* message);
// The menu's quick save: the live state into the quick buffer (play time
// updated), rewound to its last read line, the thumbnail and caption, and
// the write of slot 33 and the system slot.
void GSL_QuickSaveNow();
int32_t SaveQuickGDSetCB(void* work);
int32_t ShowQuickGDCB(void* work);
