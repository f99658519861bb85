// The save slots and the size of each slot's data block: 32 game slots of a
// GameState, the system slot of SystemData, and the quick slot of a
// GameState followed by its 320x180 RGBA thumbnail. The frame driver gives
// them to SaveBinSizeTable at start-up; the store refuses to run while the
// table says otherwise.
#pragma once

#include <cstdint>

inline constexpr int32_t kSaveSlots = 34;
inline constexpr int32_t kSaveSystemSlot = 32;
inline constexpr int32_t kSaveQuickSlot = 33;
inline constexpr uint32_t kSaveGameBytes = 135752;
inline constexpr uint32_t kSaveSystemBytes = 4379;
inline constexpr uint32_t kSaveThumbBytes = 320 * 180 * 4;

constexpr uint32_t SaveDataSize(int32_t slot) {
    return slot < kSaveSystemSlot ? kSaveGameBytes
           : slot == kSaveSystemSlot ? kSaveSystemBytes
                                     : kSaveGameBytes + kSaveThumbBytes;
}
static_assert(SaveDataSize(kSaveQuickSlot) == 366152);

// Fills SaveBinSizeTable with SaveDataSize of every slot.
void Lib_SaveSizesSet();
