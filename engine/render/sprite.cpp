#include "engine/render/sprite.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite_draw.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"

// process-wide: made afresh by Lib_GraphicsInit
SpriteRecord SpriteTable[kSpriteSlots];
// process-wide: a count of GL objects, back to 0 when the sprites are released
int32_t SpriteLiveObjects = 0;

namespace {

constexpr float kDefaultParams[kSpriteParams] = {0.0f, 0.0f, 1.0f, 1.0f, 1.0f};

bool InUse(const SpriteRecord& r) { return r.flags & SPRITE_IN_USE; }

// The texture names a record holds, in the order they are released.
constexpr uint32_t SpriteRecord::* kTextureFields[] = {
    &SpriteRecord::paletteView, &SpriteRecord::paletteTexture, &SpriteRecord::textureView,
    &SpriteRecord::texture,     &SpriteRecord::maskView,       &SpriteRecord::maskTexture,
};

bool HoldsTexture(const SpriteRecord& r, uint32_t name) {
    for (auto field : kTextureFields)
        if (r.*field == name) return true;
    return false;
}

// Whether another in-use record holds the texture (in any texture field) or
// the sampler.
bool TextureHeldElsewhere(uint32_t name, int32_t slot) {
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        if (i != slot && InUse(SpriteTable[i]) && HoldsTexture(SpriteTable[i], name)) return true;
    return false;
}

bool SamplerHeldElsewhere(uint32_t name, int32_t slot) {
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        if (i != slot && InUse(SpriteTable[i]) && SpriteTable[i].sampler == name) return true;
    return false;
}

template <typename T>
bool PointerHeldElsewhere(T SpriteRecord::* field, const void* value, int32_t slot) {
    if (!value) return false;
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        if (i != slot && InUse(SpriteTable[i]) && SpriteTable[i].*field == value) return true;
    return false;
}

}  // namespace

// Copies share their source's objects, and two loads of one cached file have
// one data buffer but a texture each.
void Lib_SpriteReleaseObjects(SpriteRecord* r, int32_t slot, bool withMask) {
    r->opaque = false;
    uint32_t deleted[6];
    int count = 0;
    for (auto field : kTextureFields) {
        if (!withMask && (field == &SpriteRecord::maskView || field == &SpriteRecord::maskTexture)) continue;
        uint32_t name = r->*field;
        r->*field = 0;
        if (!name || std::find(deleted, deleted + count, name) != deleted + count) continue;
        if (TextureHeldElsewhere(name, slot)) continue;
        glDeleteTextures(1, &name);
        deleted[count++] = name;
        --SpriteLiveObjects;
    }
    if (r->sampler && !SamplerHeldElsewhere(r->sampler, slot)) {
        glDeleteSamplers(1, &r->sampler);
        --SpriteLiveObjects;
    }
    r->sampler = 0;
}

namespace {

// Truncation of a float to i32 that stays defined for any value.
int32_t TruncToInt(float v) {
    if (!(v > -2147483648.0f)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483648.0f) return INT32_MAX;
    return int32_t(v);
}

}  // namespace

SpriteRecord* Lib_SpriteAt(int32_t slot) {
    return uint32_t(slot) < uint32_t(kSpriteSlots) ? &SpriteTable[slot] : nullptr;
}

bool Lib_SpriteIsLive(int32_t slot) {
    const SpriteRecord* r = Lib_SpriteAt(slot);
    return r && (r->flags & (SPRITE_IN_USE | SPRITE_FAILED)) == SPRITE_IN_USE;
}

