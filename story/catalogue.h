// The built-in catalogues of event pictures (376) and music tracks (21): a
// record's index selects its unlock bit. Names are stored in UTF-8 and handed
// out in Shift-JIS.
#pragma once

#include <cstdint>

struct EventPictureRecord {
    char name[64];  // file stem of "visual/adv/<name>.ext"
    int32_t id;     // 2000 + index
};
struct BgmTrackRecord {
    char name[64];  // file stem of "sound/bgm/<name>.oggl"
    int32_t id;     // -1 in every record
};
static_assert(sizeof(EventPictureRecord) == 68 && sizeof(BgmTrackRecord) == 68);

inline constexpr int32_t kEventPictureCount = 376;
inline constexpr int32_t kBgmTrackCount = 21;
inline constexpr int32_t kEventPictureFirstId = 2000;

// A copy of the record with its name in Shift-JIS; an index outside the
// catalogue gives an empty name with id -1.
EventPictureRecord GSL_EventPictureGet(int32_t index);
BgmTrackRecord GSL_BgmTrackGet(int32_t index);
// The record whose lower-cased Shift-JIS name equals key (already reduced
// and lower-cased), or -1. An empty key matches nothing.
int32_t GSL_EventPictureFind(const char* key);
int32_t GSL_BgmTrackFind(const char* key);
