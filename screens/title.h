// The title screen and its menu: the run-wide state, the version label, the
// save check, the screen's steps and the menu's calls.
#pragma once

#include <cstdint>

#include "ui/mode.h"

// TITLE_MOVIE_* bits.
extern uint8_t TitleFlags;
enum : uint8_t {
    TITLE_MOVIE_NEXT = 1,       // play the opening movie at the next load
    TITLE_MOVIE_SKIPPABLE = 2,  // the movie may be skipped
    TITLE_ENTERED = 4,          // the title has been entered before in this run
};
// Monotonic-clock microseconds (low 32 bits) of the last cursor move.
extern uint32_t TitleIdleStart;
extern uint8_t TitleSubMenuOpen;
// The values of a fresh run.
void GSL_TitleGlobalsReset();

// The version label: "V" + base version + ".E0100" + the three archives'
// versions (".B", ".P", ".D"), and " - R18" when the R18 archive is there.
void GSL_TitleVersionLabel(char* out, uint32_t outSize);
// Whether one of the 32 numbered save slots holds data matching its digest.
bool GSL_TitleAnySaveValid();

// The title screen: its dispatcher and steps (step 3 is the menu's).
void GSL_TitleModeCB();
bool GSL_TitleInit();
bool GSL_TitleLoad();
bool GSL_TitleInput();
bool GSL_TitleExecute();
bool GSL_TitleBackToMenu();
bool GSL_TitleWipeOut();

// The menu: which of the 14 items show, their layout with the cursor
// (redraw 0 fades them in and leaves the input paused, 1 resumes it; `left`
// is the screen just left, null none), and the opening of another screen.
bool GSL_TitleIsItemVisible(int32_t item);
void GSL_TitleDrawMenu(uint8_t redraw, ModeFunction left, int32_t cursor);
void GSL_TitleGotoScreen(ModeFunction screen, uint8_t keep);