void Lib_SpriteClear(SpriteRecord* r) {
    std::memset(static_cast<void*>(r), 0, sizeof *r);
    r->drawEntry = -1;
    r->layerTag = -1;
    r->drawCallback = Lib_SpriteDrawCB;
    r->uvRect[2] = r->uvRect[3] = 1.0f;
    for (float& c : r->rgba) c = 1.0f;
    r->scaleX = r->scaleY = r->scaleZ = 1.0f;
    r->srcRect[0] = int32_t(kSpriteUnset);
    r->color = 0xFFFFFFFFu;
    r->subPriority = -1;
    r->clipRect[2] = int32_t(kFrameWidth);
    r->clipRect[3] = int32_t(kFrameHeight);
    r->cameraMode = 1;
    r->centerX = kSpriteUnset;
    std::memcpy(r->effectParams, kDefaultParams, sizeof kDefaultParams);
    r->captureEntry = -1;
    r->cacheId = -1;
    r->secondSprite = -1;
}

int32_t Lib_SpriteGetFree(int32_t start) {
    if (uint32_t(start) >= uint32_t(kSpriteSlots)) start = 0;
    for (int32_t i = start; i < kSpriteSlots; ++i) {
        if (InUse(SpriteTable[i])) continue;
        Lib_SpriteClear(&SpriteTable[i]);
        SpriteTable[i].flags = SPRITE_IN_USE;
        return i;
    }
    return -1;
}

void Lib_SpriteSetFullFrame(SpriteRecord* r) {
    r->textureWidth = r->imageWidth = int32_t(kFrameWidth);
    r->textureHeight = r->imageHeight = int32_t(kFrameHeight);
    r->srcRect[0] = r->srcRect[1] = 0;
    r->srcRect[2] = int32_t(kFrameWidth);
    r->srcRect[3] = int32_t(kFrameHeight);
    r->centerX = float(kFrameWidth) * 0.5f;
    r->centerY = float(kFrameHeight) * 0.5f;
}

int32_t Lib_SpriteCopy(int32_t start, int32_t source) {
    const SpriteRecord* src = Lib_SpriteAt(source);
    // A copy of a free or loading record would hold a slot nothing can free;
    // a copy of a capture entry would remove the source's when freed.
    if (!src || !InUse(*src) || !(src->flags & (SPRITE_READY | SPRITE_FAILED)) || src->captureEntry >= 0) return -1;
    int32_t slot = Lib_SpriteGetFree(start);
    if (slot < 0) return -1;
    SpriteRecord* r = &SpriteTable[slot];
    std::memcpy(static_cast<void*>(r), src, sizeof *r);
    r->flags |= SPRITE_COPY;
    r->drawEntry = Lib_DrawSet(r->drawCallback, reinterpret_cast<uint64_t>(r), r->priority, 0, r->subPriority);
    return slot;
}

bool Lib_SpriteTexShared(int32_t kind, int32_t slot) {
    const SpriteRecord* r = Lib_SpriteAt(slot);
    if (!r) return false;
    switch (kind) {
    case 0: return PointerHeldElsewhere(&SpriteRecord::data, r->data, slot);
    case 1: return PointerHeldElsewhere(&SpriteRecord::extraBuffer, r->extraBuffer, slot);
    case 2: {
        const void* value = r->reducedBuffer[0];
        if (!value) return false;
        for (int32_t i = 0; i < kSpriteSlots; ++i)
            if (i != slot && InUse(SpriteTable[i]) && SpriteTable[i].reducedBuffer[0] == value) return true;
        return false;
    }
    case 5: return PointerHeldElsewhere(&SpriteRecord::reducedSprite, r->reducedSprite, slot);
    default: return false;
    }
}

