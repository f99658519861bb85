// The loading icon: a ring in the lower right that turns and breathes while
// a screen waits for its files. A system-group widget task.
#pragma once

#include <cstdint>

struct LoadingWork {
    int32_t slot;
    uint8_t state;
    int32_t icon;
    int32_t second;  // -1, freed on delete when set
    uint32_t ready;
    int32_t priority;
    uint32_t shown;
    float step;      // scale change a frame, in hundredths
};

// Loads the icon; it shows (when `shown`) at `priority` once loaded. The task
// slot or -1.
int32_t GSL_SystemLoadingSet(int32_t priority, uint8_t shown);
void GSL_SystemLoadingDel(int32_t slot);
// True once the icon is placed, and for a bad slot.
bool GSL_SystemLoadingCheck(int32_t slot);
int32_t GSL_SystemLoadingCB(void* work);
