#include "ui/screen_slots.h"

#include <cstring>

#include "engine/core/charcode.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "ui/engine_services.h"
#include "ui/ui_host.h"
#include "ui/widget_task.h"

void GSL_WorkNameCopy(char* dst, size_t size, const char* src) {
    size_t n = 0;
    if (src) {
        while (src[n]) {
            size_t len = Lib_CharLen(src + n);
            if (len == 0) len = 1;
            if (n + len > size - 1) break;
            // A character cut short by the terminator ends the name.
            if (std::memchr(src + n, 0, len)) break;
            n += len;
        }
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
}

int32_t GSL_WorkLayerLoad(ModeFunction screen, uint32_t slot, int32_t first, const char* file, int32_t loadValue,
                          uint8_t loadFlag, const char* tag, const char* container) {
    return GSL_WorkLayerLoadIn(GSL_WorkGet(screen), slot, first, file, loadValue, loadFlag, tag, container);
}

int32_t GSL_WorkLayerFile(ModeFunction screen, uint32_t slot, const char* file, LayerKeep keep) {
    return GSL_WorkLayerLoad(screen, slot, -1, file, -1, keep, nullptr, nullptr);
}

int32_t GSL_WorkLayerMember(ModeFunction screen, uint32_t slot, const char* container, const char* member,
                            LayerKeep keep) {
    return GSL_WorkLayerLoad(screen, slot, -1, member, -1, keep, nullptr, container);
}

int32_t GSL_WorkLayerLoadIn(ScreenWork* w, uint32_t slot, int32_t first, const char* file, int32_t loadValue,
                            uint8_t loadFlag, const char* tag, const char* container) {
    if (slot >= uint32_t(kScreenLayers) || !w) return -1;
    ScreenLayerSlot& l = w->layers[slot];
    if (l.handle >= 0) GSL_WorkLayerFreeIn(w, int32_t(slot));
    int32_t handle = (container && container[0])
                         ? Lib_SpriteLoadGroup2(first, container, file, loadValue, loadFlag)
                         : Lib_SpriteLoad(first, file, loadValue, loadFlag);
    l.handle = handle;
    l.loadFlag = loadFlag;
    l.loadValue = loadValue;
    l.source = -1;
    GSL_WorkNameCopy(l.file, sizeof l.file, file);
    GSL_WorkNameCopy(l.container, sizeof l.container, container);
    GSL_WorkNameCopy(l.tag, sizeof l.tag, tag);
    return handle;
}

int32_t GSL_WorkLayerCopy(ModeFunction screen, uint32_t slot, uint32_t source, int32_t first) {
    return GSL_WorkLayerCopyIn(GSL_WorkGet(screen), slot, source, first);
}

int32_t GSL_WorkLayerCopyIn(ScreenWork* w, uint32_t slot, uint32_t source, int32_t first) {
    if (slot >= uint32_t(kScreenLayers) || !w) return -1;
    if (source >= uint32_t(kScreenLayers) || w->layers[source].handle < 0) return -2;
    const ScreenLayerSlot& src = w->layers[source];
    if (Lib_SpriteGetState(src.handle) == 0) return -1;
    ScreenLayerSlot& l = w->layers[slot];
    if (l.handle >= 0) GSL_WorkLayerFreeIn(w, int32_t(slot));
    l.source = int32_t(source);
    l.loadFlag = src.loadFlag;
    l.loadValue = src.loadValue;
    std::memcpy(l.file, src.file, sizeof l.file);
    std::memcpy(l.tag, src.tag, sizeof l.tag);
    std::memcpy(l.container, src.container, sizeof l.container);
    l.handle = Lib_SpriteCopy(first, src.handle);
    return l.handle;
}

void GSL_WorkLayerFree(ModeFunction screen, int32_t slot) { GSL_WorkLayerFreeIn(GSL_WorkGet(screen), slot); }

void GSL_WorkLayerFreeIn(ScreenWork* w, int32_t slot) {
    if (slot < 0 || slot >= kScreenLayers || !w) return;
    GSL_WidgetSpriteFree(w->layers[slot].handle);
    w->layers[slot].handle = -1;
    w->layers[slot].source = -1;
    int32_t heir = -1;
    for (int32_t i = 0; i < kScreenLayers; ++i) {
        ScreenLayerSlot& l = w->layers[i];
        if (l.handle < 0 || l.source != slot) continue;
        if (heir < 0) {
            heir = i;
            l.source = -1;
        } else {
            l.source = heir;
        }
    }
}

bool GSL_WorkLayersReady(ModeFunction screen) { return GSL_WorkLayersReadyIn(GSL_WorkGet(screen)); }

bool GSL_WorkLayersReadyIn(const ScreenWork* w) {
    if (!w) return true;
    for (const ScreenLayerSlot& l : w->layers) {
        if (l.handle < 0 || l.handle >= kSpriteSlots) continue;
        if (GSL_SpriteLoading(SpriteTable[l.handle])) return false;
    }
    return true;
}

int32_t GSL_WorkLayerGet(ModeFunction screen, uint32_t slot) {
    const ScreenWork* w = GSL_WorkGet(screen);
    return slot < uint32_t(kScreenLayers) && w ? w->layers[slot].handle : -1;
}

int32_t GSL_WorkTextSet(ModeFunction screen, uint32_t slot, int32_t first, const char* text) {
    return GSL_WorkTextSetIn(GSL_WorkGet(screen), slot, first, text);
}

int32_t GSL_WorkTextSetIn(ScreenWork* w, uint32_t slot, int32_t first, const char* text) {
    if (slot >= uint32_t(kScreenTexts) || !w) return -1;
    if (w->texts[slot].handle >= 0) {
        Lib_TextDel(w->texts[slot].handle);
        w->texts[slot].handle = -1;
    }
    const TextPos origin{0, 0, 0};
    w->texts[slot].handle = Lib_TextSet(first, text, &origin);
    return w->texts[slot].handle;
}

void GSL_WorkTextFree(ModeFunction screen, uint32_t slot) {
    ScreenWork* w = GSL_WorkGet(screen);
    if (slot >= uint32_t(kScreenTexts) || !w) return;
    Lib_TextDel(w->texts[slot].handle);
    w->texts[slot].handle = -1;
}

int32_t GSL_WorkTextGet(ModeFunction screen, uint32_t slot) {
    const ScreenWork* w = GSL_WorkGet(screen);
    return slot < uint32_t(kScreenTexts) && w ? w->texts[slot].handle : -1;
}

int32_t GSL_WorkSoundSet(ModeFunction screen, uint32_t slot, const WorkSound& sound) {
    ScreenWork* w = GSL_WorkGet(screen);
    if (slot >= uint32_t(kScreenSounds) || !w) return -1;
    ScreenSoundSlot& s = w->sounds[slot];
    s.handle = Lib_SoundPlay(int32_t(slot), sound.file, 0, sound.repeat, int32_t(sound.fadeIn), 0, nullptr);
    s.restoreKind = SOUND_NOT_REPLAYED;
    if (sound.repeat < 0) {
        s.releaseFade = sound.releaseFade;
        s.restoreKind = sound.restore;
    }
    s.extra = sound.extra;
    GSL_WorkNameCopy(s.file, sizeof s.file, sound.file);
    return s.handle;
}

void GSL_WorkSoundStop(ModeFunction screen, uint32_t slot, uint32_t frames) {
    ScreenWork* w = GSL_WorkGet(screen);
    if (slot >= uint32_t(kScreenSounds) || !w) return;
    Lib_SoundStop(w->sounds[slot].handle, int32_t(frames));
    w->sounds[slot].handle = -1;
    w->sounds[slot].restoreKind = -1;
}

int32_t GSL_WorkSoundGet(ModeFunction screen, uint32_t slot) {
    const ScreenWork* w = GSL_WorkGet(screen);
    return slot < uint32_t(kScreenSounds) && w ? w->sounds[slot].handle : -1;
}

void GSL_WorkTaskEnd(ModeFunction screen, uint32_t slot) {
    ScreenWork* w = GSL_WorkGet(screen);
    if (slot >= uint32_t(kScreenTasks) || !w) return;
    int32_t task = w->tasks[slot];
    if (!GSL_UiHost().scriptTaskEnd(task) && task >= 0 && task < kTaskSlots &&
        TaskTable.slots[task])
        TaskTable.slots[task]->finishRequest = 1;
    w->tasks[slot] = -1;
}

int32_t GSL_WorkTaskGet(ModeFunction screen) {
    const ScreenWork* w = GSL_WorkGet(screen);
    return w ? w->tasks[0] : -1;
}