void Lib_SpriteFree(int32_t slot) {
    SpriteRecord* r = Lib_SpriteAt(slot);
    if (!r || !InUse(*r)) return;
    // A load still pending is left alone. A record that already holds a
    // texture is past loading: a capture sprite before its first capture.
    if (!(r->flags & (SPRITE_READY | SPRITE_FAILED)) && !r->texture) return;
    if (r->drawEntry >= 0) Lib_DrawDel(uint32_t(r->drawEntry), 0);
    if (r->captureEntry >= 0) Lib_DrawDel(uint32_t(r->captureEntry), 0);
    const bool dataShared = Lib_SpriteTexShared(0, slot);
    if ((r->flags & SPRITE_HOLDS_ENTRY) && (r->fileName[0] || r->cacheId >= 0) && !dataShared) {
        Lib_FileCacheTag(r->fileName, r->cacheId, 0);
    }
    Lib_SpriteReleaseObjects(r, slot, true);
    if (r->reducedBuffer[0] && !Lib_SpriteTexShared(2, slot)) {
        Lib_MemFree(HEAP_GRAPHICS, r->reducedBuffer[0]);
        if (r->reducedBuffer[1]) Lib_MemFree(HEAP_GRAPHICS, r->reducedBuffer[1]);
    }
    if (r->extraBuffer && !Lib_SpriteTexShared(1, slot)) Lib_MemFree(HEAP_GRAPHICS, r->extraBuffer);
    if (r->data && (r->flags & (SPRITE_CACHED | SPRITE_OWN_COPY)) != SPRITE_CACHED && !dataShared)
        Lib_MemFree(HEAP_GRAPHICS, r->data);
    if (r->reducedSprite && !Lib_SpriteTexShared(5, slot)) Lib_MemFree(HEAP_GENERAL, r->reducedSprite);
    Lib_SpriteClear(r);
}

int32_t Lib_SpriteGetState(int32_t slot) {
    const SpriteRecord* r = Lib_SpriteAt(slot);
    if (!r || !InUse(*r) || (r->flags & SPRITE_FAILED)) return -1;
    return r->flags & SPRITE_READY;
}

// --- Accessors -------------------------------------------------------------------

void Lib_SpriteSetFlag(int32_t slot, uint8_t visible) {
    if (Lib_SpriteIsLive(slot)) SpriteTable[slot].visible = visible;
}

uint8_t Lib_SpriteGetFlag(int32_t slot) { return Lib_SpriteIsLive(slot) ? SpriteTable[slot].visible : 0; }

void Lib_SpriteSetRect(int32_t slot, const int32_t* rect) {
    if (!Lib_SpriteIsLive(slot) || !rect || rect[0] == int32_t(kSpriteUnset)) return;
    SpriteRecord* r = &SpriteTable[slot];
    std::memcpy(r->srcRect, rect, sizeof r->srcRect);
    const int32_t W = r->textureWidth, H = r->textureHeight;
    if (W <= 0 || H <= 0) return;  // no texture to map the rectangle onto
    const float fw = float(W), fh = float(H);
    r->uvRect[0] = float(rect[0]) / fw;
    r->uvRect[1] = float(rect[1]) / fh;
    r->uvRect[2] = float(rect[2]) / fw + r->uvRect[0];
    r->uvRect[3] = float(rect[3]) / fh + r->uvRect[1];
    if (rect[0] == 0 && rect[1] == 0 && rect[2] == W && rect[3] == H) return;
    r->offsetX = r->offsetY = 0.0f;
    r->centerX = float(W / 2);
    r->centerY = float(H / 2);
}

SpriteSize Lib_SpriteGetSize(int32_t slot, uint8_t full, uint8_t scaled) {
    if (!Lib_SpriteIsLive(slot)) return {0, 0};
    const SpriteRecord& r = SpriteTable[slot];
    SpriteSize s;
    if (full) {
        s = {r.imageWidth, r.imageHeight};
    } else {
        s = {r.srcRect[2], r.srcRect[3]};
        if (int64_t(s.w) * s.h == 0) s = {r.textureWidth, r.textureHeight};
    }
    if (scaled) {
        s.w = TruncToInt(float(s.w) * r.scaleX);
        s.h = TruncToInt(float(s.h) * r.scaleY);
    }
    return s;
}

void Lib_SpriteSetColor(int32_t slot, uint32_t color) {
    if (!Lib_SpriteIsLive(slot)) return;
    SpriteRecord* r = &SpriteTable[slot];
    r->color = color;
    for (int i = 0; i < 4; ++i) r->rgba[i] = std::clamp(float((color >> (8 * i)) & 0xFF) / 255.0f, 0.0f, 1.0f);
}

uint32_t Lib_SpriteGetColor(int32_t slot) { return Lib_SpriteIsLive(slot) ? SpriteTable[slot].color : 0xFFFFFFFFu; }

