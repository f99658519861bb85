#include "screens/title.h"

#include <cstdio>

#include "engine/files/archive.h"
#include "story/story_services.h"

uint8_t TitleFlags = TITLE_MOVIE_NEXT | TITLE_MOVIE_SKIPPABLE;
uint32_t TitleIdleStart = 0;
uint8_t TitleSubMenuOpen = 0;

void GSL_TitleGlobalsReset() {
    TitleFlags = TITLE_MOVIE_NEXT | TITLE_MOVIE_SKIPPABLE;
    TitleIdleStart = 0;
    TitleSubMenuOpen = 0;
}

void GSL_TitleVersionLabel(char* out, uint32_t outSize) {
    if (!out || outSize == 0) return;
    char base[4];
    Lib_PcArcGetVersion(-1, base);
    int n = std::snprintf(out, outSize, "V%c%c.%c%c.E%c%c.%c%c", base[0], base[1], base[2], base[3], '0', '1', '0',
                          '0');
    const char letters[3] = {'B', 'P', 'D'};
    for (int32_t archive = 0; archive < 3; ++archive) {
        if (n < 0 || uint32_t(n) >= outSize) return;
        char v[4];
        Lib_PcArcGetVersion(archive, v);
        n += std::snprintf(out + n, outSize - uint32_t(n), ".%c%c%c.%c%c", letters[archive], v[0], v[1], v[2], v[3]);
    }
    if (n >= 0 && uint32_t(n) < outSize && Lib_PcArcExists(2))
        std::snprintf(out + n, outSize - uint32_t(n), " - R18");
}

bool GSL_TitleAnySaveValid() {
    // The slot check hashes the slot's part of the save image and compares
    // the registry's digest: the same answer as hashing here, in one call.
    for (int32_t slot = 0; slot < 32; ++slot)
        if (Lib_SaveSlotCheck(slot, nullptr) == 0) return true;
    return false;
}
