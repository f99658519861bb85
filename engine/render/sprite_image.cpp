#include "engine/render/sprite_image.h"

#include <algorithm>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/render/image_decode.h"
#include "engine/render/sprite.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int32_t kNoCentre = -9999;
constexpr uint32_t kPalette8 = 1024, kPalette4 = 64;
constexpr uint32_t kPngHeaderBytes = 24;  // signature, IHDR length and type, width, height
constexpr uint32_t kPngFirstChunkEnd = 16;  // signature, first chunk's length and type

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
int32_t I32(const uint8_t* p) { return int32_t(U32(p)); }
uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t BigU32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
float F32(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

// PNG only when IHDR is the first chunk, as the decoder demands.
int32_t TypeOf(const uint8_t* d, uint32_t size) {
    if (d && size >= kPngFirstChunkEnd && std::memcmp(d, kPngSignature, sizeof kPngSignature) == 0 &&
        std::memcmp(d + 12, "IHDR", 4) == 0)
        return IMAGE_PNG;
    if (d && size >= 4 && std::memcmp(d, "EXT0", 4) == 0) return IMAGE_EXT0;
    return IMAGE_HEADER18;
}

uint32_t PaletteBytes(uint8_t bpp) { return bpp == 8 ? kPalette8 : bpp == 4 ? kPalette4 : 0; }

// Fills a probe copy: the header, then palette and pixel pointers that lie
// inside the data.
void CopyHeader(const uint8_t* d, uint32_t size, uint8_t* header, uint32_t headerSize, uint8_t bppAt,
                const uint8_t** palette, const uint8_t** pixels) {
    std::memset(header, 0, headerSize);
    *palette = *pixels = nullptr;
    if (!d || size < headerSize) return;
    std::memcpy(header, d, headerSize);
    const uint32_t paletteBytes = PaletteBytes(d[bppAt]);
    if (paletteBytes && headerSize < size) *palette = d + headerSize;
    if (uint64_t(headerSize) + paletteBytes < size) *pixels = d + headerSize + paletteBytes;
}

bool Bad(ImageInfo* info, const char* why) {
    info->failure = why;
    return false;
}

bool SideOk(int64_t v, int64_t lowest) { return v >= lowest && v <= kImageMaxSide; }

void MarkFailed(SpriteRecord* r, int32_t slot, const char* why) {
    r->flags |= SPRITE_FAILED;
    Lib_DebugPrintf("Error -> Lib_SpriteMakeTexture(%d,%.255s): %s\n", slot, r->fileName, why);
}

// Whether every one of width × height B, G, R, A texels has alpha 255.
bool EveryTexelOpaque(const void* bgra, int32_t width, int32_t height) {
    const auto* p = static_cast<const uint8_t*>(bgra);
    const size_t texels = size_t(width) * size_t(height);
    uint8_t all = 0xFF;
    for (size_t i = 0; i < texels; ++i) all &= p[i * 4 + 3];
    return all == 0xFF;
}

// The texture of width × height B, G, R, A pixels, its opaque mark and its
// linear sampler.
void MakeBgraTexture(SpriteRecord* r, int32_t width, int32_t height, const uint8_t* pixels) {
    r->texture = r->textureView = Lib_SpriteTexCreate(width, height, false, pixels);
    r->opaque = r->texture && EveryTexelOpaque(pixels, width, height);
    Lib_SamplerCreate(0, &r->sampler);
}

// EXT0: the texture from the pixels in place (a cached file) or from an own
// copy (a container member), with a palette texture for 8 bits.
bool BuildExt0(SpriteRecord* r, const ImageInfo& info) {
    const uint8_t* d = static_cast<const uint8_t*>(r->data);
    if (r->flags & SPRITE_CACHED) {
        if (!r->fileName[0] && r->cacheId < 0 && !(r->flags & SPRITE_OWN_COPY)) {
            void* copy = Lib_MemAlloc(HEAP_GRAPHICS, r->dataSize, 256);
            if (!copy) return false;
            std::memcpy(copy, d, r->dataSize);
            r->data = copy;
            d = static_cast<const uint8_t*>(copy);
            r->flags |= SPRITE_OWN_COPY;
        } else if (Lib_FileCacheTag(r->fileName, r->cacheId, 1, 1)) {
            r->flags |= SPRITE_HOLDS_ENTRY;  // a tag above 1 belongs to a preload
        }
    }
    const bool index8 = info.bpp == 8;
    r->texture = r->textureView = Lib_SpriteTexCreate(info.textureWidth, info.textureHeight, index8, d + info.pixelOffset);
    r->opaque = r->texture && !index8 && EveryTexelOpaque(d + info.pixelOffset, info.textureWidth, info.textureHeight);
    if (index8) {
        r->flags |= SPRITE_PALETTE;
        r->paletteTexture = r->paletteView = Lib_SpriteTexCreate(256, 1, false, d + info.paletteOffset);
    }
    Lib_SamplerCreate(index8 ? 1 : 0, &r->sampler);
    return true;
}

// Stands for a PNG that Lib_ImageDecodeAhead could not decode.
// process-wide: a marker whose address alone is used
uint8_t g_undecodable;

// The PNG's pixels in a new heap-4 buffer; null when there is no memory,
// the undecodable marker when the decode fails.
void* DecodePng(const uint8_t* d, uint32_t size, const ImageInfo& info) {
    const uint64_t bytes = Lib_ImagePngBufferSize(info.textureWidth, info.textureHeight);
    void* pixels = Lib_MemAlloc(HEAP_GRAPHICS, bytes, 256);
    if (!pixels) return nullptr;
    const ImageSize got = Lib_WicDecode(nullptr, pixels, uint32_t(bytes), d, size);
    if (got.width == uint32_t(info.textureWidth) && got.height == uint32_t(info.textureHeight)) return pixels;
    Lib_MemFree(HEAP_GRAPHICS, pixels);
    return &g_undecodable;
}

// PNG and Header18: decoded or copied into an own heap-4 buffer, which
// replaces data. A PNG decoded ahead comes in `decoded` (null: decoded here).
bool BuildDecoded(SpriteRecord* r, const ImageInfo& info, void* decoded) {
    const uint8_t* d = static_cast<const uint8_t*>(r->data);
    const int32_t w = info.textureWidth, h = info.textureHeight;
    // Borrowed bytes of no file (a picture inside a save image) whose rows
    // are stored top first are the texture's rows already: uploaded where
    // they lie, without a copy; they stay the lender's.
    if (info.type == IMAGE_HEADER18 && !info.bottomUp && !r->fileName[0] && r->cacheId < 0 &&
        (r->flags & (SPRITE_CACHED | SPRITE_OWN_COPY)) == SPRITE_CACHED) {
        MakeBgraTexture(r, w, h, d + info.pixelOffset);
        return true;
    }
    void* pixels;
    if (info.type == IMAGE_PNG) {
        pixels = decoded ? decoded : DecodePng(d, r->dataSize, info);
        if (pixels == &g_undecodable) pixels = nullptr;
        if (!pixels) return false;
    } else {
        pixels = Lib_MemAlloc(HEAP_GRAPHICS, uint64_t(w) * h * 4, 256);
        if (!pixels) return false;
        Lib_ImageCopyRows18(d, info, pixels);
    }
    if ((r->flags & (SPRITE_CACHED | SPRITE_OWN_COPY)) != SPRITE_CACHED)
        Lib_MemFree(HEAP_GRAPHICS, r->data);  // cached bytes stay in the cache
    if (r->flags & SPRITE_CACHED) r->flags |= SPRITE_OWN_COPY;
    r->data = pixels;
    MakeBgraTexture(r, w, h, static_cast<const uint8_t*>(pixels));
    return true;
}

void FillSizes(SpriteRecord* r, const ImageInfo& info) {
    r->textureWidth = info.textureWidth;
    r->textureHeight = info.textureHeight;
    r->imageWidth = info.imageWidth;
    r->imageHeight = info.imageHeight;
    std::memcpy(r->imageExtra, info.extra, sizeof r->imageExtra);
    r->srcRect[0] = r->srcRect[1] = 0;
    r->srcRect[2] = info.textureWidth;
    r->srcRect[3] = info.textureHeight;
    const bool hasX = info.centerX != kNoCentre, hasY = info.centerY != kNoCentre;
    r->centerX = hasX ? float(info.centerX) : float(info.textureWidth / 2);
    r->centerY = hasY ? float(info.centerY) : float(info.textureHeight / 2);
    r->offsetX = info.offsetX;
    r->offsetY = info.offsetY;
    // A padded texture keeps its picture top left; the default centre is the picture's.
    if (info.textureWidth > info.imageWidth) r->centerX = hasX ? float(info.centerX) : float(info.imageWidth) * 0.5f;
    if (info.textureHeight > info.imageHeight) r->centerY = hasY ? float(info.centerY) : float(info.imageHeight) * 0.5f;
}

}  // namespace

