// Two small image services: the box-filtered save thumbnail of a screen
// capture, and PNG decoding from memory into premultiplied BGRA.
#pragma once

#include <cstdint>

// Size of a decoded image; {0, 0} when nothing was decoded.
struct ImageSize {
    uint32_t width;
    uint32_t height;
};

// Thumbnail source: rows of 1280 pixels, of which only the 320 x 180 area at
// the top left is read.
constexpr int32_t kThumbSourceStride = 1280;
constexpr int32_t kThumbSourceWidth = 320;
constexpr int32_t kThumbSourceHeight = 180;

// Shrinks the source area into w x h packed 4-byte pixels at dst by box
// averaging each byte channel on its own (channel order is kept). Boxes are
// one pixel wider than the step and overlap their neighbours. Nothing is
// written when w or h is 0 or less. Returns dst.
void* Lib_MakeThumbnail(void* dst, int32_t w, int32_t h, const void* src);

// Largest width or height accepted by the decoder.
constexpr uint32_t kDecodeMaxSide = 16384;

// Decodes the PNG of `size` bytes at data into premultiplied B, G, R, A
// pixels at dst, rows packed (4 x width bytes each), without any gamma
// conversion. Palette, grey, grey + alpha, transparency chunks, 16-bit and
// interlaced images all decode. The first argument is not used.
// Any error (undecodable or truncated data, a side above kDecodeMaxSide, or
// width x height x 4 above dstSize) returns {0, 0}, logs one line and leaves
// dst untouched.
ImageSize Lib_WicDecode(void* unused, void* dst, uint32_t dstSize, const void* data, uint32_t size);
