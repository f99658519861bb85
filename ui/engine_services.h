// What the screens, the script engine and the story screen use of the engine
// library, in one place: the names those layers know the engine's records,
// flags and globals by, mapped onto the engine as it is built.
//
// Colours: the engine's colour word is the one truth everywhere: alpha in
// bits 24-31, then blue 16-23, green 8-15, red 0-7. Colour literals pass to
// the engine unchanged ("ARGB" only says that alpha is on top). Code that
// builds or splits a word by shifts and names the channels is written exactly
// as its shifts say; the word comes out the same as the literals beside it.
//
// Sprites (SpriteRecord): flag 1 in use (SPRITE_IN_USE), 2 loaded
// (SPRITE_READY), 32 being freed or failed (SPRITE_FAILED), 128 copy
// (SPRITE_COPY); "live" is Lib_SpriteIsLive. Shown byte: `visible`; draw-mode
// word and draw value: `cameraMode` (2 the default camera); camera or user
// pointer: `camera`; centre pair: `centerX/Y`; second point: `shiftX/Y`;
// linked sprite: `secondSprite`; the 16 + 4 parameter floats: `effectParams`;
// the i32 before the draw callback: `layerTag`; the two further fields:
// `layerValue`; capture pixel buffer and companions: `maskImage`, `maskParam`.
//
// Texts (TextRecord): colour word `colour`; edge or second colour `outline`;
// display bytes, placement flags, alignment and effect bits `renderFlags`
// (2: centred on the position); style index `fontStyle`; render-flags word
// and draw-mode field `drawMode`; shown bit TEXT_STATE_DRAWN, keep bit
// TEXT_STATE_PROTECTED; reveal state 1/2 is `finished` 0/1; ruby look-ahead
// `rubySpace`. There is no blend flag: texts always draw with blend state 0.
//
// Sound (SoundChannel::st): first flag byte `flags` (1 in use, 8 stop),
// second `pause` (SOUND_PAUSE_REQUEST holds a new sound silent); "command 4"
// is `state` SOUND_STARTING; state 1 is paused. Direct requests go through
// Lib_SoundRequest.
//
// Built signatures: Lib_FileLoadReq(type, name, &data, &size, align);
// Lib_FileLoad lower-cases its name in place (copy literals first);
// Lib_MemHeapAlloc(heap, size, align, fromBottom); the screen heap's reset is
// Lib_MemHeapReset(&HeapTable.heaps[HEAP_SCREEN]); Lib_CashGetHitInfo is null
// on a miss; Lib_SoundPlay refuses names of 256 bytes or more.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"

// Parameter entry 10 equal to 1.0 keeps a sprite loaded while its screen is
// released (capture sprites set it).
inline constexpr int kSpriteKeepParam = 10;
inline bool GSL_SpriteKept(const SpriteRecord& r) { return r.effectParams[kSpriteKeepParam] == 1.0f; }

// A sprite still loading: in use, neither failed nor loaded.
inline bool GSL_SpriteLoading(const SpriteRecord& r) {
    return (r.flags & (SPRITE_IN_USE | SPRITE_FAILED | SPRITE_READY)) == SPRITE_IN_USE;
}

// Shows a text at once as if its reveal had finished.
inline void GSL_TextShowFully(TextRecord* r) {
    if (!r) return;
    r->revealed = kTextBufferSize;
    r->finished = 1;
    if (r->fadeIn) std::memset(r->alpha, int(r->colour >> 24), sizeof r->alpha);
}

// One name per thing.
inline uint8_t& StoryPausedFlag = FrameTimeHold;
inline float& PresentedFrameCounter = FrameTimeCounter;
