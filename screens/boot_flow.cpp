// The boot flow: the first screen of every run. It applies the settings the
// system data holds, waits for the interface font, the overlay and the
// system sound pack, loads (on the very first run creates) the system data
// from slot 32, applies the settings again from what was loaded, loads the
// quick data, and fades to black before handing over to the logos.
#include "screens/boot.h"
#include "screens/logo.h"

#include <atomic>
#include <cstdio>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "story/config.h"
#include "story/quick_save.h"
#include "story/story_services.h"
#include "ui/mode.h"
#include "ui/overlay.h"

namespace {
constexpr int32_t kSePackWarnFrames = 600;
constexpr const char* kSePack = "sound/se_system/se_sys.arc";
enum : uint32_t { BOOT_TASK = 0, BOOT_WAITED = 1 };
enum : int32_t { BOOT_STEP_INIT, BOOT_STEP_CONFIG, BOOT_STEP_SYSTEM_DATA, BOOT_STEP_END };
// Sub-states of the configuration step: APPLY -> FONT -> FADE ->
// SUBSTATE_CLOSE (until the system sounds are cached).
enum : int32_t { CONFIG_APPLY = 0, CONFIG_FONT = 1, CONFIG_FADE = 3 };
// Sub-states of the system-data step: LOAD -> WAIT -> FONT -> QUICK.
enum : int32_t { DATA_LOAD = 0, DATA_WAIT = 1, DATA_FONT = 99, DATA_QUICK = 100 };

int32_t TaskId(const ScreenWork* w) { return GSL_WorkWord(w, BOOT_TASK); }
void TaskIdSet(ScreenWork* w, int32_t id) { GSL_WorkWordSet(w, BOOT_TASK, id); }

bool SePackCached() {
    void* data = nullptr;
    uint64_t size = 0;
    return Lib_CashLookup(kSePack, &data, &size) == 1;
}
}  // namespace

bool GSL_BootInit() {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    w->step = BOOT_STEP_CONFIG;
    w->subState = SUBSTATE_ENTRY;
    TaskIdSet(w, -1);
    w->words[BOOT_WAITED] = 0;
    return true;
}

bool GSL_BootConfig() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    switch (w->subState) {
    case CONFIG_APPLY:
        GSL_ConfigApply(false);
        w->subState = CONFIG_FONT;
        break;
    case CONFIG_FONT:
        if (GSL_ConfigFontWait()) w->subState = CONFIG_FADE;
        break;
    case CONFIG_FADE:
        if (GSL_SystemDispColorCheck()) w->subState = SUBSTATE_CLOSE;
        break;
    case SUBSTATE_CLOSE:
        if (SePackCached()) {
            w->subState = SUBSTATE_ENTRY;
            w->step = BOOT_STEP_SYSTEM_DATA;
        } else if (++w->words[BOOT_WAITED] == kSePackWarnFrames) {
            Lib_DebugPrintf("boot: still waiting for %s in the cache\n", kSePack);
        }
        break;
    default:
        break;
    }
    return true;
}

bool GSL_BootLoadSystemData() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    switch (w->subState) {
    case DATA_LOAD: {
        // The request is copied by the task; the builder cuts every field.
        SaveRequest request;
        GSL_SystemSaveRequestBuild(&request);
        TaskIdSet(w, Lib_SaveTaskSet(SAVE_TASK_LOAD, &request, kSaveSystemSlot));
        w->subState = DATA_WAIT;
        break;
    }
    case DATA_WAIT: {
        const int32_t task = TaskId(w);
        if (Lib_SaveTaskResult(task) == SAVE_TASK_RUNNING) break;
        if (task >= 0) Lib_SaveTaskEnd(task);
        TaskIdSet(w, -1);
        GSL_SystemDataCheck(&SystemDataBlock);
        GSL_ConfigApply(false);
        w->subState = DATA_FONT;
        break;
    }
    case DATA_FONT:
        if (!GSL_ConfigFontWait()) break;
        SaveQuickGDSet(SAVE_TASK_LOAD);
        w->subState = DATA_QUICK;
        break;
    case DATA_QUICK:
        if (SaveQuickGDGuard != -1) break;
        w->subState = SUBSTATE_ENTRY;
        w->step = BOOT_STEP_END;
        break;
    default:
        break;
    }
    return true;
}

bool GSL_BootEnd() {
    GSL_SystemDispColorSet(0xFF000000u, 60);
    if (!GSL_SystemDispColorCheck()) return true;
    GSL_ModeHandOver(GSL_LogoModeCB);
    return true;
}

void GSL_BootModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    switch (w ? w->step : BOOT_STEP_INIT) {
    case BOOT_STEP_INIT: GSL_BootInit(); break;
    case BOOT_STEP_CONFIG: GSL_BootConfig(); break;
    case BOOT_STEP_SYSTEM_DATA: GSL_BootLoadSystemData(); break;
    case BOOT_STEP_END: GSL_BootEnd(); break;
    default: break;
    }
}