void Lib_SpriteSetPrio(int32_t slot, int32_t priority, int32_t subPriority) {
    if (!Lib_SpriteIsLive(slot)) return;
    SpriteRecord* r = &SpriteTable[slot];
    r->priority = priority;
    r->subPriority = subPriority;
    // Re-linked only when the entry's pair changes (Lib_DrawSetPrio checks).
    if (r->drawEntry >= 0) Lib_DrawSetPrio(uint32_t(r->drawEntry), priority, subPriority);
}

void Lib_SpriteSetValue(int32_t slot, uint32_t cameraMode) {
    if (Lib_SpriteIsLive(slot)) SpriteTable[slot].cameraMode = cameraMode;
}

void Lib_SpriteSetCenter(int32_t slot, SpritePoint center, SpritePoint shift) {
    if (!Lib_SpriteIsLive(slot) || center.x == kSpriteUnset) return;
    SpriteRecord* r = &SpriteTable[slot];
    r->centerX = center.x;
    r->centerY = center.y;
    r->shiftX = shift.x;
    r->shiftY = shift.y;
}

SpritePoint Lib_SpriteGetCenter(int32_t slot) {
    if (!Lib_SpriteIsLive(slot)) return {kSpriteUnset, 0.0f};
    return {SpriteTable[slot].centerX, SpriteTable[slot].centerY};
}

SpritePoint Lib_SpriteGetPoint2(int32_t slot) {
    if (!Lib_SpriteIsLive(slot)) return {0.0f, 0.0f};
    return {SpriteTable[slot].shiftX, SpriteTable[slot].shiftY};
}

float* Lib_SpriteGetParams(float* out, int32_t slot) {
    if (!out) return out;
    if (Lib_SpriteIsLive(slot))
        std::memcpy(out, SpriteTable[slot].effectParams, sizeof kDefaultParams);
    else
        std::memcpy(out, kDefaultParams, sizeof kDefaultParams);
    return out;
}

void Lib_SpriteSetDrawCB(int32_t slot, DrawCallback callback, uint64_t arg) {
    if (!Lib_SpriteIsLive(slot)) return;
    SpriteRecord* r = &SpriteTable[slot];
    if (r->drawEntry >= 0) Lib_DrawDel(uint32_t(r->drawEntry), 0);
    // Lib_DrawSet gives -1 for a null callback or a full list.
    r->drawEntry = Lib_DrawSet(callback, arg, std::max(r->priority, 0), 0, r->subPriority);
    r->drawCallback = callback;
}

void Lib_SpriteSetUser(int32_t slot, CameraRecord* camera) {
    if (Lib_SpriteIsLive(slot)) SpriteTable[slot].camera = camera;
}

// --- GL objects --------------------------------------------------------------------

void Lib_SamplerCreate(int32_t kind, uint32_t* out) {
    if (!out) return;
    // No mip-map filter: the largest level of detail is 0 anyway, and a
    // texture made elsewhere without a mip chain (GL's default MAX_LEVEL)
    // would read as opaque black under one.
    const GLint filter = kind == 1 ? GL_NEAREST : GL_LINEAR;
    GLuint s = Lib_SamplerMake(filter, filter);
    if (s) ++SpriteLiveObjects;
    *out = s;
}

void Lib_SamplerDelete(uint32_t* sampler) {
    if (!sampler || !*sampler) return;
    glDeleteSamplers(1, sampler);
    --SpriteLiveObjects;
    *sampler = 0;
}

uint32_t Lib_SpriteTexCreate(int32_t width, int32_t height, bool index8, const void* pixels) {
    if (width <= 0 || height <= 0) return 0;
    GLuint tex = 0;
    glGenTextures(1, &tex);
    if (!tex) return 0;
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, tex);
    // One level only, so that the texture is complete whatever the sampler.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (index8)
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, pixels);
    else
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    ++SpriteLiveObjects;
    Lib_RenderTouch();
    return tex;
}
