// The system-data save screen: asks whether to save the system data and,
// on yes, saves it into the system slot (which writes the save image to
// disk); then removes itself.
#pragma once

#include <cstdint>

void GSL_SystemSaveModeCB();

// The screen's steps; the question is asked in WRITE.
enum : int32_t { SYSTEM_SAVE_STEP_INIT, SYSTEM_SAVE_STEP_FADE_IN, SYSTEM_SAVE_STEP_WRITE, SYSTEM_SAVE_STEP_EXIT };
// Sub-states of the write step: ASK -> ANSWER -> (yes) SAVE -> SAVE_WAIT ->
// SUBSTATE_CLOSE; a no goes from ANSWER to SUBSTATE_CLOSE.
enum : int32_t {
    SYSTEM_SAVE_WRITE_ASK = 0,
    SYSTEM_SAVE_WRITE_ANSWER = 1,  // the question up, waiting for its answer
    SYSTEM_SAVE_WRITE_SAVE = 10,
    SYSTEM_SAVE_WRITE_SAVE_WAIT = 11,
};
