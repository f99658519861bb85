#include "ui/screen_restore.h"

#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite_image.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "platform/plat_gl_api.h"
#include "ui/engine_services.h"
#include "ui/screen_slots.h"
#include "ui/ui_host.h"

uint8_t WorkRestorePhase = 0;

namespace {
constexpr uint16_t kScreenTaskGroup = 400;
constexpr int kCopyPasses = 5;
constexpr uint32_t kMaskBytes = kExt0HeaderSize + 1280u * 720u * 4u;

ScreenWork* At(int32_t index) {
    return index >= 0 && index < kScreenWorkSlots ? ScreenWorkTable[index] : nullptr;
}

SoundSnapshot SoundValues(const SoundChannelState& st) {
    SoundSnapshot s;
    s.flags = st.flags.load(std::memory_order_relaxed);
    s.pause = st.pause.load(std::memory_order_relaxed);
    s.repeat = st.repeat.load(std::memory_order_relaxed);
    s.volume = st.volume.load(std::memory_order_relaxed);
    s.gain = st.gain.load(std::memory_order_relaxed);
    s.fadeInFrames = st.fadeInFrames.load(std::memory_order_relaxed);
    s.fadeOutFrames = st.fadeOutFrames.load(std::memory_order_relaxed);
    s.state = st.state.load(std::memory_order_relaxed);
    return s;
}

// Whether another in-use sprite holds the GL name in any texture field.
bool TextureShared(uint32_t name, int32_t slot) {
    for (int32_t i = 0; i < kSpriteSlots; ++i) {
        const SpriteRecord& r = SpriteTable[i];
        if (i == slot || !(r.flags & SPRITE_IN_USE)) continue;
        if (r.texture == name || r.textureView == name || r.paletteTexture == name || r.paletteView == name ||
            r.maskTexture == name || r.maskView == name)
            return true;
    }
    return false;
}

// A capture's kept pixel buffer as a new mask texture. The sprite's own old
// mask objects go first; a copy shares its source's and gets none.
void RestoreMask(int32_t h, const SpriteRecord& snap) {
    SpriteRecord* r = &SpriteTable[h];
    r->maskImage = snap.maskImage;
    r->maskParam[0] = snap.maskParam[0];
    r->maskParam[1] = snap.maskParam[1];
    if (r->flags & SPRITE_COPY) return;
    uint32_t names[2] = {r->maskTexture, r->maskView};
    r->maskTexture = r->maskView = 0;
    for (int k = 0; k < 2; ++k) {
        if (!names[k] || (k == 1 && names[1] == names[0]) || TextureShared(names[k], h)) continue;
        glDeleteTextures(1, &names[k]);
        --SpriteLiveObjects;
    }
    ImageInfo info{};
    if (!Lib_ImageParse(snap.maskImage, kMaskBytes, &info) || info.type != IMAGE_EXT0 || info.bpp != 32 ||
        info.textureWidth != 1280 || info.textureHeight != 720)
        return;
    uint32_t tex = Lib_SpriteTexCreate(1280, 720, false, static_cast<const uint8_t*>(snap.maskImage) + kExt0HeaderSize);
    r->maskTexture = r->maskView = tex;
}

void LayerAttr(const ScreenLayerSlot& l) {
    const int32_t h = l.handle;
    const SpriteRecord& s = l.snapshot;
    if (!Lib_SpriteIsLive(h)) return;
    SpriteRecord* r = &SpriteTable[h];
    r->visible = s.visible;
    r->posX = s.posX, r->posY = s.posY, r->posZ = s.posZ;
    r->scaleX = s.scaleX, r->scaleY = s.scaleY, r->scaleZ = s.scaleZ;
    r->rotX = s.rotX, r->rotY = s.rotY, r->rotZ = s.rotZ;
    Lib_SpriteSetRect(h, s.srcRect);
    Lib_SpriteSetColor(h, s.color);
    // Before the draw callback: its new entry takes the record's priority.
    Lib_SpriteSetPrio(h, s.priority, s.subPriority);
    if (!Lib_SpriteIsLive(h)) return;
    std::memcpy(r->clipRect, s.clipRect, sizeof r->clipRect);
    Lib_SpriteSetValue(h, s.cameraMode);
    // After the rectangle, which may have moved the centre.
    if (s.centerX != kSpriteUnset) Lib_SpriteSetCenter(h, {s.centerX, s.centerY}, {s.shiftX, s.shiftY});
    std::memcpy(r->effectParams, s.effectParams, sizeof r->effectParams);
    // An entry that already calls the snapshot's callback on this record
    // stays (it was linked from the priority just restored).
    const bool sameEntry = r->drawEntry >= 0 && r->drawCallback == s.drawCallback &&
                           DrawList.entries[r->drawEntry].callback == s.drawCallback &&
                           DrawList.entries[r->drawEntry].arg == reinterpret_cast<uint64_t>(r);
    if (s.drawCallback && !sameEntry) Lib_SpriteSetDrawCB(h, s.drawCallback, reinterpret_cast<uint64_t>(r));
    if (!Lib_SpriteIsLive(h)) return;
    r->secondSprite = s.secondSprite;
    r->camera = s.camera;
    r->layerTag = s.layerTag;
    r->layerValue[0] = s.layerValue[0];
    r->layerValue[1] = s.layerValue[1];
    if (s.maskImage) RestoreMask(h, s);
}

void TextAttr(const ScreenTextSlot& t) {
    if (t.handle < 0 || t.handle >= kTextSlots || !TextTable[t.handle]) return;
    TextRecord* r = TextTable[t.handle];
    const TextRecord& s = t.snapshot;
    const TextPos zero{0, 0, 0};
    r->state = uint8_t((r->state & ~TEXT_STATE_DRAWN) | (s.state & TEXT_STATE_DRAWN));
    r->fixedAdvance = s.fixedAdvance;
    const TextPos delta{s.x - r->x, s.y - r->y, s.z - r->z};
    r->x = s.x, r->y = s.y, r->z = s.z;
    Lib_TextRubyMove(r, &delta);
    r->scaleX = s.scaleX, r->scaleY = s.scaleY;
    Lib_TextRubyMove(r, &zero);
    r->letterSpacing = s.letterSpacing;
    r->lineSpacing = s.lineSpacing;
    r->colour = s.colour;
    Lib_TextRubyMove(r, &zero);
    Lib_TextCornerColorSet(t.handle, s.corner);
    r->layer = s.layer;
    Lib_TextRubyMove(r, &zero);
    if (r->drawEntry >= 0) Lib_DrawSetPrio(uint32_t(r->drawEntry), s.layer, -1);
    r->clipX = s.clipX, r->clipY = s.clipY, r->clipWidth = s.clipWidth, r->clipHeight = s.clipHeight;
    r->drawMode = s.drawMode;
    r->outline = s.outline;
    r->renderFlags = s.renderFlags;
    if (s.finished) {
        r->finished = s.finished;
        r->revealed = s.revealed;
    } else {
        // A text still revealing comes back fully shown.
        GSL_TextShowFully(r);
    }
}

// The contexts a push released with this one: it, and every other that was
// not itself released by a push of its own.
bool InSet(int32_t i, int32_t restored) {
    const ScreenWork* w = At(i);
    return w && (i == restored || w->suspended != SCREEN_RELEASED);
}
}  // namespace

