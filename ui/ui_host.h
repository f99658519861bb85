// What the ui layer asks of the layers above it: the script tasks that the
// screens own and the configured system volume. The top layer installs the
// whole table at start-up; the defaults answer as if no script ran and the
// volume were 100. The top layer also calls the layer's run-wide reset here.
#pragma once

#include <cstdint>

struct UiHost {
    bool (*scriptTaskEnd)(int32_t task);       // true: the task was ended at once
    int32_t (*scriptStatusGet)(int32_t task);  // -1 when not a live script task
    uint8_t (*systemVolume)();                 // 0..100; values above are clamped
};
// Null restores the defaults; a null entry takes its default.
void GSL_UiHostSet(const UiHost* host);
const UiHost& GSL_UiHost();

// Puts the ui layer's run-wide state back as a fresh process has it: the mode
// stack, the contexts' table, the task-pause saves, the restore phase, the
// preload counters, the choice flag, the pointer gesture, the overlay and
// capture handles and the sound-effect rotations.
void GSL_UiRunStateReset();
