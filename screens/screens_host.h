// What the screens ask of the top layer: the window calls of the option
// screen's display switch. The top layer installs the whole table at
// start-up; the defaults do nothing and read as a normal window. The top
// layer also calls the layer's run-wide reset here.
#pragma once

#include <cstdint>

struct ScreensHost {
    void (*maximise)();
    bool (*minimised)();
    uint32_t (*fullScreenSet)(uint8_t on);
};
// Null restores the defaults; a null entry takes its default.
void GSL_ScreensHostSet(const ScreensHost* host);
const ScreensHost& GSL_ScreensHost();

// Puts the screens layer's run-wide state back as a fresh process has it: the
// title's flags (the opening movie first) and the manual's page latches.
void GSL_ScreensRunStateReset();