void GSL_WorkSnapshot(int32_t index, uint8_t mode) {
    ScreenWork* w = At(index);
    if (!w) return;
    if (mode == 0) {
        if (w->snapshotted) return;
        w->savedFrameRate = int8_t(FrameRateConfig);
        w->snapshotted = 1;
        Lib_FrameRateSet(60);
    }
    for (ScreenLayerSlot& l : w->layers)
        if (l.handle >= 0 && l.handle < kSpriteSlots) l.snapshot = SpriteTable[l.handle];
    for (ScreenTextSlot& t : w->texts)
        if (t.handle >= 0 && t.handle < kTextSlots && TextTable[t.handle]) t.snapshot = *TextTable[t.handle];
    const SoundChannelState* states = nullptr;
    for (int32_t i = 0; i < kScreenSounds; ++i) {
        ScreenSoundSlot& s = w->sounds[i];
        if (s.handle < 0 || s.handle >= kSoundChannels || s.restoreKind < 0) continue;
        if (!states) states = Lib_SoundStateCopy();
        s.snapshot = SoundValues(states[s.handle]);
    }
}

void GSL_ScriptWorkSnapshot() {
    if (const ModeFunction story = GSL_ScreenOf(SCREEN_STORY)) GSL_WorkSnapshot(GSL_WorkIndex(story), 1);
}

