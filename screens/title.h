// The title screen's run-wide state and the pieces of the title built so far:
// the version label and the save check of the title menu.
#pragma once

#include <cstdint>

// Bit 0: play the opening movie at the next load; bit 1: the movie may be
// skipped; bit 2: the title has been entered before in this run.
extern uint8_t TitleFlags;
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
