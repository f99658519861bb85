#include "story/access_flags.h"

#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/files/file_loader.h"
#include "script/game_blocks.h"
#include "story/catalogue.h"

namespace {

// The query reduced as the loader reduces names: file stem, lower-cased,
// in Shift-JIS when the whole stem is valid UTF-8. Empty when it does not
// convert.
void Reduce(const char* name, char out[kFileNameSize]) {
    char stem[256];
    out[0] = 0;
    Lib_PathGetName(name, stem, 1);
    if (!Lib_FileNameNormalise(stem, out)) out[0] = 0;
}

int32_t Flip(uint8_t* bytes, int32_t bit, int8_t op) {
    uint8_t mask = uint8_t(1u << (bit & 7));
    uint8_t& b = bytes[bit >> 3];
    int32_t old = (b & mask) ? 1 : 0;
    if (op >= 1) b = uint8_t(b | mask);
    else if (op < 0) b = uint8_t(b & ~mask);
    return old;
}

}  // namespace

int32_t StoryAccessFlagGal(const char* name, int32_t id, int8_t op) {
    int32_t index = -1;
    if (id < 0) {
        char key[kFileNameSize];
        if (name) {
            Reduce(name, key);
            index = GSL_EventPictureFind(key);
        }
    } else if (id >= kEventPictureFirstId && id < kEventPictureFirstId + kEventPictureCount) {
        index = id - kEventPictureFirstId;
    }
    if (index < 0) {
        Lib_DebugPrintf("Error -> StoryAccessFlagGal(%s,%d,%d)\n", name ? name : "(null)", id, op);
        return 0;
    }
    return Flip(SystemDataBlock.eventUnlock, index, op);
}

int32_t StoryAccessFlagBGM(const char* name, int32_t id, int8_t op) {
    int32_t index = -1;
    if (id < 0) {
        char key[kFileNameSize];
        if (name) {
            Reduce(name, key);
            index = GSL_BgmTrackFind(key);
        }
    } else {
        for (int32_t k = 0; k < kBgmTrackCount && index < 0; ++k)
            if (GSL_BgmTrackGet(k).id == id) index = k;
    }
    if (index < 0) {
        // A tune the music room does not list plays all the same: only a
        // track id that names no track is a caller's mistake.
        if (id >= 0) Lib_DebugPrintf("Error -> StoryAccessFlagBGM(%s,%d,%d)\n", name ? name : "(null)", id, op);
        return 0;
    }
    return Flip(SystemDataBlock.musicUnlock, index, op);
}

bool GSL_VarRefParse(const char* text, int32_t* n) {
    if (!text || text[0] != '[' || text[1] < '0' || text[1] > '2') return false;
    int32_t v = 0;
    for (const char* p = text + 1; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > 1000000) break;  // far beyond every bank
    }
    if (n) *n = v;
    return true;
}

int32_t GSL_VarRead(int32_t n) {
    if (n >= 0 && n < 24) return SystemDataBlock.systemVars[n];
    if (n >= 2000 && n < 2024) return GameStateBlock.gameVars[n - 2000];
    return 0;
}

int32_t GSL_VarRefEval(const char* text) {
    int32_t n = 0;
    return GSL_VarRefParse(text, &n) ? GSL_VarRead(n) : 0;
}
