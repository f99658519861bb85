// Stand-in for the game-store client: start-up, the local user's stable
// numeric id, and shutdown.
#pragma once

#include <cstdint>

bool Store_Init();
// A stable 64-bit id for the local user (the same on every run); 0 before
// Store_Init.
uint64_t Store_UserId();
void Store_Shutdown();
