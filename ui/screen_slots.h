// The numbered slots of a screen's context: pictures, texts, sounds and the
// script task a screen owns. Every call takes the screen first (0: the top of
// the mode stack) and answers -1 (or does nothing) for a bad slot or a screen
// without a context. Game thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/mode.h"

// A file through the sprite loader, or with `container` a member of that
// container (loadValue: member index or -1; loadFlag: queue flag). The first
// sprite slot tried is `first` (720 or more, -1 too: from 0).
int32_t GSL_WorkLayerLoad(ModeFunction screen, uint32_t slot, int32_t first, const char* file, int32_t loadValue,
                          uint8_t loadFlag, const char* tag, const char* container);
// Where a layer's picture is read: into heap 4 for the layer alone, or into
// the named cache, where other users find it.
enum LayerKeep : uint8_t { LAYER_OWN = 0, LAYER_CACHED = 1 };
// The usual load: a picture file into layer `slot`, from the first free
// sprite; a null file makes a blank 1280×720 sprite, ready at once.
int32_t GSL_WorkLayerFile(ModeFunction screen, uint32_t slot, const char* file, LayerKeep keep);
// The same for a member of a container archive.
int32_t GSL_WorkLayerMember(ModeFunction screen, uint32_t slot, const char* container, const char* member,
                            LayerKeep keep);
// -2 when the source is empty, -1 while it loads.
int32_t GSL_WorkLayerCopy(ModeFunction screen, uint32_t slot, uint32_t source, int32_t first);
void GSL_WorkLayerFree(ModeFunction screen, int32_t slot);
bool GSL_WorkLayersReady(ModeFunction screen);
int32_t GSL_WorkLayerGet(ModeFunction screen, uint32_t slot);

int32_t GSL_WorkTextSet(ModeFunction screen, uint32_t slot, int32_t first, const char* text);
void GSL_WorkTextFree(ModeFunction screen, uint32_t slot);
int32_t GSL_WorkTextGet(ModeFunction screen, uint32_t slot);

// How a screen's sound comes back with the screen: not at all, as music or
// as an effect.
enum SoundRestore : int8_t { SOUND_NOT_REPLAYED = -1, SOUND_MUSIC = 1, SOUND_EFFECT = 2 };
// A sound a screen plays: the file, the owner's number kept with the slot,
// the fade-in and the fade-out when the screen releases it (frames; 0: 16),
// and the plays (0 and 1 once, negative endless).
struct WorkSound {
    const char* file = nullptr;
    int32_t extra = -1;
    SoundRestore restore = SOUND_MUSIC;
    uint32_t fadeIn = 0;
    uint32_t releaseFade = 0;
    int32_t repeat = -1;
};
// Plays on channel = slot. Only an endless sound keeps its restore kind and
// release fade, and is replayed when the screen returns.
int32_t GSL_WorkSoundSet(ModeFunction screen, uint32_t slot, const WorkSound& sound);
// Stops the slot's sound over `frames` (0: the default 16-frame fade-out).
void GSL_WorkSoundStop(ModeFunction screen, uint32_t slot, uint32_t frames);
// The shortest stop, for a sound that stops without a fade.
inline constexpr uint32_t kSoundStopAtOnce = 1;
int32_t GSL_WorkSoundGet(ModeFunction screen, uint32_t slot);

void GSL_WorkTaskEnd(ModeFunction screen, uint32_t slot);
int32_t GSL_WorkTaskGet(ModeFunction screen);

// The same on a context found beforehand (the restore works by index).
int32_t GSL_WorkLayerLoadIn(ScreenWork* w, uint32_t slot, int32_t first, const char* file, int32_t loadValue,
                            uint8_t loadFlag, const char* tag, const char* container);
int32_t GSL_WorkLayerCopyIn(ScreenWork* w, uint32_t slot, uint32_t source, int32_t first);
void GSL_WorkLayerFreeIn(ScreenWork* w, int32_t slot);
bool GSL_WorkLayersReadyIn(const ScreenWork* w);
int32_t GSL_WorkTextSetIn(ScreenWork* w, uint32_t slot, int32_t first, const char* text);

// Copies at most size - 1 bytes of src (null: empty), cut on a character
// boundary, and terminates.
void GSL_WorkNameCopy(char* dst, size_t size, const char* src);
