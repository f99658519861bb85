// Sprite pictures: the three image formats, the type probe and the texture
// builder.
//
// Ext0Image ("EXT0", little-endian): a 256-byte header {magic[4], f32 offset
// x, y at 4/8, i32 texture w/h at 12/16, image w/h at 20/24, centre x/y at
// 28/32 (-9999 none), u8 bits per pixel at 36 (32, 8 or 4), 4 × u32 extra at
// 40}, then for 8 bits a 1024-byte palette of B, G, R, A entries (64 bytes for
// 4 bits), then the pixel rows top first: B, G, R, A or one index a pixel,
// texture width pixels a row.
// Header18Image: u16 w/h at 12/14, bits per pixel at 16, descriptor at 17,
// then w × h B, G, R, A pixels from offset 18; the rows run bottom to top when
// the descriptor has 0x08 set or is 0.
// PNG: the signature, then the IHDR with big-endian w/h at 16/20.
#pragma once

#include <cstdint>

enum : int32_t {
    IMAGE_EXT0 = 1,
    IMAGE_HEADER18 = 2,  // every file that is neither of the others
    IMAGE_PNG = 4,
};

inline constexpr uint32_t kExt0HeaderSize = 256;
inline constexpr uint32_t kHeader18Size = 18;
// Largest texture side a picture may ask for.
inline constexpr int32_t kImageMaxSide = 8192;

// The probe's copies of a header, with pointers to the palette (null when
// the image has none) and the pixels; both null when the header does not fit.
struct Ext0HeaderCopy {
    uint8_t header[kExt0HeaderSize];
    const uint8_t* palette;
    const uint8_t* pixels;
};
struct Header18Copy {
    uint8_t header[kHeader18Size];
    const uint8_t* palette;
    const uint8_t* pixels;
};

// IMAGE_PNG, IMAGE_EXT0 or IMAGE_HEADER18 by the first bytes of `size`
// bytes; -1 when the copy for that type is null. Pointers past the data are
// left null.
int32_t Lib_ImageGetType(const void* data, uint32_t size, Ext0HeaderCopy* ext0, Header18Copy* h18);

// A picture's layout, checked against its size.
struct ImageInfo {
    int32_t type;
    int32_t textureWidth, textureHeight;
    int32_t imageWidth, imageHeight;
    int32_t centerX, centerY;  // -9999: none
    float offsetX, offsetY;
    uint32_t extra[4];
    int32_t bpp;               // 32 or 8 (EXT0); 32 for the others
    bool bottomUp;             // Header18 rows stored bottom first
    uint32_t paletteOffset;    // EXT0 8 bits: offset of the palette
    uint32_t pixelOffset;      // offset of the pixels (PNG: 0, decoded separately)
    const char* failure;       // why the parse failed, else null
};

// False (the reason in info->failure) for data that does not hold what
// its header promises: a truncated or short header, sides outside
// 1..kImageMaxSide (images 0..kImageMaxSide), bits other than 32 or 8 in an
// EXT0 (4-bit ones included), or fewer bytes than the pixels need.
bool Lib_ImageParse(const void* data, uint32_t size, ImageInfo* info);
// Bytes of the buffer a PNG of width × height is decoded into.
uint64_t Lib_ImagePngBufferSize(int32_t width, int32_t height);
// Copies the Header18 pixel rows into width × height × 4 bytes at dst, top
// row first.
void Lib_ImageCopyRows18(const void* data, const ImageInfo& info, void* dst);

// A PNG's pixels decoded ahead of its texture build, on any thread (the
// loader's, so that the game thread only uploads them): the heap-4 buffer
// the build would decode into; null when the bytes hold no PNG with a sound
// header or there is no memory (the build then does its own work); a marker
// that the build takes as an undecodable PNG when the decode failed.
void* Lib_ImageDecodeAhead(const void* data, uint32_t size);
// Frees what Lib_ImageDecodeAhead made; null and the marker do nothing.
void Lib_ImageDecodeDrop(void* decoded);

// Builds the texture of a claimed sprite whose data and dataSize are set,
// fills its sizes and centre, sets it ready and links its draw entry.
// ".arc" names get nothing of that; ".mip" names (not EXT0) become ready
// without a texture. A picture that fails its checks sets the failed flag.
// `decoded`, from Lib_ImageDecodeAhead on the same data, is taken over: used
// for a PNG instead of decoding here, freed otherwise.
void Lib_SpriteMakeTexture(int32_t slot, void* decoded = nullptr);
