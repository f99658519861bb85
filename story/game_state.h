// The persistent system data and the game state of a new game.
#pragma once

void GSL_SystemDataReset();
void GSL_GameStateInit();
