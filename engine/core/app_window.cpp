#include "engine/core/app_window.h"

#include <cstdio>

#include "platform/plat_store.h"
#include "platform/plat_window.h"

char UserId[64] = "00000000000000000";

bool Main_AppStart() {
    Store_Init();
    std::snprintf(UserId, sizeof UserId, "%s", "00000000000000000");
    if (uint64_t id = Store_UserId()) std::snprintf(UserId, sizeof UserId, "%lld", (long long)id);
    if (!Plat_VideoInit()) {
        std::fprintf(stderr, "vn: the video system could not start: %s\n", Plat_LastError());
        return false;
    }
    if (!Plat_WindowCreate("Initializing", 0, 0, 1280, 720)) {
        std::fprintf(stderr, "vn: the window could not be created: %s\n", Plat_LastError());
        return false;
    }
    return true;
}

void Main_AppEnd() { Plat_VideoQuit(); }

void Main_WindowService() {}
