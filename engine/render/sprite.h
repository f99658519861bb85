// The sprite table: 720 records, one per picture on the virtual 1280×720
// screen, addressed by slot (0..719, -1 none). A record holds its GL objects,
// the loaded file bytes, geometry, colour, effect parameters and its entry in
// the draw list. Game thread only.
//
// GL objects: a texture is its own shader-resource view, so `textureView`,
// `paletteView` and `maskView` hold the name bound to the texture unit (the
// same name as the texture for everything this layer makes). Objects are not
// reference-counted; Lib_SpriteFree deletes each one that no other in-use
// record still holds.
#pragma once

#include <cstdint>

#include "engine/render/camera.h"
#include "engine/render/draw_list.h"

inline constexpr int32_t kSpriteSlots = 720;
inline constexpr int32_t kSpriteNameSize = 256;
inline constexpr int32_t kSpriteParams = 20;
inline constexpr float kSpriteUnset = -9999.0f;  // centre x / srcRect x "not set"

enum : uint8_t {
    SPRITE_IN_USE = 0x01,
    SPRITE_READY = 0x02,      // texture built (or blank); only in-use, ready sprites draw
    SPRITE_CACHED = 0x04,     // data lies in the named cache or a cached container
    SPRITE_OWN_COPY = 0x08,   // data copied or decoded into an own heap-4 buffer
    SPRITE_HOLDS_ENTRY = 0x10,  // holds the cache entry of its file (tag 1)
    SPRITE_FAILED = 0x20,     // the load failed
    SPRITE_PALETTE = 0x40,    // 8-bit image with a palette texture
    SPRITE_COPY = 0x80,       // made by Lib_SpriteCopy: objects and buffers shared
};

struct SpriteRecord {
    uint32_t texture;
    uint32_t textureView;     // bound as colorMap (unit 0)
    uint32_t paletteTexture;  // 256×1 palette of an 8-bit image
    uint32_t paletteView;     // bound as palette (unit 1)
    uint32_t sampler;
    int32_t drawWidth, drawHeight;  // drawn size in pixels; 0: the texture size
    void* data;                     // file bytes, or decoded pixels once the texture exists
    void* extraBuffer;              // heap 4, freed on release
    uint32_t dataSize;              // size of data as loaded
    int32_t textureWidth, textureHeight;
    int32_t imageWidth, imageHeight;  // the picture inside the texture
    uint32_t imageExtra[4];
    uint8_t flags;
    int32_t drawEntry;
    int32_t layerTag;
    DrawCallback drawCallback;  // used when the draw entry is made
    CameraRecord* camera;       // null: the active camera
    float uvRect[4];            // left, top, right, bottom
    float rgba[4];              // color as four floats, lowest byte first
    uint8_t visible;
    float posX, posY, posZ;     // pixels, origin at the screen centre, y up
    float scaleX, scaleY, scaleZ;
    float rotX, rotY, rotZ;     // degrees
    int32_t srcRect[4];         // x, y, w, h; x -9999: not set
    uint32_t color;             // alpha, blue, green, red from the top byte down
    int32_t priority, subPriority;
    int32_t clipRect[4];        // scissor x, y, w, h (top-left origin)
    uint32_t cameraMode;        // 2: default perspective camera, 4: default orthographic
    float centerX, centerY;     // pivot in texture pixels; x -9999: not set
    float offsetX, offsetY;
    float shiftX, shiftY;
    float effectParams[kSpriteParams];
    int32_t captureEntry, captureInterval, captureCounter;
    int32_t layerValue[2];
    char fileName[kSpriteNameSize];
    int32_t cacheId;
    int32_t secondSprite;
    uint32_t maskTexture, maskView;
    void* maskImage;
    float maskParam[2];
    void* reducedBuffer[2];
    SpriteRecord* reducedSprite;
    // Every texel of the texture has alpha 255: set by the texture's build
    // from a picture's pixels, so that the drawing pass knows what it hides.
    bool opaque;
};

