#include "engine/render/sprite_load.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/container.h"
#include "engine/files/file_loader.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"

namespace {

constexpr uint32_t kSpriteAlign = 256;
constexpr uint32_t kHeapGraphics = 4;

bool RequestPending(int32_t request) {
    return uint32_t(request) < uint32_t(kFileLoadSlots) &&
           FileLoadTable.slots[request].state.load(std::memory_order_acquire) == 0;
}

// Done or failed, once no longer pending; a slot outside 0..127 counts as failed.
bool RequestDone(int32_t request) {
    return uint32_t(request) < uint32_t(kFileLoadSlots) &&
           FileLoadTable.slots[request].state.load(std::memory_order_acquire) > 0;
}

bool IsContainer(const SpriteRecord* r) { return std::strstr(r->fileName, ".arc") != nullptr; }

// A task with a zeroed work area; -1 (and no task) when either is missing.
int32_t RegisterTask(const char* name, TaskCallback callback, void** work) {
    const int32_t task = Lib_TaskSet(name, callback, kSpriteTaskPriority, kSpriteTaskGroup, 0);
    if (task < 0) return -1;
    *work = Lib_TaskWorkAlloc(uint32_t(task), kSpriteTaskWork);
    if (!*work) {
        Lib_TaskDel(uint32_t(task));
        return -1;
    }
    std::memset(*work, 0, kSpriteTaskWork);
    return task;
}

// A picture file's PNG pixels are decoded by the loader, after the read.
constexpr FileLoadAfter kDecodeAhead{Lib_ImageDecodeAhead, Lib_ImageDecodeDrop};

// Once the texture holds them, a sprite's own pixel buffer (a file read into
// heap 4, or a picture decoded or copied) is read by nobody again: its pages
// go back, and the buffer keeps the address that the sprite's copies share
// and that tells a picture from a blank rectangle in drawing. Bytes in the
// named cache are the cache's, and a container's bytes are read for members.
void ReleasePixels(const SpriteRecord* r) {
    if ((r->flags & (SPRITE_READY | SPRITE_FAILED)) != SPRITE_READY || !r->texture) return;
    if ((r->flags & (SPRITE_CACHED | SPRITE_OWN_COPY)) == SPRITE_CACHED) return;
    Lib_MemDiscard(r->data);
}

void LinkReady(SpriteRecord* r) {
    r->flags |= SPRITE_READY;
    r->drawEntry = Lib_DrawSet(r->drawCallback, reinterpret_cast<uint64_t>(r), r->priority, 0, -1);
}

// The sprite from one member of a container; a damaged container or a
// missing member (logged by the container reader) fails it.
void BuildMember(int32_t slot, const void* container, uint64_t size, const char* memberName, int32_t index) {
    SpriteRecord* r = &SpriteTable[slot];
    ArcView arc;
    const uint8_t* member = nullptr;
    uint32_t memberSize = 0;
    if (!Lib_ArcOpen(&arc, container, size) || !Lib_ArcGetData(&arc, memberName, index, &member, &memberSize)) {
        r->flags |= SPRITE_FAILED;
        return;
    }
    r->data = const_cast<uint8_t*>(member);
    r->dataSize = memberSize;
    Lib_SpriteMakeTexture(slot);
    ReleasePixels(r);
}

}  // namespace

int32_t Lib_SpriteLoad(int32_t start, const char* fileName, int32_t cacheId, uint8_t cacheFlag) {
    const int32_t slot = Lib_SpriteGetFree(start);
    if (slot < 0) return -1;
    SpriteRecord* r = &SpriteTable[slot];
    if (cacheFlag) r->flags |= SPRITE_CACHED;

    if (!fileName && cacheId < 0) {
        // Blank: a plain coloured 1280×720 rectangle, ready at once.
        Lib_SpriteSetFullFrame(r);
        LinkReady(r);
        return slot;
    }

    void* area = nullptr;
    const int32_t task = RegisterTask("Lib_SpriteLoadCB", Lib_SpriteLoadCB, &area);
    if (task < 0) {
        Lib_SpriteClear(r);
        return -1;
    }
    SpriteLoadWork* work = new (area) SpriteLoadWork{0, slot, -1, 0, nullptr, nullptr};
    if (fileName) std::snprintf(r->fileName, sizeof r->fileName, "%.255s", fileName);
    r->cacheId = cacheId;
    // Containers and ".mip" data are no pictures of their own.
    const bool picture = !IsContainer(r) && !std::strstr(r->fileName, ".mip");
    work->request = Lib_FileLoadReq(cacheFlag ? kFileTypeCache : kHeapGraphics, fileName, &work->data, &work->size,
                                    kSpriteAlign, picture ? &kDecodeAhead : nullptr, &work->decoded);
    if (work->request < 0) {
        // Nothing may stay behind to mark the slot failed once it is reused.
        Lib_TaskDel(uint32_t(task));
        Lib_SpriteClear(r);
        return -1;
    }
    return slot;
}

