// The persistent system data and the game state of a new game: resets, the
// play-time clock, the configuration defaults and the checks a block loaded
// from a save passes before it is made live.
#pragma once

#include <cstdint>

// SystemData, GameState and StageRecord: the script engine reads them, so
// their layouts sit in its layer.
#include "script/game_blocks.h"

// Microseconds of the monotonic clock at the last play-time update.
extern uint64_t PlayTimeBase;

void GSL_SystemDataReset();
void GSL_GameStateInit();
// Adds the time since the last update (whole seconds) to the play time.
void GSL_PlayTimeUpdate();
// Replaces the play-time clock (null restores the monotonic clock).
void GSL_PlayTimeClockSet(uint64_t (*now)());
uint64_t GSL_PlayTimeNow();
// Pointer travel beyond which a press counts as a drag.
int32_t GSL_MouseDragThreshold(int32_t, int32_t);
// The rule image of the standard wipe into a 256-byte buffer.
void GSL_WipePathMake(char* out);
// Configuration bytes 5..93 of SystemDataBlock to their defaults.
void GSL_ConfigDefaults();

// The version resets write into both blocks, in their first four bytes. A
// system slot of another version is refused on load as a damaged one; a game
// state loads whatever its version field holds (a quick save keeps the field
// of the quick buffer, which only the start-up load of the quick slot fills).
inline constexpr char kBlockVersion[5] = "0100";
// Writes kBlockVersion into the first four bytes of a SystemData or
// GameState image.
void GSL_BlockVersionStamp(void* block);

// Repairs what a loaded block could hold out of range: an index outside its
// tables, a missing terminator, counts beyond their arrays. True when the
// block needed no repair (and, for SystemData, carries kBlockVersion).
bool GSL_SystemDataCheck(SystemData* data);
bool GSL_GameStateCheck(GameState* state);
