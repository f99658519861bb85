// The 23 sound channels. Game code writes requests into a channel's record
// (play a file, stop with a fade-out, set the volume, pause) and reads its
// state back; the sound worker "soundWorkThread" owns every voice, visits
// the records about once a millisecond and carries the requests out.
//
// Channel groups by convention: 0-2 music, 3-10 sound effects, 11-18 voices,
// 19-21 system sound effects, 22 the system voice.
//
// Requests and the worker's flag handling are made under the channel's lock,
// so that no request is lost while the worker starts or releases a sound.
// Game code reads flags and state directly; everything it changes goes
// through the calls below, Lib_SoundRequest or Lib_SoundPauseSet, which
// wake the worker: with no channel that needs its visits (nothing plays, or
// only sounds that loop unchanged or are held) it waits instead of passing.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

inline constexpr int32_t kSoundChannels = 23;
inline constexpr size_t kSoundNameSize = 256;  // path and pack: at most 255 bytes

enum : uint8_t {
    SOUND_IN_USE = 0x01,
    SOUND_START_REQUEST = 0x02,
    SOUND_STARTED = 0x04,
    SOUND_RELEASE_REQUEST = 0x08,
};
enum : uint8_t { SOUND_PAUSE_REQUEST = 0x02 };  // bit of the pause flags
enum : int32_t {
    SOUND_IDLE = 0,
    SOUND_PAUSED = 1,
    SOUND_STOPPED = 2,
    SOUND_STARTING = 4,
    SOUND_PLAYING = 8,
};

// The request and state block of a channel. Copies (the snapshot) read each
// field on its own, so a field the worker changes meanwhile may be old or new.
struct SoundChannelState {
    std::atomic<uint8_t> flags{0};
    std::atomic<uint8_t> pause{0};
    std::atomic<int32_t> repeat{0};  // 0 and 1 once, negative endless; then repeats to come
    std::atomic<float> voiceLevel{0};
    std::atomic<float> voiceLevelAtGain{0};
    std::atomic<float> volume{0};  // 0..100, kept from one sound to the next
    std::atomic<float> gain{0};    // 0..1
    std::atomic<uint32_t> fadeInFrames{0};
    std::atomic<uint32_t> fadeOutFrames{0};
    std::atomic<uint64_t> fadeStartUs{0};
    std::atomic<int32_t> state{0};
    char path[kSoundNameSize] = {};  // written under the channel lock
    char pack[kSoundNameSize] = {};  // a .arc held in the named cache; empty: none

    SoundChannelState() = default;
    SoundChannelState(const SoundChannelState& o) { *this = o; }
    SoundChannelState& operator=(const SoundChannelState& o);
};

struct SoundChannel {
    // Worker fields.
    int32_t voice = -1;              // the mixer voice, -1 while holding no sound
    void* owned = nullptr;           // heap-1 block of a voice: the file as loaded, or the decoded PCM
    const uint8_t* samples = nullptr;  // the PCM copied into the voice (kept for voices only, for their levels)
    uint32_t pcmBytes = 0;
    int32_t category = 0;  // 0 pack, 1 "/bgm/", 2 "/voice", 3 other
    uint8_t stereo = 0;
    uint32_t loopStart = 0, loopEnd = 0;  // bytes; loopEnd 0 = none
    uint32_t playFlags = 0;               // 1: looping
    bool loopInMixer = false;             // the mixer keeps the loop points itself
    // Shared with game code.
    SoundChannelState st;
    std::atomic<float> fadeStartGain{0};
    // Worker fields.
    uint64_t levelPosition = 0;
    float levelReference = 32768.0f;
    std::mutex lock;  // guards request stores, path, pack and the worker's flag handling
};

extern SoundChannel SoundChannelTable[kSoundChannels];
extern SoundChannelState SoundStateSnapshot[kSoundChannels];
extern int32_t SoundThreadSlot;

// Records to their start-up values (volume 100, gain 1), without the worker;
// the damaged files named on stderr are named again.
void Lib_SoundReset();
// Start-up, after graphics and the save store: records, the audio device and
// the worker "soundWorkThread". Without a device, one line on stderr says so
// and every sound is released, without a word, as soon as the worker starts it.
void Lib_SoundInit();
// True from a start-up that found no audio device until the shutdown.
bool Lib_SoundDeviceMissing();
// Shutdown: deletes the worker (which releases every voice) and closes the
// audio device.
void Lib_SoundEnd();

