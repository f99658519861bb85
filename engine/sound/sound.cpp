#include "engine/sound/sound.h"

#include <atomic>
#include <cstdio>

#include "engine/core/thread.h"
#include "platform/plat_audio.h"
#include "platform/plat_time.h"

// process-wide (SoundChannelTable, SoundThreadSlot): made afresh by Lib_SoundInit and
// Lib_SoundReset
SoundChannel SoundChannelTable[kSoundChannels];
int32_t SoundThreadSlot = -1;
// process-wide: a copy taken by Lib_SoundStateCopy before each read
SoundChannelState SoundStateSnapshot[kSoundChannels];

namespace {
// process-wide: a test seam (Lib_SoundSetClock)
std::atomic<uint64_t (*)()> g_clock{nullptr};
// process-wide: set by Lib_SoundInit
std::atomic<bool> g_noDevice{false};

SoundChannel* ValidChannel(int32_t channel) {
    return uint32_t(channel) < uint32_t(kSoundChannels) ? &SoundChannelTable[channel] : nullptr;
}
}  // namespace

SoundChannelState& SoundChannelState::operator=(const SoundChannelState& o) {
    if (this == &o) return *this;
    constexpr auto r = std::memory_order_relaxed;
    flags.store(o.flags.load(r), r);
    pause.store(o.pause.load(r), r);
    repeat.store(o.repeat.load(r), r);
    voiceLevel.store(o.voiceLevel.load(r), r);
    voiceLevelAtGain.store(o.voiceLevelAtGain.load(r), r);
    volume.store(o.volume.load(r), r);
    gain.store(o.gain.load(r), r);
    fadeInFrames.store(o.fadeInFrames.load(r), r);
    fadeOutFrames.store(o.fadeOutFrames.load(r), r);
    fadeStartUs.store(o.fadeStartUs.load(r), r);
    state.store(o.state.load(r), r);
    std::memcpy(path, o.path, sizeof path);
    std::memcpy(pack, o.pack, sizeof pack);
    path[kSoundNameSize - 1] = pack[kSoundNameSize - 1] = '\0';
    return *this;
}

void Lib_SoundSetClock(uint64_t (*now)()) { g_clock.store(now); }

uint64_t Lib_SoundNow() {
    uint64_t (*clock)() = g_clock.load();
    return clock ? clock() : Plat_MonotonicUs();
}

void Lib_SoundReset() {
    SoundThreadSlot = -1;
    for (SoundChannel& ch : SoundChannelTable) {
        std::lock_guard<std::mutex> hold(ch.lock);
        ch.voice = -1;
        ch.owned = nullptr;
        ch.samples = nullptr;
        ch.pcmBytes = 0;
        ch.category = 0;
        ch.stereo = 0;
        ch.loopStart = ch.loopEnd = ch.playFlags = 0;
        SoundChannelState fresh;
        ch.st = fresh;
        ch.st.volume.store(100.0f);
        ch.st.gain.store(1.0f);
        ch.fadeStartGain.store(0.0f);
        ch.levelPosition = 0;
        ch.levelReference = 32768.0f;
    }
    Lib_SoundDamagedForget();
}

void Lib_SoundInit() {
    Lib_SoundReset();
    // Without a device the game plays on in silence: said once, and the
    // sounds it asks for later fail without a word.
    g_noDevice.store(!Plat_AudioOpen());
    if (g_noDevice.load()) std::fprintf(stderr, "vn: no sound device found; the game runs without sound\n");
    int32_t slot = Lib_ThreadSet("soundWorkThread", soundWorkThread, THREAD_PRIORITY_ABOVE_NORMAL);
    SoundThreadSlot = slot;
    if (slot >= 0 && slot < kThreadSlots && ThreadTable[slot]) Lib_ThreadStart(slot);
}

bool Lib_SoundDeviceMissing() { return g_noDevice.load(); }

void Lib_SoundEnd() {
    if (SoundThreadSlot >= 0 && SoundThreadSlot < kThreadSlots && ThreadTable[SoundThreadSlot]) {
        // A worker waiting for requests stops where it waits.
        ThreadTable[SoundThreadSlot]->control.fetch_or(THREAD_STOP, std::memory_order_release);
        Lib_SoundWake();
    }
    if (SoundThreadSlot >= 0) Lib_ThreadDel(SoundThreadSlot);
    SoundThreadSlot = -1;
    Lib_SoundShutdownChannels();  // a worker that never ran leaves nothing behind either
    Plat_AudioClose();
    g_noDevice.store(false);
}

int32_t Lib_SoundPlay(int32_t channel, const char* path, int32_t, int32_t repeat, int32_t fadeIn, int32_t,
                      const char* pack) {
    if (!ValidChannel(channel)) {
        channel = -1;
        for (int32_t i = 0; i < kSoundChannels; ++i) {
            uint8_t f = SoundChannelTable[i].st.flags.load(std::memory_order_acquire);
            if (!(f & (SOUND_IN_USE | SOUND_START_REQUEST))) {
                channel = i;
                break;
            }
        }
        if (channel < 0) return -1;
    }
    return Lib_SoundRequest(SoundChannelTable[channel], path, repeat, fadeIn, pack) ? channel : -1;
}

void Lib_SoundStop(int32_t channel, int32_t fadeOut) {
    SoundChannel* ch = ValidChannel(channel);
    if (!ch) return;
    std::unique_lock<std::mutex> hold(ch->lock);
    if (!(ch->st.flags.load(std::memory_order_relaxed) & SOUND_IN_USE)) return;
    ch->st.fadeOutFrames.store(fadeOut == 0 ? 16u : uint32_t(fadeOut), std::memory_order_relaxed);
    ch->fadeStartGain.store(ch->st.gain.load(std::memory_order_relaxed), std::memory_order_relaxed);
    ch->st.fadeStartUs.store(Lib_SoundNow(), std::memory_order_relaxed);
    ch->st.flags.fetch_or(SOUND_RELEASE_REQUEST, std::memory_order_release);
    hold.unlock();
    Lib_SoundWake();
}

void Lib_SoundVolumeSet(int32_t channel, float volume) {
    SoundChannel* ch = ValidChannel(channel);
    if (!ch) return;
    float v = volume < 0.0f ? 0.0f : volume > 100.0f ? 100.0f : volume;
    if (volume != volume) v = 0.0f;  // NaN
    {
        std::lock_guard<std::mutex> hold(ch->lock);
        ch->st.volume.store(v, std::memory_order_relaxed);
        ch->st.fadeInFrames.store(0, std::memory_order_relaxed);
        ch->st.gain.store(v / 100.0f, std::memory_order_relaxed);
    }
    Lib_SoundWake();
}

int32_t Lib_SoundStateGet(int32_t channel) {
    SoundChannel* ch = ValidChannel(channel);
    if (!ch || !(ch->st.flags.load(std::memory_order_acquire) & SOUND_IN_USE)) return 0;
    return ch->st.state.load(std::memory_order_acquire);
}

SoundChannelState* Lib_SoundStateCopy() {
    for (int32_t i = 0; i < kSoundChannels; ++i) SoundStateSnapshot[i] = SoundChannelTable[i].st;
    return SoundStateSnapshot;
}
