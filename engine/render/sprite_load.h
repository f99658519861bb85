// Asynchronous sprite loading. A load claims a sprite, queues a file-load
// request and registers a task (priority 32000, group 200, run once a frame)
// that polls the request; when the bytes are there it builds the texture,
// which links the sprite into the draw list. A PNG is decoded on the loader
// thread once read, so that the game thread only uploads its pixels. Callers poll Lib_SpriteGetState
// until it gives 2 (ready) or -1 (failed). The request is always released
// before its task ends. Game thread only.
#pragma once

#include <cstdint>

inline constexpr uint16_t kSpriteTaskPriority = 32000;
inline constexpr uint16_t kSpriteTaskGroup = 200;
inline constexpr uint32_t kSpriteTaskWork = 288;
inline constexpr uint32_t kSpriteMemberNameSize = 259;

// The load task's work. The loader delivers into data and size here; they
// reach the sprite record on the game thread once the request is done.
// A PNG arrives decoded (by the loader thread) in `decoded`.
struct SpriteLoadWork {
    uint8_t state;  // 0 waiting for the file; 1 container sprite, ready next frame
    int32_t slot;
    int32_t request;
    uint32_t size;
    void* data;
    void* decoded;
};

struct SpriteGroupLoadWork {
    uint8_t state;            // 0 waiting
    int32_t slot;
    int32_t request;          // -1 once released
    uint32_t containerSize;   // delivered with the container
    void* container;          // the container's bytes (in the named cache)
    char memberName[kSpriteMemberNameSize];
    int32_t memberIndex;      // negative: look the member up by name
};
static_assert(sizeof(SpriteGroupLoadWork) == kSpriteTaskWork);

// The work of a container wait registered by screen code.
enum : uint8_t { SPRITE_WAIT_PENDING = 0, SPRITE_WAIT_LOADED = 99, SPRITE_WAIT_FAILED = 0xFF };
struct SpriteGroupWaitWork {
    uint8_t state;
    int32_t request;
};

// A picture into the first free slot from start: into the named cache with
// cacheFlag, else into heap 4. A null name with a negative cacheId makes a
// blank 1280×720 sprite, ready at once. -1 when no slot, task or request
// slot is free (nothing is left behind then).
int32_t Lib_SpriteLoad(int32_t start, const char* fileName, int32_t cacheId, uint8_t cacheFlag);
int32_t Lib_SpriteLoadCB(void* work);

// A sprite from a member (by index when 0 or more, else by name) of a
// container held in the named cache: built before returning when the
// container is cached; with queueFlag a container not cached yet is queued
// and the sprite built by a task. -1 when no slot or task is free, or without
// queueFlag when the container is not cached. A missing member or a failed
// container read sets the failed flag.
int32_t Lib_SpriteLoadGroup2(int32_t start, const char* containerName, const char* memberName, int32_t memberIndex,
                             uint8_t queueFlag);
int32_t Lib_SpriteLoadGroup2CB(void* work);
// Container wait: sets the state to 99 (loaded) or 0xFF (failed) and keeps
// running; its registrar reads the state and deletes the task. Always 0.
int32_t Lib_SpriteLoadGroupCB(void* work);
