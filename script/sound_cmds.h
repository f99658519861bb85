// The script's music, sound effects and movie: three alternating music
// slots, eight effect banks and the opening movie, all on the story screen.
// Game thread only.
#pragma once

#include <cstdint>

#include "script/script_state.h"
#include "ui/screen_slots.h"

inline constexpr uint32_t kMusicSlots = 3;
inline constexpr uint32_t kEffectFirstSlot = 3;  // bank b plays in slot 3 + b
inline constexpr int32_t kMoviePriority = 9;

// The archive path of a sound or movie name: the file-name part without its
// extension, ASCII lower-cased, between prefix and extension. Empty for an
// empty name or a path that does not fit.
void GSL_SoundPathMake(const char* name, const char* prefix, const char* ext, char* out, uint32_t outSize);
// The story sound slot of an effect bank: 3 + bank, bank 0 outside 0..7.
uint32_t GSL_EffectSlot(int32_t bank);
// Starts a sound in a story sound slot held silent until released, and
// records the slot as GSL_WorkSoundSet does. The channel, or -1.
int32_t GSL_WorkSoundSetHeld(uint32_t slot, const char* file, int32_t extra, SoundRestore restore, int32_t repeat);
// Lets a held sound start.
void GSL_SoundRelease(int32_t channel);

void GSL_CmdOpenVideo(CommandContext* ctx);
void GSL_CmdPlayBgm(CommandContext* ctx);
void GSL_CmdStopBgm(CommandContext* ctx);
void GSL_CmdPlaySe(CommandContext* ctx);
void GSL_CmdStopSe(CommandContext* ctx);
void GSL_CmdWaitSe(CommandContext* ctx);
