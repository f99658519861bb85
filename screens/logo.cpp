#include "screens/logo.h"

#include <cstdio>

#include "engine/core/engine_state.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "screens/system_screens.h"
#include "story/story_services.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"

namespace {
constexpr int32_t kLogos = 4;
constexpr uint32_t kVoiceSlot = 22;
constexpr uint32_t kSkipButtons = 0x001 | 0x400;
// Alpha steps of the cross-fade: 64 frames each way.
constexpr uint32_t kAlphaStep = 4;

struct LogoEntry {
    const char* name;
    uint32_t minimumUs;
};
const LogoEntry kLogoTable[kLogos] = {
    {"sys_logo_caution", 5000000},
    {"sys_logo_holder", 2000000},
    {"", 0},
    {"sys_logo_pub", 2000000},
};
const char* const kCautionSuffix[4] = {"_\xE6\x97\xA5", "_\xE8\x8B\xB1", "_\xE7\xB0\xA1", "_\xE7\xB9\x81"};

// Header words: the current logo and the fade alpha of its layer. The alpha
// is kept here rather than read back from the sprite, so that a logo whose
// picture failed to load still fades (its sprite simply shows nothing).
enum : uint32_t { LOGO_INDEX = 0, LOGO_ALPHA = 1 };

// Sub-states of the show step: LOAD, then once the pictures are in, the
// play step.
enum : int32_t { SHOW_LOAD = 0, SHOW_PLACE = 1 };

int32_t Index(const ScreenWork* w) { return GSL_WorkWord(w, LOGO_INDEX); }

void AlphaSet(ScreenWork* w, int32_t n, uint32_t alpha) {
    w->words[LOGO_ALPHA] = alpha;
    // Setters ignore a slot that is not live.
    Lib_SpriteSetColor(GSL_WorkLayerGet(nullptr, uint32_t(n)), (alpha << 24) | 0x00FFFFFFu);
}

bool SkipPressed() {
    if (InputButtons.pressed & kSkipButtons) return true;
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, -1, rect, 0, 0, 0, -1) == 1;
}

// Frees the layers of logo n and of the logos after it that are never shown.
int32_t LogoLeave(int32_t n) {
    GSL_WorkLayerFree(nullptr, n);
    ++n;
    while (n < kLogos && kLogoTable[n].minimumUs == 0) GSL_WorkLayerFree(nullptr, n++);
    return n;
}
}  // namespace

uint32_t GSL_LogoGetDuration(int32_t index) {
    return uint32_t(index) < uint32_t(kLogos) ? kLogoTable[index].minimumUs : 0;
}

bool GSL_LogoInit() {
    GSL_WorkCreate();
    if (ScreenWork* w = GSL_WorkGet(nullptr)) {
        w->step = LOGO_STEP_SHOW;
        w->subState = SHOW_LOAD;
        w->words[LOGO_INDEX] = 0;
    }
    return true;
}

bool GSL_LogoShow() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    if (w->subState == SHOW_LOAD) {
        int32_t language = SystemDataBlock.language;
        if (language < 0 || language > 3) language = 0;
        for (int32_t i = 0; i < kLogos; ++i) {
            GSL_WorkLayerFree(nullptr, i);
            if (!kLogoTable[i].name[0]) {
                const int32_t h = Lib_SpriteLoad(-1, nullptr, -1, 0);
                Lib_SpriteSetColor(h, 0xFF000000u);
                w->layers[i].handle = h;
                continue;
            }
            char path[128];
            std::snprintf(path, sizeof path, "visual/system/%s%s.ext", kLogoTable[i].name,
                          i == 0 ? kCautionSuffix[language] : "");
            GSL_WorkLayerFile(nullptr, uint32_t(i), path, LAYER_OWN);
        }
        w->subState = SHOW_PLACE;
        return true;
    }
    if (!GSL_WorkLayersReady(nullptr)) return true;
    for (int32_t i = 0; i < kLogos; ++i) {
        const int32_t h = GSL_WorkLayerGet(nullptr, uint32_t(i));
        Lib_SpriteSetFlag(h, i == 0 ? 1 : 0);
        Lib_SpriteSetPrio(h, 400 + i, 1);
    }
    w->words[LOGO_ALPHA] = 255;
    GSL_SystemDispColorSet(0x00000000u, 60);
    w->subState = LOGO_PLAY_START;
    w->step = LOGO_STEP_PLAY;
    return true;
}

