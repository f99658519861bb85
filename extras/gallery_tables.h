// The gallery's constant tables in two variants, chosen on every access:
// R18 when the R18 archive is present, all-ages otherwise.
#pragma once

#include <cstdint>

struct GalleryThumb {
    int32_t count;         // pictures of the thumbnail, at least 1
    int32_t firstPicture;  // index in the picture id table
};
struct GalleryCategory {
    const GalleryThumb* thumbnails;
    int32_t count;           // at most 21
    int32_t firstThumbnail;  // global index of the first thumbnail
};

inline constexpr int32_t kGalleryCategoryCount = 6;

// The 6 categories of the current variant.
const GalleryCategory* GSL_GalleryGetTable();
// The picture id table of the current variant and its size (369 or 131).
const int32_t* GSL_GalleryPictureIds(int32_t* count);
// Thumbnails of the current variant (93 or 64).
int32_t GSL_GalleryThumbCount();
// "thumb_<name>.ext" of global thumbnail k (the Shift-JIS catalogue name of
// its first picture) into out; empty for k outside the table.
void GSL_GalleryThumbName(int32_t k, char* out, uint32_t outSize);
