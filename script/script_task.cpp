#include "script/script_task.h"

#include "engine/core/task.h"

// Stand-ins until the script interpreter exists: the task runs nothing and
// never ends early.
int32_t GSL_ScriptCB(void*) { return 0; }

bool GSL_ScriptTaskEnd(int32_t) { return false; }

int32_t GSL_ScriptStatusGet(int32_t task) {
    if (task < 0 || task >= kTaskSlots) return -1;
    const TaskRecord* t = TaskTable.slots[task];
    // The slot may have been re-issued to another task since it was stored.
    if (!t || t->callback != GSL_ScriptCB || !t->work) return -1;
    return int32_t(static_cast<const ScriptTaskHead*>(t->work)->status);
}
