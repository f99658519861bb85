// The save screen's own parts: the slot picture made from the story's
// capture, and the detail text stored with a slot.
#pragma once

#include <cstddef>
#include <cstdint>

// The picture part of a slot (18-byte header, 228×128 B, G, R, A pixels top
// row first) in a new screen-heap block of kSavePictSize bytes, from the
// top-left 320×180 of the capture sprite's texture; null when there is no
// capture or any buffer cannot be had (the slot then stores its icon).
void* Save_PictureMake(int32_t captureSprite);

// The detail of a slot from the game state: the chapter, "SYSTEM_2028" with
// the play time, and the current line as the script wrote it (tokens kept),
// without a final line feed, cut on a character boundary to fit `size`.
void Save_DetailMake(char* out, size_t size);
