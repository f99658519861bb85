#include "story/game_state.h"

// Stand-ins until the save-data store and the game state exist: there is no
// state to reset yet.
void GSL_SystemDataReset() {}
void GSL_GameStateInit() {}
