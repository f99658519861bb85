// The save slot list that the load and save screens share: 32 slots in rows
// of a scrolling list with a scroll bar, each with its picture, label, date,
// details and delete buttons; the cursor, the confirm dialog, the delete flow
// and the teardown. The two screens pass their differences as a SlotScreen.
// Game thread only.
#pragma once

#include <cstdint>

#include "story/save_store.h"
#include "ui/mode.h"

inline constexpr int32_t kSlotCount = 32;
inline constexpr int32_t kSlotRows = 5;
inline constexpr int32_t kSlotPitch = 136;
inline constexpr int32_t kSlotFirstMax = kSlotCount - kSlotRows;  // 27

// Layer slots of the two screens.
enum : uint32_t {
    SLOT_LAYER_BG = 0,
    SLOT_LAYER_BACK = 1,
    SLOT_LAYER_NONE = 2,  // the empty slot's picture, itself never shown
    SLOT_LAYER_PANEL = 3,
    SLOT_LAYER_PICT = 35,
    SLOT_LAYER_DETAILS = 67,  // 67 itself holds the button sheet
    SLOT_LAYER_DELETE = 99,
    SLOT_LAYER_DIM = 195,
};
// Text slots: n the label of slot n, 34 + n its "R18" badge.
enum : uint32_t { SLOT_TEXT_DETAIL = 32, SLOT_TEXT_HEADING = 33, SLOT_TEXT_BADGE = 34 };

// Words of the screens' context header.
enum : uint32_t {
    SLOT_WORD_TASK = 0,      // the running save task, -1 none
    SLOT_WORD_TARGET = 2,    // the slot a confirmed load, save or delete acts on
    SLOT_WORD_BUFFER = 3,    // the load screen's backup, the save screen's picture
    SLOT_WORD_LIST = 4,      // SaveSlotList*
    SLOT_WORD_RESULT = 5,    // load: 1 once the slot was loaded
    SLOT_WORD_RESTORE = 6,   // load: 0 when the backup must go back
    SLOT_WORD_COUNTER = 7,   // load: the final wait
    SLOT_WORD_READ = 8,      // save: the slot picture's read-back, 0 none
};

// Steps of the two screens; the load screen adds its own last one.
enum : int32_t { SLOT_STEP_INIT = 0, SLOT_STEP_BUILD = 1, SLOT_STEP_MAIN = 2, SLOT_STEP_LEAVE = 3 };

// Sub-states of the build step: MUSIC -> LIST -> SHOW -> FADE_IN, then
// SUBSTATE_CLOSE.
enum : int32_t {
    SLOT_BUILD_MUSIC = 0,  // until the list's music plays
    SLOT_BUILD_LIST = 20,
    SLOT_BUILD_SHOW = 21,  // once the pictures have loaded
    SLOT_BUILD_FADE_IN = 22,
};

// Sub-states of the main step. LIST runs the list; a confirmed slot goes
// ASK -> ANSWER -> ACT (the screen's own load or save, ACT -> ACT_WAIT ->
// ...); the details DETAIL_OPEN -> DETAIL -> LIST; a delete ASK -> ANSWER
// -> DELETE -> DELETE_WAIT -> REFRESH -> REFRESH_WAIT -> LIST. REFRESH
// rebuilds the cursor's slot and goes on to the list's `pending` sub-state;
// SUBSTATE_CLOSE leaves the screen.
enum : int32_t {
    SLOT_MAIN_ACT = 10,
    SLOT_MAIN_ACT_WAIT = 11,
    SLOT_MAIN_LIST = 20,
    SLOT_MAIN_ASK = 21,
    SLOT_MAIN_ANSWER = 22,
    SLOT_MAIN_DETAIL_OPEN = 25,
    SLOT_MAIN_DETAIL = 26,
    SLOT_MAIN_DELETE = 30,
    SLOT_MAIN_DELETE_WAIT = 31,
    SLOT_MAIN_REFRESH = 35,
    SLOT_MAIN_REFRESH_WAIT = 36,
};

struct SaveSlotList {
    int32_t count;
    int32_t rows;
    int32_t cursor;
    int32_t applied;  // the cursor colours and scrolling were last computed for
    int32_t first;    // first visible row, 0..27
    int32_t pitch;
    int32_t bar;
    int32_t dialog;
    int32_t keys[4];  // up, down, left, right
    int32_t rowMoves[kSlotCount];
    uint8_t barDragged;
    int32_t pending;  // the sub-state the delete flow and the dialog go on to, -1 none
};

// What tells the two screens apart.
struct SlotScreen {
    ModeFunction self;
    const char* background;
    int32_t heading;         // SysgraMesTable 2/n
    bool confirmNeedsValid;  // load: only a valid slot can be confirmed
    int32_t askValid;        // system text 2/n of the confirm dialog on a valid slot
    int32_t askOther;        // and on an empty or broken one
    bool (*confirmReady)(const ScreenWork* w);  // null: always
};

// The save task of SLOT_WORD_TASK: false while it runs; once it is over it is
// ended, the word cleared, and its code given (SAVE_CODE_NO_TASK when no task
// was started; code may be null).
inline bool SlotTaskFinished(ScreenWork* w, SaveTaskCode* code) {
    const int32_t task = GSL_WorkWord(w, SLOT_WORD_TASK);
    if (Lib_SaveTaskResult(task) == SAVE_TASK_RUNNING) return false;
    if (code) *code = Lib_SaveTaskCode(task);
    Lib_SaveTaskEnd(task);
    GSL_WorkWordSet(w, SLOT_WORD_TASK, -1);
    return true;
}
SaveSlotList* SlotListGet(const ScreenWork* w);

// Builds or rebuilds every element of slot n (screen 0: the top screen).
void GSL_SlotBuild(ModeFunction screen, int32_t n);
// False while slot n's picture still loads; else places it.
bool GSL_SlotUpdate(ModeFunction screen, int32_t n);

// The request of a game-slot save or load: title (with " R18" in the R18
// edition), subtitle, detail, icons and GameStateBlock as the data.
void GSL_GameSlotRequestBuild(SaveRequest* request);

// The steps the two screens share.
void SlotScreenOpen(ScreenWork* w, const SlotScreen& kind);
void SlotScreenBuild(ScreenWork* w, const SlotScreen& kind);
// The main step's sub-states but ACT, ACT_WAIT, SUBSTATE_CLOSE and the
// screen's own; false for those, which the screen runs itself.
bool SlotScreenMain(ScreenWork* w, const SlotScreen& kind);
// Restores the frame rate, frees the list and its widgets, restarts the
// play-time clock, deletes the context and leaves the mode stack.
void SlotScreenTeardown(ScreenWork* w);

// The detail view (sub-states SLOT_MAIN_DETAIL_OPEN and SLOT_MAIN_DETAIL).
void SlotDetailOpen(ScreenWork* w, SaveSlotList* list);
void SlotDetailStep(ScreenWork* w);
