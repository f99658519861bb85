// The script task as other subsystems see it: its callback (the task's
// identity), the early end of an idle script task and its status bits.
#pragma once

#include <cstdint>

// The status word leads the task's work area.
struct ScriptTaskHead {
    uint32_t status;
};

int32_t GSL_ScriptCB(void* work);
// True when the task was a script task that could end at once (and ended).
bool GSL_ScriptTaskEnd(int32_t task);
// The status bits of a live GSL_ScriptCB task with a work area, else -1.
int32_t GSL_ScriptStatusGet(int32_t task);
