#include "ui/system_sound.h"

#include <cstdio>
#include <cstring>

#include "engine/core/util.h"
#include "engine/sound/sound.h"
#include "ui/mode.h"
#include "ui/ui_host.h"

const char SystemSeTable[kSystemSeCount][32] = {"enter", "cancel", "move", "error", "son", "soff", "select"};
int32_t SystemSeRotation = 0;

void GSL_SystemSePlay(int32_t n) {
    if (n < 0 || n >= kSystemSeCount) return;
    int32_t channel = 19 + SystemSeRotation;
    SystemSeRotation = (SystemSeRotation + 1) % 4;
    if (SystemSeRotation == 3) SystemSeRotation = 0;
    char member[48];
    std::snprintf(member, sizeof member, "%s%s", SystemSeTable[n], ".wav");
    Lib_SoundRequest(SoundChannelTable[channel], member, 0, 0, "sound/se_system/se_sys.arc");
}

const char SysVoiceKeys[kSysVoiceCharacters][16] = {"dova", "quorin", "pemble", "lirra",    "sefa",     "varo",
                                                    "arlo", "tiln",   "welm",   "fennick", "zastrell", "gub"};
// process-wide: a test seam
uint32_t (*SysVoiceRandom)(uint32_t lo, uint32_t hi) = Lib_Random;

namespace {

constexpr int32_t kVoiceChannel = 22;

const char* voicePattern(int32_t kind) {
    switch (kind) {
    case 0: return "svo_*_brel";
    case 2: case 17: return "svo_*_mivo";
    case 5: case 6: case 11: case 13: return "svo_*_load";
    case 10: case 12: return "svo_*_save";
    case 15: return "svo_*_title";
    default: return "";
    }
}

// The pattern with every "*" replaced by the key, within 64 bytes.
void voiceName(const char* pattern, const char* key, char* out, size_t size) {
    size_t n = 0;
    for (const char* p = pattern; *p && n + 1 < size; ++p) {
        if (*p != '*') {
            out[n++] = *p;
            continue;
        }
        for (const char* k = key; *k && n + 1 < size; ++k) out[n++] = *k;
    }
    out[n] = 0;
}

ScreenWork* currentWork() {
    ModeFunction top = GSL_ModeTop();
    return top ? GSL_WorkGet(top) : nullptr;
}

}  // namespace

int32_t GSL_SysVoicePlay(int32_t, int32_t kind, float volume) {
    if (kind < 0 || kind >= kSysVoiceKinds) return -1;
    char names[kSysVoiceCharacters][64];
    for (int c = 0; c < kSysVoiceCharacters; ++c)
        voiceName(voicePattern(kind), SysVoiceKeys[c], names[c], sizeof names[c]);
    uint32_t c = SysVoiceRandom(0, kSysVoiceCharacters - 1);
    if (c >= uint32_t(kSysVoiceCharacters) || !names[c][0]) {
        int32_t found[kSysVoiceCharacters], n = 0;
        for (int i = 0; i < kSysVoiceCharacters; ++i)
            if (names[i][0]) found[n++] = i;
        if (n == 0) return -1;
        uint32_t pick = SysVoiceRandom(0, uint32_t(n - 1));
        c = uint32_t(found[pick < uint32_t(n) ? pick : 0]);
    }
    if (volume < 0) {
        const uint8_t configured = GSL_UiHost().systemVolume();
        volume = float(configured > 100 ? 100 : configured);
    }
    if (!(volume > 0)) return -1;
    if (volume > 100) volume = 100;
    char path[kScreenNameSize];
    std::snprintf(path, sizeof path, "sound/voice_system/%s%s", names[c], ".ogg");
    ScreenWork* w = currentWork();
    if (!w) return -1;
    Lib_SoundVolumeSet(kVoiceChannel, volume);
    if (!Lib_SoundRequest(SoundChannelTable[kVoiceChannel], path, 0, 0, nullptr)) return -1;
    ScreenSoundSlot& slot = w->sounds[kVoiceChannel];
    slot.handle = kVoiceChannel;
    slot.restoreKind = -1;
    slot.releaseFade = 0;
    slot.extra = -1;
    std::snprintf(slot.file, sizeof slot.file, "%s", path);
    return -1;
}

bool GSL_SysVoiceIsDone(bool strict) {
    const ScreenWork* w = currentWork();
    if (!w) return true;
    uint32_t channel = uint32_t(w->sounds[kVoiceChannel].handle);
    int32_t state = 0;
    if (channel < uint32_t(kSoundChannels) &&
        (SoundChannelTable[channel].st.flags.load(std::memory_order_acquire) & SOUND_IN_USE))
        state = SoundChannelTable[channel].st.state.load(std::memory_order_acquire);
    return strict ? state == 0 : (state & ~SOUND_PLAYING) == 0;
}
