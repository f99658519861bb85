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

int32_t TaskId(const ScreenWork* w) { return int32_t(int64_t(w->words[BOOT_TASK])); }
void TaskIdSet(ScreenWork* w, int32_t id) { w->words[BOOT_TASK] = uint64_t(int64_t(id)); }

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
    w->step = 1;
    w->subState = 0;
    TaskIdSet(w, -1);
    w->words[BOOT_WAITED] = 0;
    return true;
}

bool GSL_BootConfig() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    switch (w->subState) {
    case 0:
        GSL_ConfigApply(false);
        w->subState = 1;
        break;
    case 1:
        if (GSL_ConfigFontWait()) w->subState = 3;
        break;
    case 3:
        if (GSL_SystemDispColorCheck()) w->subState = 99;
        break;
    case 99:
        if (SePackCached()) {
            w->subState = 0;
            w->step = 2;
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
    case 0: {
        // The request is copied by the task; the builder cuts every field.
        SaveRequest request;
        GSL_SystemSaveRequestBuild(&request);
        TaskIdSet(w, Lib_SaveTaskSet(1, &request, kSaveSystemSlot));
        w->subState = 1;
        break;
    }
    case 1: {
        const int32_t task = TaskId(w);
        if (task >= 0 && Lib_SaveTaskResult(task) == 0) break;
        if (task >= 0) Lib_SaveTaskEnd(task);
        TaskIdSet(w, -1);
        GSL_SystemDataCheck(&SystemDataBlock);
        GSL_ConfigApply(false);
        w->subState = 99;
        break;
    }
    case 99:
        if (!GSL_ConfigFontWait()) break;
        SaveQuickGDSet(1);
        w->subState = 100;
        break;
    case 100:
        if (SaveQuickGDGuard != -1) break;
        w->subState = 0;
        w->step = 3;
        break;
    default:
        break;
    }
    return true;
}

bool GSL_BootEnd() {
    GSL_SystemDispColorSet(0xFF000000u, 60);
    if (!GSL_SystemDispColorCheck()) return true;
    GSL_WorkDelete(nullptr);
    const int32_t top = GSL_ModeCount() - 1;
    if (top >= 0) ModeStack[top] = nullptr;
    for (int32_t i = 0; i < kModeStackSize; ++i) {
        if (ModeStack[i]) continue;
        ModeStack[i] = GSL_LogoModeCB;
        break;
    }
    return true;
}

void GSL_BootModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    switch (w ? w->step : 0) {
    case 0: GSL_BootInit(); break;
    case 1: GSL_BootConfig(); break;
    case 2: GSL_BootLoadSystemData(); break;
    case 3: GSL_BootEnd(); break;
    default: break;
    }
}