int32_t Lib_ImageGetType(const void* data, uint32_t size, Ext0HeaderCopy* ext0, Header18Copy* h18) {
    const uint8_t* d = static_cast<const uint8_t*>(data);
    if (!d) size = 0;
    const int32_t type = TypeOf(d, size);
    if (type == IMAGE_EXT0) {
        if (!ext0) return -1;
        CopyHeader(d, size, ext0->header, kExt0HeaderSize, 36, &ext0->palette, &ext0->pixels);
    } else if (type == IMAGE_HEADER18) {
        if (!h18) return -1;
        CopyHeader(d, size, h18->header, kHeader18Size, 16, &h18->palette, &h18->pixels);
    }
    return type;
}

bool Lib_ImageParse(const void* data, uint32_t size, ImageInfo* info) {
    *info = ImageInfo{};
    const uint8_t* d = static_cast<const uint8_t*>(data);
    if (!d) size = 0;
    info->type = TypeOf(d, size);
    info->bpp = 32;
    info->centerX = info->centerY = kNoCentre;
    if (info->type == IMAGE_EXT0) {
        if (size < kExt0HeaderSize) return Bad(info, "short EXT0 header");
        const int32_t tw = I32(d + 12), th = I32(d + 16), iw = I32(d + 20), ih = I32(d + 24);
        const uint8_t bpp = d[36];
        if (bpp == 4) return Bad(info, "EXT0 of 4 bits per pixel");
        if (bpp != 32 && bpp != 8) return Bad(info, "EXT0 bits per pixel");
        if (!SideOk(tw, 1) || !SideOk(th, 1) || !SideOk(iw, 0) || !SideOk(ih, 0)) return Bad(info, "EXT0 sizes");
        const uint64_t need = kExt0HeaderSize + PaletteBytes(bpp) + uint64_t(tw) * uint64_t(th) * (bpp / 8);
        if (need > size) return Bad(info, "truncated EXT0");
        info->textureWidth = tw;
        info->textureHeight = th;
        info->imageWidth = iw;
        info->imageHeight = ih;
        info->centerX = I32(d + 28);
        info->centerY = I32(d + 32);
        info->offsetX = F32(d + 4);
        info->offsetY = F32(d + 8);
        for (int i = 0; i < 4; ++i) info->extra[i] = U32(d + 40 + 4 * i);
        info->bpp = bpp;
        info->paletteOffset = bpp == 8 ? kExt0HeaderSize : 0;
        info->pixelOffset = kExt0HeaderSize + PaletteBytes(bpp);
        return true;
    }
    int64_t w, h;
    if (info->type == IMAGE_PNG) {
        if (size < kPngHeaderBytes) return Bad(info, "short PNG header");
        w = BigU32(d + 16);
        h = BigU32(d + 20);
    } else {
        if (size < kHeader18Size) return Bad(info, "short 18-byte header");
        w = U16(d + 12);
        h = U16(d + 14);
        const uint8_t descriptor = d[17];
        info->bottomUp = (descriptor & 0x08) || descriptor == 0;
        info->pixelOffset = kHeader18Size;
    }
    if (!SideOk(w, 1) || !SideOk(h, 1)) return Bad(info, "image sizes");
    if (info->type == IMAGE_HEADER18 && kHeader18Size + uint64_t(w) * uint64_t(h) * 4 > size)
        return Bad(info, "truncated 18-byte-header image");
    info->textureWidth = info->imageWidth = int32_t(w);
    info->textureHeight = info->imageHeight = int32_t(h);
    return true;
}

