// The interface sounds: the seven system sound effects from the pack
// "sound/se_system/se_sys.arc", played in turn on channels 19-21, and the
// system voices, short lines of a randomly chosen character on channel 22.
#pragma once

#include <cstdint>

inline constexpr int kSystemSeCount = 7;
extern const char SystemSeTable[kSystemSeCount][32];
extern int32_t SystemSeRotation;

// The system sounds.
enum : int32_t { SE_ENTER = 0, SE_CANCEL = 1, SE_MOVE = 2, SE_ERROR = 3, SE_ON = 4, SE_OFF = 5, SE_SELECT = 6 };
// Plays system sound n (SE_*) on channel 19 + the rotation. Another number
// plays nothing.
void GSL_SystemSePlay(int32_t n);

inline constexpr int kSysVoiceKinds = 18;
inline constexpr int kSysVoiceCharacters = 12;
extern const char SysVoiceKeys[kSysVoiceCharacters][16];

// The random draw of the character (Lib_Random; tests replace it).
extern uint32_t (*SysVoiceRandom)(uint32_t lo, uint32_t hi);

// Plays a line of `kind` (0..17) on channel 22 and records it in sound slot
// 22 of the top screen's context. A negative volume means the configured
// one, 0 plays nothing, above 100 plays at 100. Always -1.
int32_t GSL_SysVoicePlay(int32_t unused, int32_t kind, float volume);
// Strict: the voice channel's state is 0. Not strict: no state bit but
// "playing" is set (true once the voice has started). True when there is
// no context or slot 22 holds no channel.
bool GSL_SysVoiceIsDone(bool strict);
