// The persistent system data and the game state of a new game.
#pragma once

// SystemData, GameState and StageRecord: the script engine reads them, so
// their layouts sit in its layer.
#include "script/game_blocks.h"

void GSL_SystemDataReset();
void GSL_GameStateInit();