extern SpriteRecord SpriteTable[kSpriteSlots];
// GL textures and samplers made through this layer and not yet deleted (test
// hook and diagnostics).
extern int32_t SpriteLiveObjects;

struct SpritePoint {
    float x, y;
};
struct SpriteSize {
    int32_t w, h;
};

// The record of a slot 0..719, else null.
SpriteRecord* Lib_SpriteAt(int32_t slot);
// In use and not failed.
bool Lib_SpriteIsLive(int32_t slot);

// First slot from start (720 or more, negatives included: 0) to 719 without
// the in-use bit; resets and claims it. -1 when none is free.
int32_t Lib_SpriteGetFree(int32_t start);
void Lib_SpriteClear(SpriteRecord* record);
// Gives a record the size, source rectangle and centre of a whole 1280×720
// picture (blank sprites and screen captures).
void Lib_SpriteSetFullFrame(SpriteRecord* record);
// A new slot sharing the source's objects and buffers (flag 0x80) with its
// own draw entry. -1 for a source outside 0..719, not in use, still loading,
// or a capture sprite with a capture entry; -1 when no slot is free.
int32_t Lib_SpriteCopy(int32_t start, int32_t source);
// Releases a slot that is in use and ready or failed, or a capture sprite
// before its first capture (a pending load is left alone): draw entries,
// cache tag, GL objects and buffers no other in-use sprite holds; then
// resets it.
void Lib_SpriteFree(int32_t slot);
// Deletes the record's textures (the mask's too when withMask) and sampler
// that no other in-use record holds, and zeroes those fields.
void Lib_SpriteReleaseObjects(SpriteRecord* record, int32_t slot, bool withMask);
// Whether another in-use sprite holds the same non-null value in the field of
// kind 0 data, 1 extraBuffer, 2 reducedBuffer[0], 5 reducedSprite.
bool Lib_SpriteTexShared(int32_t kind, int32_t slot);
// -1 free, failed or outside 0..719; 0 loading; 2 ready.
int32_t Lib_SpriteGetState(int32_t slot);

// Accessors: nothing (or the stated default) unless the slot is live.
void Lib_SpriteSetFlag(int32_t slot, uint8_t visible);
uint8_t Lib_SpriteGetFlag(int32_t slot);
// rect = x, y, w, h; x -9999 does nothing. A rectangle other than the whole
// texture also moves the centre to the texture's integer halves, offset 0.
void Lib_SpriteSetRect(int32_t slot, const int32_t* rect);
SpriteSize Lib_SpriteGetSize(int32_t slot, uint8_t full, uint8_t scaled);
void Lib_SpriteSetColor(int32_t slot, uint32_t color);
uint32_t Lib_SpriteGetColor(int32_t slot);  // 0xFFFFFFFF (-1) when not live
void Lib_SpriteSetPrio(int32_t slot, int32_t priority, int32_t subPriority);
void Lib_SpriteSetValue(int32_t slot, uint32_t cameraMode);
void Lib_SpriteSetCenter(int32_t slot, SpritePoint center, SpritePoint shift);
SpritePoint Lib_SpriteGetCenter(int32_t slot);
SpritePoint Lib_SpriteGetPoint2(int32_t slot);
float* Lib_SpriteGetParams(float* out, int32_t slot);
void Lib_SpriteSetDrawCB(int32_t slot, DrawCallback callback, uint64_t arg);
void Lib_SpriteSetUser(int32_t slot, CameraRecord* camera);

// A sampler: kind 1 nearest, any other kind linear; clamped on every axis,
// level of detail 0 only, so no texture needs a mip chain.
void Lib_SamplerCreate(int32_t kind, uint32_t* out);
// Deletes a sampler made by Lib_SamplerCreate and zeroes the name.
void Lib_SamplerDelete(uint32_t* sampler);
// A texture of width×height from BGRA pixels (index8: one byte a texel),
// rows top first, tightly packed; pixels may be null. 0 on failure.
uint32_t Lib_SpriteTexCreate(int32_t width, int32_t height, bool index8, const void* pixels);
