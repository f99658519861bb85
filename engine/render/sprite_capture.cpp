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
// Binds a read framebuffer of its own holding the texture; false (and the
// framebuffer gone) when it cannot be read. ReadEnd brings the caller's
// binding back.
bool ReadBegin(uint32_t texture, GLint* previous, GLuint* fb) {
    *fb = 0;
    if (!glIsTexture(texture)) return false;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, previous);
    glGenFramebuffers(1, fb);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, *fb);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        return true;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(*previous));
    glDeleteFramebuffers(1, fb);
    return false;
}

void ReadEnd(GLint previous, GLuint fb) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
    glDeleteFramebuffers(1, &fb);
}

bool InFrame(int32_t x, int32_t y, int32_t w, int32_t h) {
    return x >= 0 && y >= 0 && w > 0 && h > 0 && w <= int32_t(kFrameWidth) - x && h <= int32_t(kFrameHeight) - y;
}

// Reads the w×h block at (x, y) of a 1280×720 texture into out through a
// read framebuffer of its own (the caller's binding comes back) and makes
// every alpha 0xFF. The texture keeps the frame's top row in row 0: no flip.
// False, with out untouched, when the texture cannot be read.
bool ReadBlock(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, void* out) {
    GLint previous = 0;
    GLuint fb = 0;
    if (!ReadBegin(texture, &previous, &fb)) return false;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(x, y, w, h, GL_BGRA, GL_UNSIGNED_BYTE, out);
    ReadEnd(previous, fb);
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
    if (!out || !InFrame(x, y, w, h)) return false;
    if (uint64_t(w) * uint64_t(h) * 4u > outSize) return false;
    return ReadBlock(texture, x, y, w, h, out);
}

uint32_t Lib_ScreenReadStart(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, int32_t rowPixels) {
    if (!InFrame(x, y, w, h) || rowPixels < w || rowPixels > int32_t(kFrameWidth)) return 0;
    GLint previous = 0;
    GLuint fb = 0;
    if (!ReadBegin(texture, &previous, &fb)) return 0;
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr((int64_t(h - 1) * rowPixels + w) * 4), nullptr, GL_STREAM_READ);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, rowPixels);
    glReadPixels(x, y, w, h, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);  // into the buffer, queued
    // Every other read goes to client memory, with tight rows.
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    ReadEnd(previous, fb);
    return buffer;
}

const void* Lib_ScreenReadMap(uint32_t read) {
    if (read == 0 || !glIsBuffer(read)) return nullptr;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, read);
    GLint64 size = 0;
    glGetBufferParameteri64v(GL_PIXEL_PACK_BUFFER, GL_BUFFER_SIZE, &size);
    GLint mapped = GL_FALSE;
    glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_MAPPED, &mapped);
    const void* pixels = nullptr;
    if (mapped) glGetBufferPointerv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_MAP_POINTER, const_cast<void**>(&pixels));
    else if (size > 0) pixels = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(size), GL_MAP_READ_BIT);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    return pixels;
}

void Lib_ScreenReadEnd(uint32_t read) {
    if (read == 0 || !glIsBuffer(read)) return;
    GLuint buffer = read;
    glDeleteBuffers(1, &buffer);  // unmaps it too
}
