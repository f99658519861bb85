#include "ui/ui_host.h"

namespace {
const UiHost kDefaults = {
    [](int32_t) { return false; },
    [](int32_t) { return int32_t(-1); },
    [] { return uint8_t(100); },
};
UiHost g_host = kDefaults;
}  // namespace

void GSL_UiHostSet(const UiHost* host) {
    g_host = host ? *host : kDefaults;
    if (!g_host.scriptTaskEnd) g_host.scriptTaskEnd = kDefaults.scriptTaskEnd;
    if (!g_host.scriptStatusGet) g_host.scriptStatusGet = kDefaults.scriptStatusGet;
    if (!g_host.systemVolume) g_host.systemVolume = kDefaults.systemVolume;
}

const UiHost& GSL_UiHost() { return g_host; }
