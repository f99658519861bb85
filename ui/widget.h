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
    int32_t request;   // -1 when no request slot was free
    uint32_t keep;     // 0 an ordinary preload, else the tag given to the file
    uint32_t align;
    int32_t* result;   // 1 loaded, -1 failed or withdrawn
    void* data;
    uint32_t size;
    uint32_t released;  // withdrew its request
    int32_t cacheId;
};

int32_t GSL_SystemDispColorCB(void* work);

// Ordinary preloads (keep 0) not yet finished, and how many of them may still
// withdraw their pending request (the story screen sets it).
extern int32_t PreloadPending;
extern int32_t PreloadReleaseQuota;

// Registers a preload of `path` into the named cache; the cached file is
// tagged with `keep` once loaded (a tag is only ever raised). Returns the
// task slot or -1.
int32_t GSL_SystemLoadPrevSet(const char* path, uint32_t align, uint32_t keep, int32_t* result);
int32_t GSL_SystemLoadPrevCB(void* work);
// False while ordinary preloads are pending. Otherwise true, after flushing
// the untagged cached files unless the named cache still has a large free
// block (GSL_SystemCacheKeeps).
bool GSL_SystemLoadPrevCheck();
// Ends every preload task still running: its request goes back to the loader
// and it counts as finished (failed), so the counters above come back down.
void GSL_SystemLoadPrevEnd();
// The cache rule: true (keep the cache) when the largest free block of the
// named-cache heap, header included, is at least 0x28000000 bytes.
bool GSL_SystemCacheKeeps(uint64_t largestFree);