bool GSL_LogoPlayMovie() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    int32_t n = Index(w);
    switch (w->subState) {
    case LOGO_PLAY_START:
        w->subState = LOGO_PLAY_FADE_WAIT;  // no logo here has a movie
        break;
    case LOGO_PLAY_FADE_WAIT:
        if (!GSL_SystemDispColorCheck()) break;
        if (n == 1) GSL_SysVoicePlay(0, 0, 100.0f);
        w->subState = LOGO_PLAY_VOICE;
        break;
    case LOGO_PLAY_VOICE:
        if (!GSL_SysVoiceIsDone(false)) break;
        Lib_TimerStart();
        w->subState = LOGO_PLAY_HOLD;
        break;
    case LOGO_PLAY_HOLD:
        if ((Lib_TimerCheck(GSL_LogoGetDuration(n)) && GSL_SysVoiceIsDone(true)) || SkipPressed())
            w->subState = LOGO_PLAY_FADE_OUT;
        break;
    case LOGO_PLAY_FADE_OUT: {
        const uint32_t alpha = uint32_t(w->words[LOGO_ALPHA]);
        if (!Lib_SpriteIsLive(GSL_WorkLayerGet(nullptr, uint32_t(n)))) {
            w->words[LOGO_ALPHA] = 0;  // nothing to fade
        } else if (alpha >= kAlphaStep) {
            AlphaSet(w, n, alpha - kAlphaStep);
            if (alpha - kAlphaStep != 0) break;
        } else {
            AlphaSet(w, n, 0);
        }
        GSL_WorkSoundStop(nullptr, kVoiceSlot, kSoundStopAtOnce);
        n = LogoLeave(n);
        GSL_WorkWordSet(w, LOGO_INDEX, n);
        w->subState = LOGO_PLAY_START;
        if (n >= kLogos) {
            w->step = LOGO_STEP_END;
            break;
        }
        Lib_SpriteSetFlag(GSL_WorkLayerGet(nullptr, uint32_t(n)), 1);
        AlphaSet(w, n, 0);
        w->subState = LOGO_PLAY_FADE_IN;
        break;
    }
    case LOGO_PLAY_FADE_IN: {
        const uint32_t alpha = uint32_t(w->words[LOGO_ALPHA]);
        if (alpha + kAlphaStep > 255 || !Lib_SpriteIsLive(GSL_WorkLayerGet(nullptr, uint32_t(n)))) {
            AlphaSet(w, n, 255);
            w->subState = LOGO_PLAY_START;
        } else {
            AlphaSet(w, n, alpha + kAlphaStep);
        }
        break;
    }
    default:
        break;
    }
    return true;
}

bool GSL_LogoEnd() {
    GSL_SystemDispColorSet(0xFF000000u, 60);
    if (!GSL_SystemDispColorCheck()) return true;
    GSL_ModeHandOver(GSL_TitleModeCB);
    return true;
}

void GSL_LogoModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    switch (w ? w->step : LOGO_STEP_INIT) {
    case LOGO_STEP_INIT: GSL_LogoInit(); break;
    case LOGO_STEP_SHOW: GSL_LogoShow(); break;
    case LOGO_STEP_PLAY: GSL_LogoPlayMovie(); break;
    case LOGO_STEP_END: GSL_LogoEnd(); break;
    default: break;
    }
}
