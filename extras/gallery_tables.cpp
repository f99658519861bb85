#include "extras/gallery_tables.h"

#include <cstdio>
#include <iterator>

#include "engine/files/archive.h"
#include "story/catalogue.h"

namespace {

#include "extras/gallery_data.inc"

bool R18() { return Lib_PcArcExists(2); }

}  // namespace

const GalleryCategory* GSL_GalleryGetTable() { return R18() ? kGalleryCategoriesR18 : kGalleryCategoriesAllAges; }

const int32_t* GSL_GalleryPictureIds(int32_t* count) {
    bool r18 = R18();
    if (count) *count = r18 ? int32_t(std::size(kGalleryPicturesR18)) : int32_t(std::size(kGalleryPicturesAllAges));
    return r18 ? kGalleryPicturesR18 : kGalleryPicturesAllAges;
}

int32_t GSL_GalleryThumbCount() {
    return R18() ? int32_t(std::size(kGalleryThumbsR18)) : int32_t(std::size(kGalleryThumbsAllAges));
}

void GSL_GalleryThumbName(int32_t k, char* out, uint32_t outSize) {
    if (!out || !outSize) return;
    out[0] = 0;
    bool r18 = R18();
    const GalleryThumb* thumbs = r18 ? kGalleryThumbsR18 : kGalleryThumbsAllAges;
    const int32_t* ids = r18 ? kGalleryPicturesR18 : kGalleryPicturesAllAges;
    int32_t count = r18 ? int32_t(std::size(kGalleryThumbsR18)) : int32_t(std::size(kGalleryThumbsAllAges));
    if (k < 0 || k >= count) return;
    EventPictureRecord r = GSL_EventPictureGet(ids[thumbs[k].firstPicture] - kEventPictureFirstId);
    std::snprintf(out, outSize, "thumb_%s%s", r.name, ".ext");
}
