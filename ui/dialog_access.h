// The calls through which screens close and query the modal dialogs opened
// with Lib_DialogOpen (utility tasks of group 300).
#pragma once

#include <cstdint>

// Lib_DialogClose for a group-300 task; nothing otherwise.
void GSL_SystemDialogDel(int32_t slot);
// 1 while unanswered, 0 once answered, -1 for a bad slot.
int32_t GSL_SystemDialogIsReady(int32_t slot);
// 1 answered with result 1, 0 answered otherwise, -1 while unanswered or
// for a bad slot.
int32_t GSL_SystemDialogGet(int32_t slot);
// Nothing to do for a utility dialog.
void GSL_SystemDialogFixCam(int32_t slot);
void GSL_SystemDialogTextEnd(int32_t slot);
