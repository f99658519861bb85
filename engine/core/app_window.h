// The application window on the UI thread and its upkeep on the game thread.
#pragma once

#include <cstdint>

// The user's numeric id as decimal text; names the per-user folder.
extern char UserId[64];

// Start-up on the UI thread: store client, user id, window. False when no
// window could be made (the program then cannot run or be closed).
bool Main_AppStart();
// Tear-down on the UI thread after the game thread has ended.
void Main_AppEnd();
// Called by the game thread after every task pass.
void Main_WindowService();
