// The save screen's own parts: the slot picture made from the story's
// capture, and the detail text stored with a slot.
#pragma once

#include <cstddef>
#include <cstdint>

// The picture part of a slot (18-byte header, 228×128 B, G, R, A pixels top
// row first, opaque) in a new screen-heap block of kSavePictSize bytes, from
// the top-left 320×180 of the capture sprite's texture, in two halves:
// Save_PictureRead starts the read-back (0: no capture, or it cannot be
// read) and Save_PictureTake, a frame or more later, makes the picture from
// it and ends the read; null for read 0 or when any buffer cannot be had
// (the slot then stores its icon). Save_PictureMake does both at once.
uint32_t Save_PictureRead(int32_t captureSprite);
void* Save_PictureTake(uint32_t read);
void* Save_PictureMake(int32_t captureSprite);

// The detail of a slot from the game state: the chapter, "SYSTEM_2028" with
// the play time, and the current line as the script wrote it (tokens kept),
// without a final line feed, cut on a character boundary to fit `size`.
void Save_DetailMake(char* out, size_t size);
