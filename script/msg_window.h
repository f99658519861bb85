// The message window of the story screen: its parts cut from the story
// sheet in layer slot 31, opened and closed. Game thread only.
#pragma once

#include <cstdint>

inline constexpr uint32_t kStorySheetSlot = 31;

// The window's colour word at the opacity setting.
uint32_t GSL_WindowOpacity();
// Builds the window when it is missing and shows it.
void openSet(int32_t frames);
// Closes the window and releases its parts and the message texts.
void closeSet(int32_t frames);
