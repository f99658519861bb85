#include "engine/render/sprite_capture.h"

#include <algorithm>
#include <cstring>

#include "engine/core/heap.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_vm.h"

namespace {
constexpr uint32_t kCaptureAlign = 256;
}

int32_t Lib_SpriteCreateCapture(int32_t /*unused*/, int32_t capturePriority, int32_t interval) {
    const int32_t slot = Lib_SpriteGetFree(-1);
    if (slot < 0) return -1;
    SpriteRecord* r = &SpriteTable[slot];
    r->captureEntry = Lib_DrawSet(Lib_CaptureCB, reinterpret_cast<uint64_t>(r), std::max(capturePriority, 0), 0, -1);
    r->captureInterval = std::max(interval, 0);
    r->captureCounter = 0;
    r->data = Lib_MemAlloc(HEAP_GRAPHICS, kCaptureBytes, kCaptureAlign);
    if (!r->data) {
        if (r->captureEntry >= 0) Lib_DrawDel(uint32_t(r->captureEntry), 0);
        Lib_SpriteClear(r);
        return -1;
    }
    // Zeroed by giving its pages back: the buffer only starts the texture
    // transparent and is never read again, so it takes no resident memory.
    Plat_VmZero(r->data, kCaptureBytes);
    r->texture = r->textureView = Lib_SpriteTexCreate(int32_t(kFrameWidth), int32_t(kFrameHeight), false, r->data);
    Lib_SamplerCreate(0, &r->sampler);
    Lib_SpriteSetFullFrame(r);
    r->effectParams[10] = 1.0f;  // drawn opaque
    r->drawEntry = Lib_DrawSet(r->drawCallback, reinterpret_cast<uint64_t>(r), std::max(r->priority, 0), 0, -1);
    return slot;
}

void Lib_CaptureCB(uint64_t arg) {
    SpriteRecord* r = reinterpret_cast<SpriteRecord*>(arg);
    Renderer* renderer = *Lib_GetRenderer();
    if (!r || !(r->flags & SPRITE_IN_USE) || !renderer) return;
    // The first call captures, then every interval-th one.
    const int64_t interval = std::max(r->captureInterval, 0);
    if (interval != 0) {
        const int64_t c = r->captureCounter;
        r->captureCounter = int32_t((c + 1) % interval);
        if (c % interval != 0) return;
    }
    // Row for row: the texture keeps the frame's top row in row 0.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, renderer->frameFramebuffer);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, r->texture);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, GLsizei(kFrameWidth), GLsizei(kFrameHeight));
    r->flags |= SPRITE_READY;
    if (interval == 0) {
        if (r->captureEntry >= 0) Lib_DrawDel(uint32_t(r->captureEntry), 1);  // gone after this walk
        r->captureEntry = -1;
    }
}

namespace {
// Reads the w×h block at (x, y) of a 1280×720 texture into out through a
// read framebuffer of its own (the caller's binding comes back) and makes
// every alpha 0xFF. The texture keeps the frame's top row in row 0: no flip.
// False, with out untouched, when the texture cannot be read.
bool ReadBlock(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, void* out) {
    if (!glIsTexture(texture)) return false;
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    GLuint fb = 0;
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fb);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    const bool readable = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (readable) {
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glReadPixels(x, y, w, h, GL_BGRA, GL_UNSIGNED_BYTE, out);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
    glDeleteFramebuffers(1, &fb);
    if (!readable) return false;
    uint8_t* p = static_cast<uint8_t*>(out);
    const uint64_t bytes = uint64_t(w) * uint64_t(h) * 4u;
    for (uint64_t i = 3; i < bytes; i += 4) p[i] = 0xFF;
    return true;
}
}  // namespace

void Lib_ScreenCapture(uint32_t texture, int32_t /*unused*/, void** out, int32_t heap) {
    if (!out) return;
    *out = nullptr;
    void* image = nullptr;
    if (heap >= 0 && heap < HEAP_COUNT)
        image = Lib_MemHeapAlloc(&HeapTable.heaps[heap], kCaptureBytes, kCaptureAlign, false);
    for (int h = 0; !image && h < HEAP_COUNT; ++h)
        if (HeapTable.live[h]) image = Lib_MemHeapAlloc(&HeapTable.heaps[h], kCaptureBytes, kCaptureAlign, false);
    if (!image) return;
    if (!ReadBlock(texture, 0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight), image)) {
        Lib_MemFree(heap, image);
        return;
    }
    *out = image;
}

bool Lib_ScreenCaptureRegion(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, void* out,
                             uint32_t outSize) {
    if (!out || x < 0 || y < 0 || w <= 0 || h <= 0 || w > int32_t(kFrameWidth) - x || h > int32_t(kFrameHeight) - y)
        return false;
    if (uint64_t(w) * uint64_t(h) * 4u > outSize) return false;
    return ReadBlock(texture, x, y, w, h, out);
}
