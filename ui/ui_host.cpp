#include "ui/ui_host.h"

#include "engine/core/host_table.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_restore.h"
#include "ui/system_sound.h"
#include "ui/utility_dialog.h"
#include "ui/widget.h"
#include "ui/wipe.h"

namespace {
const UiHost kDefaults = {
    [](int32_t) { return false; },
    [](int32_t) { return int32_t(-1); },
    [] { return uint8_t(100); },
};
// process-wide: installed by Main_ScreenCallsSet
UiHost g_host = kDefaults;
}  // namespace

void GSL_UiHostSet(const UiHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &UiHost::scriptTaskEnd, &UiHost::scriptStatusGet, &UiHost::systemVolume);
}

const UiHost& GSL_UiHost() { return g_host; }

void GSL_UiRunStateReset() {
    for (ModeFunction& entry : ModeStack) entry = nullptr;
    for (ScreenWork*& work : ScreenWorkTable) work = nullptr;
    TaskPauseSave[0] = TaskPauseSave[1] = nullptr;
    WorkRestorePhase = 0;
    PreloadPending = 0;
    PreloadReleaseQuota = 0;
    MenuActiveFlag = 0;
    PointerGesture = PointerGestureState{1, {0, 0}, {0, 0}, {0, 0}};
    DispColorTask = -1;
    StoryCaptureSprite = -1;
    SystemSeRotation = 0;
    UtilityDialogSeRotation = 0;
}
