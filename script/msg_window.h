// The message window of the story screen: its parts cut from the story
// sheet in layer slot 31, opened and closed at once or by a fade task.
// Game thread only.
#pragma once

#include <cstdint>

inline constexpr uint32_t kStorySheetSlot = 31;

// The window's colour word at the opacity setting.
uint32_t GSL_WindowOpacity();
// Builds the window when it is missing and shows it; over frames with the
// fade task openCB (0 frames, or skipping: at once). Nothing while an open
// runs; a running close is completed first.
void openSet(int32_t frames);
// Closes the window and releases its parts and the message texts; over
// frames with the fade task closeCB (0 frames, skipping or no window: at
// once). Nothing while a close runs; a running open is completed first.
void closeSet(int32_t frames);
// True while the open fade task runs (a stale id is cleared).
bool GSL_WindowOpening();

int32_t openCB(void* work);
int32_t closeCB(void* work);
