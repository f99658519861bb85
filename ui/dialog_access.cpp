#include "ui/dialog_access.h"

#include "engine/core/task.h"
#include "ui/utility_dialog.h"

namespace {

const UtilityDialogWork* dialogWork(int32_t slot) {
    auto* w = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
    return w && TaskTable.slots[slot]->group == 300 ? w : nullptr;
}

}  // namespace

void GSL_SystemDialogDel(int32_t slot) {
    if (dialogWork(slot)) Lib_DialogClose(slot);
}

int32_t GSL_SystemDialogIsReady(int32_t slot) {
    const UtilityDialogWork* w = dialogWork(slot);
    if (!w || int32_t(w->answered) < 0) return -1;
    return w->answered == 0 ? 1 : 0;
}

int32_t GSL_SystemDialogGet(int32_t slot) {
    const UtilityDialogWork* w = dialogWork(slot);
    if (!w || w->answered != 1) return -1;
    return w->result == 1 ? 1 : 0;
}

void GSL_SystemDialogFixCam(int32_t) {}
void GSL_SystemDialogTextEnd(int32_t) {}