int32_t Lib_SpriteLoadCB(void* area) {
    SpriteLoadWork* work = static_cast<SpriteLoadWork*>(area);
    SpriteRecord* r = Lib_SpriteAt(work->slot);
    if (!r) {
        Lib_FileLoadEnd(work->request);
        return 1;
    }
    if (work->state == 1) {
        LinkReady(r);
        return 1;
    }
    if (RequestPending(work->request)) return 0;
    const bool done = RequestDone(work->request);
    if (done) {
        // A cached file stays pinned while the slot holds it: the texture
        // build takes (and tags) it before the slot is released.
        r->data = work->data;
        r->dataSize = work->size;
        Lib_SpriteMakeTexture(work->slot, work->decoded);
        work->decoded = nullptr;
        if (!IsContainer(r)) ReleasePixels(r);
    }
    Lib_FileLoadEnd(work->request);
    work->request = -1;
    if (!done) {
        r->flags |= SPRITE_FAILED;
        return 1;
    }
    if (IsContainer(r)) {
        work->state = 1;  // ready on the next frame
        return 0;
    }
    return 1;
}

int32_t Lib_SpriteLoadGroup2(int32_t start, const char* containerName, const char* memberName, int32_t memberIndex,
                             uint8_t queueFlag) {
    const int32_t slot = Lib_SpriteGetFree(start);
    if (slot < 0) return -1;
    SpriteRecord* r = &SpriteTable[slot];
    r->flags |= SPRITE_CACHED;  // the data lies inside a cached container

    // Look for a complete cache entry (one being filled is waited for by the loader).
    char name[kFileNameSize], canon[kFileNameSize];
    void* container = nullptr;
    uint64_t containerSize = 0;
    int32_t cached = -1;
    if (containerName && std::strlen(containerName) < sizeof name) {
        std::memcpy(name, containerName, std::strlen(containerName) + 1);
        if (Lib_FileNameNormalise(name, canon)) cached = Lib_CashLookup(canon, &container, &containerSize);
    }

    if (queueFlag && cached != 1) {
        void* area = nullptr;
        const int32_t task = RegisterTask("Lib_SpriteLoadGroup2CB", Lib_SpriteLoadGroup2CB, &area);
        if (task < 0) {
            Lib_SpriteClear(r);
            return -1;
        }
        SpriteGroupLoadWork* work = new (area) SpriteGroupLoadWork{};
        work->slot = slot;
        work->memberIndex = memberIndex;
        if (memberName) std::snprintf(work->memberName, sizeof work->memberName, "%.258s", memberName);
        // No request slot: the task fails the sprite on the next frame.
        work->request = Lib_FileLoadReq(kFileTypeCache, containerName, &work->container, &work->containerSize,
                                        kSpriteAlign);
        return slot;
    }
    if (cached != 1) {
        Lib_SpriteClear(r);
        return -1;
    }
    BuildMember(slot, container, containerSize, memberName, memberIndex);
    return slot;
}

int32_t Lib_SpriteLoadGroup2CB(void* area) {
    SpriteGroupLoadWork* work = static_cast<SpriteGroupLoadWork*>(area);
    SpriteRecord* r = Lib_SpriteAt(work->slot);
    if (uint32_t(work->request) >= uint32_t(kFileLoadSlots)) {
        Lib_FileLoadEnd(work->request);
        work->request = -1;
        if (r) r->flags |= SPRITE_FAILED;
        return 1;
    }
    if (RequestPending(work->request)) return 0;
    const bool done = RequestDone(work->request);
    if (r && done) {  // while the slot still pins the container
        work->memberName[kSpriteMemberNameSize - 1] = 0;
        BuildMember(work->slot, work->container, work->containerSize, work->memberName, work->memberIndex);
    }
    Lib_FileLoadEnd(work->request);
    work->request = -1;
    if (r && !done) r->flags |= SPRITE_FAILED;
    return 1;
}

int32_t Lib_SpriteLoadGroupCB(void* area) {
    SpriteGroupWaitWork* work = static_cast<SpriteGroupWaitWork*>(area);
    if (work->state != SPRITE_WAIT_PENDING || RequestPending(work->request)) return 0;
    const bool done = RequestDone(work->request);
    Lib_FileLoadEnd(work->request);
    work->request = -1;
    work->state = done ? SPRITE_WAIT_LOADED : SPRITE_WAIT_FAILED;
    return 0;
}