// Play request. An invalid channel (outside 0..22) takes the lowest channel
// with neither SOUND_IN_USE nor SOUND_START_REQUEST. Returns the channel, or
// -1 when none is free or a name is 256 bytes or longer (nothing changes).
// The two ignored arguments keep the engine's calling convention.
int32_t Lib_SoundPlay(int32_t channel, const char* path, int32_t unused1, int32_t repeat, int32_t fadeIn,
                      int32_t unused2, const char* pack);
// Stop with a fade-out of fadeOut frames (0 means 16); only for a channel in use.
void Lib_SoundStop(int32_t channel, int32_t fadeOut);
// Volume 0..100 (clamped); ends a running fade-in. Kept for the next sound.
void Lib_SoundVolumeSet(int32_t channel, float volume);
// The state of a valid channel in use, else 0.
int32_t Lib_SoundStateGet(int32_t channel);
// Copies every channel's state block into SoundStateSnapshot.
SoundChannelState* Lib_SoundStateCopy();

// The monotonic clock in microseconds used for fades; null restores it (tests).
void Lib_SoundSetClock(uint64_t (*now)());
uint64_t Lib_SoundNow();

// Tells the worker that a channel's record changed (sound_worker.cpp).
void Lib_SoundWake();

// The play request on one channel, as other subsystems make it on their
// records: every field first, the flag bits last, under the channel lock.
// `pause` is stored with the request (SOUND_PAUSE_REQUEST: the sound loads
// but is held silent until the bit is cleared). False (nothing stored) when
// path or pack is 256 bytes or longer.
inline bool Lib_SoundRequest(SoundChannel& ch, const char* path, int32_t repeat, int32_t fadeIn,
                             const char* pack, uint8_t pause = 0) {
    size_t pathLen = path ? ::strnlen(path, kSoundNameSize) : 0;
    size_t packLen = pack ? ::strnlen(pack, kSoundNameSize) : 0;
    if (pathLen >= kSoundNameSize || packLen >= kSoundNameSize) return false;
    std::unique_lock<std::mutex> hold(ch.lock);
    std::memcpy(ch.st.path, path ? path : "", pathLen);
    ch.st.path[pathLen] = '\0';
    std::memcpy(ch.st.pack, pack ? pack : "", packLen);
    ch.st.pack[packLen] = '\0';
    float gain = fadeIn != 0 ? 0.0f : ch.st.volume.load(std::memory_order_relaxed) / 100.0f;
    ch.st.gain.store(gain, std::memory_order_relaxed);
    ch.st.repeat.store(repeat, std::memory_order_relaxed);
    ch.st.fadeInFrames.store(uint32_t(fadeIn), std::memory_order_relaxed);
    ch.fadeStartGain.store(gain, std::memory_order_relaxed);
    ch.st.fadeOutFrames.store(0, std::memory_order_relaxed);
    ch.st.pause.store(pause, std::memory_order_relaxed);
    ch.st.state.store(SOUND_STARTING, std::memory_order_relaxed);
    ch.st.flags.fetch_or(SOUND_IN_USE | SOUND_START_REQUEST | SOUND_RELEASE_REQUEST, std::memory_order_release);
    hold.unlock();
    Lib_SoundWake();
    return true;
}

// Sets or clears a channel's pause bit (SOUND_PAUSE_REQUEST): a playing
// sound stops where it is, a held or paused one plays on.
inline void Lib_SoundPauseSet(SoundChannel& ch, bool paused) {
    if (paused) ch.st.pause.fetch_or(SOUND_PAUSE_REQUEST, std::memory_order_acq_rel);
    else ch.st.pause.fetch_and(uint8_t(~SOUND_PAUSE_REQUEST), std::memory_order_acq_rel);
    Lib_SoundWake();
}

// --- the worker (sound_worker.cpp) ---------------------------------------------
// The worker's thread function: passes over the channels with 1 ms sleeps
// while a channel needs it, otherwise waits for a wake; once its thread is
// asked to stop it releases everything and returns 1.
int32_t soundWorkThread(void* unused);
// One pass over the 23 channels (the worker's loop body; tests call it):
// true when a channel needs the next pass in a millisecond.
bool Lib_SoundWorkPass();
// Releases every channel's voice and data (state 0; the flags stay).
void Lib_SoundShutdownChannels();
// Forgets which damaged files stderr has named (the records' reset does it).
void Lib_SoundDamagedForget();
// Buffer volume in mB for a gain: 2000 * log10(gain) truncated, -10000..0.
int32_t Lib_SoundGainToMb(float gain);
