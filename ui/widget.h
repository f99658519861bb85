// Widget tasks the engine's main initialisation starts: the screen colour
// overlay and the preloading of files into the named cache.
#pragma once

#include <cstdint>

// Every widget and effect task has a zeroed work area of this size that
// begins with the task's own slot and a state byte.
inline constexpr uint32_t kWidgetWorkSize = 904;

enum : uint8_t { WIDGET_STARTING = 0, WIDGET_RUNNING = 10, WIDGET_FINISHED = 99 };

struct DispColorWork {
    int32_t slot;
    uint8_t state;
    int32_t frames;
    int32_t sprite;
    uint8_t newTarget;
    int32_t alpha, red, green, blue;
    int32_t componentTasks[4];
    uint32_t current;  // ARGB
    uint32_t target;   // ARGB
};

struct LoadPrevWork {
    int32_t slot;
    uint8_t state;
    char path[256];
    int32_t request;
    uint32_t keep;
    uint32_t align;
    int32_t* result;
    void* data;
    uint32_t size;
};

extern int32_t DispColorTaskSlot;

int32_t GSL_SystemDispColorCB(void* work);
// Registers a preload of `path` into the named cache; the cached file is
// tagged with `keep` once loaded. Returns the task slot or -1.
int32_t GSL_SystemLoadPrevSet(const char* path, uint32_t align, uint32_t keep, int32_t* result);
int32_t GSL_SystemLoadPrevCB(void* work);
