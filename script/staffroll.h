// The staff roll: credit lines read from the running script file below its
// "*text" label, laid out as story-screen texts and scrolled up the screen by
// a task of their own while the script waits.
#pragma once

#include <cstdint>

#include "script/script_state.h"

inline constexpr int32_t kStaffrollTexts = 72;
inline constexpr int32_t kStaffrollX = 780;
inline constexpr uint32_t kStaffrollColour = 0xFF74170Bu;
inline constexpr int32_t kStaffrollPriority = 8499000;
inline constexpr uint32_t kStaffrollIconSlot = 31;

// The stage flag bit set while a roll runs.
inline constexpr uint8_t kStageRollBit = 1;
// The running roll's task slot, -1 when none runs.
extern int32_t StaffrollTask;

// The slot of the running roll when it is a live staff-roll task, else -1
// (and the global is reset).
int32_t GSL_StaffrollTaskGet();
// True while the story script's stage has its staff-roll bit set; false
// without a story screen or script task.
bool GSL_StaffrollIsActive();

// Reads the credits of text[0..size) from `from`: calls put(slot, line, size,
// y, append, user) for each "<text " line of a slot below 72, with the
// expanded text and its line break (append: the slot already holds a text).
// Returns the count of slots used (at most 72) and the pen's last y.
using CreditPut = void (*)(int32_t slot, const char* line, float size, int32_t y, bool append, void* user);
int32_t GSL_StaffrollRead(const char* text, uint32_t size, uint32_t from, CreditPut put, void* user,
                          int32_t* endY);

int32_t staffrollCB(void* work);

void GSL_CmdStaffrollStart(CommandContext* ctx);
void GSL_CmdStaffrollWait(CommandContext* ctx);
void GSL_CmdStaffrollEnd(CommandContext* ctx);
