#include "screens/screens_host.h"

namespace {
const ScreensHost kDefaults = {
    [] {},
    [] { return false; },
    [](uint8_t) { return uint32_t(0); },
};
ScreensHost g_host = kDefaults;
}  // namespace

void GSL_ScreensHostSet(const ScreensHost* host) {
    g_host = host ? *host : kDefaults;
    if (!g_host.maximise) g_host.maximise = kDefaults.maximise;
    if (!g_host.minimised) g_host.minimised = kDefaults.minimised;
    if (!g_host.fullScreenSet) g_host.fullScreenSet = kDefaults.fullScreenSet;
}

const ScreensHost& GSL_ScreensHost() { return g_host; }
