// The sprite texture builder on arbitrary bytes: a claimed sprite whose data
// is the input (an exact-size heap-4 copy, or bytes held elsewhere as a
// cached file is), built into its GL texture on a headless context (SDL
// offscreen, Mesa's software GL). A built sprite must have sides inside the
// limits and the whole texture as its source; a failed one no texture. Once
// freed, no GL object and no heap byte may stay behind.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"
#include "platform/plat_gl.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}
void Quiet(const char*) {}

// Pictures larger than this cost upload time, not coverage.
constexpr uint64_t kMaxTexels = 1u << 20;

uint64_t g_heapBaseline = 0;
int32_t g_objectBaseline = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Mesa's EGL keeps allocations that show as leaks once it is unloaded.
    dlopen("libEGL.so.1", RTLD_LAZY | RTLD_NODELETE);
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 16 * mib, 64 * mib};
    Check(Lib_MemInit(sizes));
    Lib_DebugSetSink(Quiet);
    if (!Plat_GLHeadlessStart(1280, 720) || !Lib_GraphicsInit()) {
        std::fprintf(stderr, "sprite_texture_fuzz: no headless OpenGL 3.3 context: %s\n", Plat_GLError());
        std::abort();
    }
    Lib_DrawClear();
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
    g_heapBaseline = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    g_objectBaseline = SpriteLiveObjects;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (8u << 20)) return 0;
    ImageInfo info;
    if (Lib_ImageParse(data, uint32_t(size), &info) &&
        uint64_t(info.textureWidth) * uint64_t(info.textureHeight) > kMaxTexels)
        return 0;
    const bool cached = size > 0 && (data[size - 1] & 1);
    void* bytes = Lib_MemAlloc(HEAP_GRAPHICS, size ? size : 1, 256);
    Check(bytes != nullptr);
    if (size) std::memcpy(bytes, data, size);

    int32_t slot = Lib_SpriteGetFree(0);
    Check(slot >= 0);
    SpriteRecord* r = Lib_SpriteAt(slot);
    r->data = bytes;
    r->dataSize = uint32_t(size);
    r->fileName[0] = 0;
    if (cached) {
        r->flags |= SPRITE_CACHED;
        r->cacheId = -1;
    }
    Lib_SpriteMakeTexture(slot);
    if (r->flags & SPRITE_READY) {
        Check(!(r->flags & SPRITE_FAILED));
        Check(r->textureWidth >= 1 && r->textureWidth <= kImageMaxSide);
        Check(r->textureHeight >= 1 && r->textureHeight <= kImageMaxSide);
        Check(r->imageWidth >= 0 && r->imageWidth <= kImageMaxSide);
        Check(r->imageHeight >= 0 && r->imageHeight <= kImageMaxSide);
        Check(r->srcRect[0] == 0 && r->srcRect[1] == 0);
        Check(r->srcRect[2] == r->textureWidth && r->srcRect[3] == r->textureHeight);
        Check(r->texture != 0 && r->textureView == r->texture && r->data != nullptr);
        Check(!(r->flags & SPRITE_PALETTE) || r->paletteTexture != 0);
    } else {
        Check(r->flags & SPRITE_FAILED);
        Check(r->texture == 0 && r->paletteTexture == 0);
    }
    Lib_SpriteFree(slot);
    // Cached bytes belong to their holder, which frees them.
    if (cached) Lib_MemFree(HEAP_GRAPHICS, bytes);
    Check(SpriteLiveObjects == g_objectBaseline);
    Check(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse == g_heapBaseline);
    Check(DrawList.count == 0);
    return 0;
}