namespace {
// How long the driver waits for sprite or load slots to bring released
// layers back before it gives them up.
constexpr uint32_t kReloadWaitFrames = 600;
// process-wide: counted from 0 by each restore
uint32_t g_reloadWaited = 0;

// Loads a released layer again: back into its old sprite slot when that is
// free (-1: anywhere); when it and every slot above are taken, anywhere. When
// no sprite or file-load slot is free at all, the layer waits for a later
// frame.
void ReloadLayer(ScreenWork* w, int32_t i, int32_t old) {
    ScreenLayerSlot& l = w->layers[i];
    const char* file = l.file[0] ? l.file : nullptr;
    const char* container = l.container[0] ? l.container : nullptr;
    char tag[kScreenTagSize];
    std::memcpy(tag, l.tag, sizeof tag);
    l.reloadPending = 0;
    if (old >= 0 && GSL_WorkLayerLoadIn(w, uint32_t(i), old, file, l.loadValue, l.loadFlag, tag, container) >= 0)
        return;
    if (GSL_WorkLayerLoadIn(w, uint32_t(i), -1, file, l.loadValue, l.loadFlag, tag, container) < 0)
        l.reloadPending = 1;
}

// Tries the waiting layers of a context again; true when none waits.
bool ReloadWaiting(ScreenWork* w) {
    bool waiting = false;
    for (int32_t i = 0; i < kScreenLayers; ++i) {
        ScreenLayerSlot& l = w->layers[i];
        if (!l.reloadPending) continue;
        if (l.handle < 0) ReloadLayer(w, i, -1);
        if (g_reloadWaited >= kReloadWaitFrames && l.reloadPending) {
            Lib_DebugPrintf("Error -> GSL_WorkRestoreCB: layer %d (%s) could not be loaded again\n", int(i), l.file);
            l.reloadPending = 0;
        }
        waiting = waiting || l.reloadPending;
    }
    return !waiting;
}
}  // namespace

void GSL_WorkRestoreLoad(ModeFunction screen) { GSL_WorkRestoreLoadAt(GSL_WorkIndex(screen)); }

void GSL_WorkRestoreLoadAt(int32_t index) {
    ScreenWork* w = At(index);
    if (!w) return;
    Lib_FrameRateSet(GSL_FrameRateClamp(w->savedFrameRate));
    // Only a released context has anything to reload; in any other the
    // handles are live and its own.
    if (!w->released) return;
    w->released = 0;
    for (int32_t i = 0; i < kScreenLayers; ++i) {
        ScreenLayerSlot& l = w->layers[i];
        if (l.handle < 0 || l.source != -1 || GSL_SpriteKept(l.snapshot)) continue;
        const int32_t old = l.handle;
        l.handle = -1;
        ReloadLayer(w, i, old);
    }
    for (int32_t i = 0; i < kScreenTexts; ++i) {
        ScreenTextSlot& t = w->texts[i];
        if (t.handle < 0) continue;
        const int32_t old = t.handle;
        t.handle = -1;
        if (GSL_WorkTextSetIn(w, uint32_t(i), old, t.snapshot.text) < 0)
            GSL_WorkTextSetIn(w, uint32_t(i), -1, t.snapshot.text);
        if (t.handle >= 0 && TextTable[t.handle]) TextTable[t.handle]->state &= uint8_t(~TEXT_STATE_DRAWN);
    }
    for (int32_t i = 0; i < kScreenSounds; ++i) {
        ScreenSoundSlot& s = w->sounds[i];
        if (s.handle < 0) continue;
        if (s.restoreKind < 0) {
            // Faded out at the release and not replayed: its channel is
            // anyone's now.
            s.handle = -1;
            continue;
        }
        const int32_t repeat = s.snapshot.repeat;
        // Held silent from the request on, until the attributes are back.
        bool played = Lib_SoundRequest(SoundChannelTable[i], s.file, repeat, 0, nullptr, SOUND_PAUSE_REQUEST);
        s.handle = played ? i : -1;
        if (repeat >= 0) s.restoreKind = -1;
    }
}

