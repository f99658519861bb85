#include "ui/ui_host.h"

#include "engine/core/host_table.h"

namespace {
const UiHost kDefaults = {
    [](int32_t) { return false; },
    [](int32_t) { return int32_t(-1); },
    [] { return uint8_t(100); },
};
UiHost g_host = kDefaults;
}  // namespace

void GSL_UiHostSet(const UiHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &UiHost::scriptTaskEnd, &UiHost::scriptStatusGet, &UiHost::systemVolume);
}

const UiHost& GSL_UiHost() { return g_host; }
