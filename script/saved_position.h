// A restored position against the script container it is loaded with. A
// save names its script files by their place in the container; beside it the
// store keeps a record of what it was made with: for every script file its
// histories name, the file's name and a digest of its text, and for each
// saved position the stretch from its nearest label before it to the
// position. A load fits the position to the files as they are now by that
// record, and tells what it could not place.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"

// The record of the script files a game state was made with, against the
// container it is saved with: a pointer to a buffer of the module (valid until
// the next call) and its size; 0 when the state names no file or the record
// would not fit its buffer (the save then loads as one made without it).
uint32_t GSL_SavedScriptsMake(const GameState& state, const uint8_t** record);

// A load from a save is under way: the record saved with it (null or size 0
// for a save made without one). The next story start fits its position by it;
// a start that follows no load (a new game, a line of the backlog read again)
// is not fitted.
void GSL_SavedScriptsLoaded(const uint8_t* record, uint32_t size);
// Forgets a load under way (a new game; the run-state reset).
void GSL_SavedScriptsForget();

// Fits the game state's restored position before a story starts from it,
// when a load is under way. The files are found by name. An unchanged file
// (the same digest) keeps every position; in a changed file a position stands
// when the same stretch follows its label, found by name, and a return point
// goes behind the one <call> of the file it comes from. The saved line that
// cannot be placed goes on from its label (a label that is gone: from the top
// of its file); a return that cannot be placed ends the story there. One line
// tells a save made with other files, what could not be placed and why. A
// save without the record keeps only what its files show: its file by the
// saved name, its label at that label's tag, its line at a tag that records
// one, a return point behind a call of the file it comes from (at its number
// or beside it, where a file added or taken out moved the numbers).
void GSL_SavedPositionMend();
