// Screen capture. A capture sprite is a sprite whose 1280×720 texture is
// refilled from the frame target by a second draw-list entry, Lib_CaptureCB,
// at its own priority: it holds what the walk drew before that entry. It
// captures once or every n-th walk and is ready from its first capture.
// Lib_ScreenCapture copies a 1280×720 texture into memory. Game thread only.
//
// Row order: the frame target keeps its top row in row 0, and so do the
// capture texture and the memory image; a captured frame drawn full screen is
// upright.
#pragma once

#include <cstdint>

inline constexpr uint32_t kCaptureBytes = 1280u * 720u * 4u;

// A capture sprite in the first free slot: capture entry at capturePriority
// (0 or more), interval 0 captures once (a negative interval counts as 0).
// -1 when no slot is free or its 3,686,400-byte buffer cannot be had.
int32_t Lib_SpriteCreateCapture(int32_t unused, int32_t capturePriority, int32_t interval);
// The capture entry's callback; the argument is the SpriteRecord's address.
void Lib_CaptureCB(uint64_t record);
// *out = a new 1280×720 image of B, G, R, A pixels, rows top first, alpha
// 0xFF, from the top of `heap` or else from any live heap 0..4; null when no
// heap has room or the texture cannot be read. Freed with Lib_MemFree.
void Lib_ScreenCapture(uint32_t texture, int32_t unused, void** out, int32_t heap);
// The block of w×h pixels at (x, y) (top-left origin) of a 1280×720 texture
// into out (outSize bytes, at least w*h*4): B, G, R, A, rows top first,
// alpha 0xFF. False, with out untouched, for a block outside the frame, a
// short buffer or a texture that cannot be read.
bool Lib_ScreenCaptureRegion(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, void* out,
                             uint32_t outSize);

// A block read back without waiting for the GL. Lib_ScreenReadStart queues
// the copy of the w×h block at (x, y) (top-left origin) of a 1280×720
// texture into a pixel buffer, rows rowPixels pixels apart, and gives the
// buffer's name; 0 for a block outside the frame, rows narrower than the
// block or wider than the frame, or a texture that cannot be read. The GL
// copies while it draws the frame. Lib_ScreenReadMap, a frame or more later,
// gives the pixels for reading: B, G, R, A, rows top first, alpha as the
// texture holds it (it waits only for a copy the GL has not finished); null
// when the buffer cannot be mapped. Lib_ScreenReadEnd deletes the buffer,
// mapped or not. Game thread only.
uint32_t Lib_ScreenReadStart(uint32_t texture, int32_t x, int32_t y, int32_t w, int32_t h, int32_t rowPixels);
const void* Lib_ScreenReadMap(uint32_t read);
void Lib_ScreenReadEnd(uint32_t read);
