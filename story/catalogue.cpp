#include "story/catalogue.h"

#include <cstring>

#include "engine/core/charcode.h"

namespace {

#include "story/catalogue_data.inc"

// The stored UTF-8 name as Shift-JIS into out (64 bytes), cleared first: the
// conversion leaves its output alone for an empty name.
void ToSjis(const char* stored, char out[64]) {
    char buf[kCharConvSize];
    buf[0] = 0;
    size_t n = ::strnlen(stored, 64);
    Lib_Utf8ToSjis(stored, n, buf);
    size_t m = ::strnlen(buf, 63);
    std::memset(out, 0, 64);
    std::memcpy(out, buf, m);
}

// Lower-cased Shift-JIS names, built once: lookups by name walk these.
struct NameIndex {
    char pictures[kEventPictureCount][64];
    char tracks[kBgmTrackCount][64];
    NameIndex() {
        for (int32_t i = 0; i < kEventPictureCount; ++i) {
            ToSjis(kEventPictures[i].name, pictures[i]);
            Lib_StrLowerSjis(pictures[i]);
        }
        for (int32_t i = 0; i < kBgmTrackCount; ++i) {
            ToSjis(kBgmTracks[i].name, tracks[i]);
            Lib_StrLowerSjis(tracks[i]);
        }
    }
};

const NameIndex& Index() {
    static const NameIndex index;
    return index;
}

int32_t Find(const char (*names)[64], int32_t count, const char* key) {
    if (!key || !key[0]) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (names[i][0] && std::strcmp(names[i], key) == 0) return i;
    return -1;
}

}  // namespace

EventPictureRecord GSL_EventPictureGet(int32_t index) {
    EventPictureRecord r{};
    r.id = -1;
    if (index < 0 || index >= kEventPictureCount) return r;
    ToSjis(kEventPictures[index].name, r.name);
    r.id = kEventPictures[index].id;
    return r;
}

BgmTrackRecord GSL_BgmTrackGet(int32_t index) {
    BgmTrackRecord r{};
    r.id = -1;
    if (index < 0 || index >= kBgmTrackCount) return r;
    ToSjis(kBgmTracks[index].name, r.name);
    r.id = kBgmTracks[index].id;
    return r;
}

int32_t GSL_EventPictureFind(const char* key) { return Find(Index().pictures, kEventPictureCount, key); }
int32_t GSL_BgmTrackFind(const char* key) { return Find(Index().tracks, kBgmTrackCount, key); }
