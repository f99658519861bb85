#include "screens/screens_host.h"

#include "engine/core/host_table.h"
#include "screens/manual.h"
#include "screens/title.h"

namespace {
const ScreensHost kDefaults = {
    [] {},
    [] { return false; },
    [](uint8_t) { return uint32_t(0); },
};
// process-wide: installed by Main_ScreenCallsSet
ScreensHost g_host = kDefaults;
}  // namespace

void GSL_ScreensHostSet(const ScreensHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &ScreensHost::maximise, &ScreensHost::minimised, &ScreensHost::fullScreenSet);
}

const ScreensHost& GSL_ScreensHost() { return g_host; }

void GSL_ScreensRunStateReset() {
    GSL_TitleGlobalsReset();
    ManualNextLatch = 0;
    ManualPreviousLatch = 0;
}