void GSL_WorkRestoreAttrAt(int32_t index) {
    ScreenWork* w = At(index);
    if (!w) return;
    int32_t pending[kScreenLayers];
    int32_t pendingCount = 0;
    for (ScreenLayerSlot& l : w->layers) {
        // A kept copy was never freed: it is re-applied, not re-made.
        if (l.handle >= 0 && l.source != -1 && !GSL_SpriteKept(l.snapshot)) {
            pending[&l - w->layers] = l.handle;
            l.handle = -1;
            ++pendingCount;
        } else {
            pending[&l - w->layers] = -1;
        }
    }
    for (int pass = 0; pass < kCopyPasses; ++pass) {
        for (int32_t i = 0; i < kScreenLayers; ++i) {
            ScreenLayerSlot& l = w->layers[i];
            if (pending[i] < 0) {
                if (pass == 0 && l.handle >= 0) LayerAttr(l);
                continue;
            }
            if (GSL_WorkLayerCopyIn(w, uint32_t(i), uint32_t(l.source), pending[i]) < 0) continue;
            pending[i] = -1;
            --pendingCount;
            LayerAttr(l);
        }
        if (!pendingCount) break;
    }
    for (const ScreenTextSlot& t : w->texts)
        if (t.handle >= 0) TextAttr(t);
    for (int32_t i = 0; i < kScreenSounds; ++i) {
        const ScreenSoundSlot& s = w->sounds[i];
        if (s.handle < 0 || s.handle >= kSoundChannels || s.restoreKind < 0) continue;
        SoundChannel& ch = SoundChannelTable[s.handle];
        // The volume first: the sound is never heard at another level.
        Lib_SoundVolumeSet(s.handle, s.snapshot.volume);
        if (ch.st.flags.load(std::memory_order_acquire) & SOUND_IN_USE)
            Lib_SoundPauseSet(ch, s.snapshot.pause & SOUND_PAUSE_REQUEST);
    }
}

bool GSL_WorkRestoreStep() {
    const int n = GSL_ModeCount();
    // Run from the top of the stack, the driver restores the entry below it;
    // called in place on a full stack, it restores the top and removes nothing.
    const bool onTop = n > 0 && ModeStack[n - 1] == GSL_WorkRestoreCB;
    ModeFunction target = onTop ? (n >= 2 ? ModeStack[n - 2] : nullptr) : (n ? ModeStack[n - 1] : nullptr);
    const int32_t restored = target ? GSL_WorkIndex(target) : -1;
    auto finish = [&] {
        if (onTop) ModeStack[n - 1] = nullptr;
        WorkRestorePhase = 0;
        return false;
    };
    if (restored < 0) return finish();
    ScreenWork* w = ScreenWorkTable[restored];
    if (WorkRestorePhase == 0) {
        g_reloadWaited = 0;
        if (w->suspended == SCREEN_RELEASED)
            for (int32_t i = 0; i < kScreenWorkSlots; ++i)
                if (InSet(i, restored)) GSL_WorkRestoreLoadAt(i);
        WorkRestorePhase = 1;
    } else if (WorkRestorePhase != 1) {
        return true;
    }
    for (int32_t i = 0; i < kScreenWorkSlots; ++i) {
        if (!InSet(i, restored)) continue;
        ScreenWork* c = ScreenWorkTable[i];
        if (!ReloadWaiting(c)) {
            ++g_reloadWaited;
            return true;
        }
        if (!GSL_WorkLayersReadyIn(c)) return true;
        for (int32_t task : c->tasks) {
            if (task < 0 || task >= kTaskSlots) continue;
            if (GSL_UiHost().scriptStatusGet(task) == 0) return true;
        }
    }
    if (w->suspended == SCREEN_RELEASED)
        for (int32_t i = 0; i < kScreenWorkSlots; ++i)
            if (InSet(i, restored)) GSL_WorkRestoreAttrAt(i);
    for (int32_t slot = 0; w->suspended != SCREEN_ACTIVE && slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        if (!t || t->group != kScreenTaskGroup || w->pauseOwner[slot] != t->callback) continue;
        t->suspended = w->pause[slot];
    }
    w->suspended = SCREEN_ACTIVE;
    w->snapshotted = 0;
    return finish();
}

void GSL_WorkRestoreCB() { GSL_WorkRestoreStep(); }
