// Our mixer on one SDL2 audio device: PCM voices in the manner of DirectSound
// secondary buffers (create, fill, position, play once or looping, stop
// keeping the position, volume in hundredths of a decibel), each resampled to
// the device rate and mixed in the device callback. The voices' owner and the
// callback share the voice table under one short lock.
//
// Output is muted (voices keep moving) while neither the game window nor the
// font window has input focus; the window code reports it.
#pragma once

#include <cstdint>

// 23 voices for the sound channels and one for the movie player.
inline constexpr int32_t kPlatVoiceCount = 24;
inline constexpr int32_t kPlatVolumeSilent = -10000;  // mB
inline constexpr uint32_t kPlatMixRate = 48000;       // asked of the device

// A PCM format as a WAVE file's format chunk gives it: tag 1 (PCM), 1 or 2
// channels, 8-bit unsigned or 16-bit signed samples, block align =
// channels * bits / 8, 100 to 200000 frames a second.
struct PlatPcmFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t rate;
    uint32_t bytesPerSecond;
    uint16_t blockAlign;
    uint16_t bits;
};

// Opens the default audio device (16-bit stereo) and starts its callback.
// False when there is none: then no voice can be made.
bool Plat_AudioOpen();
// The mixer without a device, at `rate`, driven by Plat_AudioMix (benchmarks
// and tests).
bool Plat_AudioOpenNull(uint32_t rate);
// Closes the device and destroys every voice.
void Plat_AudioClose();
// The rate voices are mixed at; 0 while closed.
uint32_t Plat_AudioRate();
// Mixes the next `frames` stereo frames into out, as the device callback does.
void Plat_AudioMix(int16_t* out, uint32_t frames);
// True while the game window or the font window has input focus (the
// default); false mutes the output.
void Plat_AudioSetFocus(bool focused);

// Linear gain of a volume in mB: 10^(mB / 2000); -10000 and below is 0.
float Plat_AudioGain(int32_t mB);

// The voice operations behind the Plat_Voice* calls; tests install their own.
struct PlatVoiceBackend {
    int32_t (*create)(const PlatPcmFormat& format, uint32_t bytes);
    bool (*fill)(int32_t voice, uint32_t offset, const void* data, uint32_t bytes);
    bool (*setLoop)(int32_t voice, uint32_t start, uint32_t end);
    void (*setPosition)(int32_t voice, uint32_t offset);
    void (*play)(int32_t voice, bool looping);
    void (*stop)(int32_t voice);
    bool (*isPlaying)(int32_t voice);
    uint32_t (*position)(int32_t voice);
    int32_t (*getVolume)(int32_t voice);
    void (*setVolume)(int32_t voice, int32_t mB);
    void (*destroy)(int32_t voice);
};
// Null restores the mixer.
void Plat_AudioSetBackend(const PlatVoiceBackend* backend);

// A silent, stopped voice of `bytes` bytes (at least one frame) at position
// 0; its handle 0..kPlatVoiceCount-1, or -1 (bad format, no device, no room).
int32_t Plat_VoiceCreate(const PlatPcmFormat& format, uint32_t bytes);
// Copies bytes into the voice at offset; false when they do not fit.
bool Plat_VoiceFill(int32_t voice, uint32_t offset, const void* data, uint32_t bytes);
// A loop inside the voice: playback reaching `end` goes on from `start`
// (byte offsets, start < end <= size). 0, 0 removes it. False when refused.
bool Plat_VoiceSetLoop(int32_t voice, uint32_t start, uint32_t end);
// Moves the play position (bytes; positions at or past the end are ignored).
void Plat_VoiceSetPosition(int32_t voice, uint32_t offset);
// Plays from the current position; looping wraps at the end, otherwise the
// voice stops there and its position returns to 0.
void Plat_VoicePlay(int32_t voice, bool looping);
// Stops the voice; its position stays.
void Plat_VoiceStop(int32_t voice);
bool Plat_VoiceIsPlaying(int32_t voice);
// The play position in bytes of the voice's own data.
uint32_t Plat_VoicePosition(int32_t voice);
int32_t Plat_VoiceGetVolume(int32_t voice);
// Volume in mB, kept within -10000..0.
void Plat_VoiceSetVolume(int32_t voice, int32_t mB);
void Plat_VoiceDestroy(int32_t voice);
