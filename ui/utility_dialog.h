// The utility task and the modal dialog: a task "Lib_UtilityCB" whose work
// begins with UtilityDialogWork. A dialog grows in over five frames (over a
// dimmed screen when asked), then waits for keys or clicks; the owner polls
// DIALOG_FINISHED and the result, then closes it.
#pragma once

#include <cstdint>

#include "engine/core/task.h"

// The kinds of dialog.
enum : uint32_t {
    DIALOG_TIMED = 0,       // a message that times out
    DIALOG_YES_NO = 1,
    DIALOG_ONE_BUTTON = 2,
    DIALOG_MESSAGE = 3,     // a message without time-out
    DIALOG_PROGRESS = 4,    // finished at once, on screen until closed
};
// The states of a dialog: BUILDING -> GROWING -> WAITING -> FINISHED.
enum : uint32_t { DIALOG_BUILDING = 0, DIALOG_GROWING = 1, DIALOG_WAITING = 10, DIALOG_FINISHED = 99 };

struct UtilityDialogWork {
    uint32_t state;  // DIALOG_BUILDING .. DIALOG_FINISHED
    uint32_t kind;
    uint32_t answered;
    uint32_t frameCounter;
    uint32_t result;  // 1 first button (or closed), 2 second button or cancel
    uint32_t cursor;
    uint32_t animCounter;
    int32_t sprites[3];
    int32_t texts[3];
    int32_t timeout;
    int32_t priority;
    int32_t dimSprite;
};
static_assert(sizeof(UtilityDialogWork) == 64);

// Work size of every "Lib_UtilityCB" task: the dialog's fields and the
// fields its users (the save task) add behind them.
inline constexpr uint32_t kUtilityWorkSize = 256;

// Registers a "Lib_UtilityCB" task (priority 45001, group 300) with a zeroed
// work area of kUtilityWorkSize bytes, the kind stored. Task id or -1.
int32_t Lib_UtilitySet(uint32_t kind, TaskCallback callback);
// Opens a dialog with its message and returns the task id, -1 (nothing
// made) when no task or work area is free.
int32_t Lib_DialogOpen(uint32_t kind, const char* text, uint32_t timeout, uint32_t priority, uint8_t dim);
// The two dialogs the game opens: a screen's question (yes or no) at drawing
// priority 98 over the dimmed screen, and a message of the save store's (a
// lone OK, or a progress message) at priority 2 with nothing dimmed.
int32_t Lib_DialogAsk(const char* text);
int32_t Lib_DialogNotice(uint32_t kind, const char* text);
// Frees whatever pictures and texts the dialog still holds (of any kind,
// finished or not) and deletes the task; nothing for a bad id or a task
// without work.
void Lib_DialogClose(int32_t task);
// The dialog's task callback; always 0 (the owner deletes the task).
int32_t Lib_UtilityCB(void* work);
// The sprite's rectangle in pointer coordinates {left, top, right, bottom}.
void Lib_UtilitySpriteRectGet(int32_t* out, int32_t sprite);
// Dialog sound 0 "enter" or 1 "move" on channel 19 + its own rotation.
void Lib_UtilityDialogSePlay(int32_t n);
extern int32_t UtilityDialogSeRotation;
// The work of a live task, null for a bad id.
void* Lib_UtilityWorkGet(int32_t task);
