// The message window's words: the speaker's name, the message text and its
// reveal, the waits for the reader, the text's size, colour, speed and
// offset, and the confirm test the waits share. Game thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/game_blocks.h"
#include "script/script_state.h"

// Layer, text and sound slots of the story screen the message window uses.
inline constexpr uint32_t kMessageWindowSlot = 25;
inline constexpr uint32_t kMessageIconSlot = 29;
inline constexpr uint32_t kMessageNameText = 0;
inline constexpr uint32_t kMessageFirstText = 1;
inline constexpr uint32_t kMessageLastText = 5;
inline constexpr uint32_t kVoiceFirstSound = 11;
inline constexpr int32_t kMessagePriority = 8499000;

// True when the reader confirms this frame: a key of mask newly pressed, or a
// click on the story screen's button id. Never while message input is off.
bool GSL_FlagCheck(const CommandContext* ctx, uint32_t mask, int32_t id);

// A voice slot 0..7; anything else is slot 0.
int32_t GSL_VoiceSlot(int32_t slot);
// Frames per character of the message reveal: 0 while skipping, else from
// the stage's speed (its low byte 255: the text-speed setting).
int32_t GSL_MessageSpeed(const StageRecord* stage);
// The message after an append: text holds the shown message, joined the
// conversion of the shown message and the new line. When joined begins with
// the shown message, only its tail is appended; else joined replaces the
// text. Either way the result stays within size - 1 bytes, cut on a
// character boundary. True when the tail was appended.
bool GSL_MessageAppend(char* text, size_t size, const char* joined);
// Steps of a knob drag over d pixels with cells of cell pixels: trunc(d /
// cell), at least one step in the direction of d (none for d 0).
int32_t GSL_ScrollSteps(float d, float cell);

// Applies a prepared page swap at once.
void GSL_CmdAnalyze00(CommandContext* ctx);
void GSL_CmdName(CommandContext* ctx);
void GSL_CmdText(CommandContext* ctx);
void GSL_CmdFont(CommandContext* ctx);
void GSL_CmdTextSpeed(CommandContext* ctx);
void GSL_CmdPosition(CommandContext* ctx);
void GSL_CmdVoiceStop(CommandContext* ctx);
void GSL_CmdKeyWait(CommandContext* ctx);
void GSL_CmdLw(CommandContext* ctx);
void GSL_CmdVoice(CommandContext* ctx);
void GSL_CmdWinFrame(CommandContext* ctx);
void GSL_CmdLayOpt(CommandContext* ctx);