uint64_t Lib_ImagePngBufferSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return ((uint64_t(width) + 15) / 16 * 16 * 4 + 1) * uint64_t(height);
}

void Lib_ImageCopyRows18(const void* data, const ImageInfo& info, void* dst) {
    const uint8_t* src = static_cast<const uint8_t*>(data) + info.pixelOffset;
    uint8_t* out = static_cast<uint8_t*>(dst);
    const size_t row = size_t(info.textureWidth) * 4;
    const int32_t h = info.textureHeight;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t stored = info.bottomUp ? h - 1 - y : y;
        std::memcpy(out + size_t(y) * row, src + size_t(stored) * row, row);
    }
}

void* Lib_ImageDecodeAhead(const void* data, uint32_t size) {
    ImageInfo info;
    if (!Lib_ImageParse(data, size, &info) || info.type != IMAGE_PNG) return nullptr;
    return DecodePng(static_cast<const uint8_t*>(data), size, info);
}

void Lib_ImageDecodeDrop(void* decoded) {
    if (decoded && decoded != &g_undecodable) Lib_MemFree(HEAP_GRAPHICS, decoded);
}

void Lib_SpriteMakeTexture(int32_t slot, void* decoded) {
    SpriteRecord* r = Lib_SpriteAt(slot);
    if (!r || !(r->flags & SPRITE_IN_USE)) return Lib_ImageDecodeDrop(decoded);
    r->fileName[kSpriteNameSize - 1] = 0;
    // A container sprite holds its container's bytes only: no texture, no
    // sizes, not ready until its load task says so.
    if (std::strstr(r->fileName, ".arc")) return Lib_ImageDecodeDrop(decoded);
    const uint8_t* d = static_cast<const uint8_t*>(r->data);
    const uint32_t size = d ? r->dataSize : 0;
    // Built again: the objects of the first build go first.
    Lib_SpriteReleaseObjects(r, slot, false);
    r->flags &= uint8_t(~SPRITE_PALETTE);
    ImageInfo info;
    const bool ext0 = TypeOf(d, size) == IMAGE_EXT0;
    bool sized = true;
    if (ext0 || !std::strstr(r->fileName, ".mip")) {
        const bool parsed = Lib_ImageParse(d, size, &info);
        if (!parsed || info.type != IMAGE_PNG) {
            Lib_ImageDecodeDrop(decoded);
            decoded = nullptr;
        }
        if (!parsed) return MarkFailed(r, slot, info.failure);
        if (!(ext0 ? BuildExt0(r, info) : BuildDecoded(r, info, decoded)))
            return MarkFailed(r, slot, "no memory for the pixels, or an undecodable PNG");
    } else {
        Lib_ImageDecodeDrop(decoded);
        sized = false;  // ".mip" data: no texture, sizes stay as they are
    }
    if (sized) FillSizes(r, info);
    r->flags |= SPRITE_READY;
    if (r->drawEntry >= 0) Lib_DrawDel(uint32_t(r->drawEntry), 0);  // never two entries for one record
    r->drawEntry = Lib_DrawSet(r->drawCallback, reinterpret_cast<uint64_t>(r), std::max(r->priority, 0), 0, -1);
}
