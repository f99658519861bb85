#include "platform/plat_audio.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr uint32_t kChunkFrames = 1024;  // mixed per step; also the device buffer
constexpr uint32_t kMaxVoiceBytes = 0x7FFFFFFFu;
constexpr float kFracScale = 1.0f / 4294967296.0f;

struct Voice {
    bool used;
    bool playing;
    bool looping;
    uint16_t channels;
    uint16_t bits;
    uint16_t blockAlign;
    uint8_t* data;
    uint32_t bytes;
    uint32_t frames;
    uint64_t pos;   // source frames, 32.32 fixed point
    uint64_t step;  // source frames per output frame, 32.32
    uint32_t loopStart, loopEnd;  // frames; loopEnd 0 = no inner loop
    int32_t mB;
    float gain;
    float heard;  // gain at the end of the last chunk; a change ramps over one chunk
};

// process-wide (g_lock, g_voices, g_rate, g_device, g_sdlAudio, g_focus): the sound device,
// opened and closed by Plat_AudioOpen and Plat_AudioClose; the focus follows the window's
std::mutex g_lock;  // the voice table; shared with the device callback
Voice g_voices[kPlatVoiceCount];
uint32_t g_rate = 0;  // written under g_lock, 0 while closed
SDL_AudioDeviceID g_device = 0;
bool g_sdlAudio = false;
std::atomic<bool> g_focus{true};

Voice* UsedVoice(int32_t v) {
    return v >= 0 && v < kPlatVoiceCount && g_voices[v].used ? &g_voices[v] : nullptr;
}

template <int Bits>
inline float Sample(const uint8_t* data, uint32_t index) {
    if constexpr (Bits == 16) {
        int16_t s;
        std::memcpy(&s, data + size_t(index) * 2, 2);
        return float(s);
    } else {
        return float((int32_t(data[index]) - 128) * 256);
    }
}

// Adds one output frame from source frames a and b (b follows a) weighted by
// frac. Mono voices go to both sides.
template <int Ch, int Bits>
inline void AddFrame(const uint8_t* d, uint32_t a, uint32_t b, float frac, float gain, float* out) {
    float l0 = Sample<Bits>(d, a * Ch), l1 = Sample<Bits>(d, b * Ch);
    float l = (l0 + (l1 - l0) * frac) * gain;
    if constexpr (Ch == 2) {
        float r0 = Sample<Bits>(d, a * 2 + 1), r1 = Sample<Bits>(d, b * 2 + 1);
        out[0] += l;
        out[1] += (r0 + (r1 - r0) * frac) * gain;
    } else {
        out[0] += l;
        out[1] += l;
    }
}

// Mixes (or, when silent, only advances) up to n output frames of a playing
// voice. Segments run to the region's end: the inner loop's end while the
// position is before it, else the voice's end.
template <int Ch, int Bits>
void MixVoice(Voice& v, float* acc, uint32_t n, bool audible) {
    const uint8_t* d = v.data;
    const float g0 = v.heard, dg = (v.gain - v.heard) / float(n);
    uint32_t k = 0;
    while (k < n && v.playing) {
        uint32_t idx = uint32_t(v.pos >> 32);
        bool inLoop = v.loopEnd != 0 && idx < v.loopEnd;
        uint32_t end = inLoop ? v.loopEnd : v.frames;
        // Frames whose right neighbour is still inside the region.
        uint64_t last = uint64_t(end - 1) << 32;
        uint32_t run = 0;
        if (v.pos < last) {
            uint64_t r = (last - v.pos + v.step - 1) / v.step;
            run = uint32_t(std::min<uint64_t>(r, n - k));
        }
        if (audible) {
            float* out = acc + size_t(k) * 2;
            uint64_t p = v.pos;
            float g = g0 + dg * float(k);
            for (uint32_t i = 0; i < run; ++i, p += v.step, out += 2, g += dg) {
                uint32_t a = uint32_t(p >> 32);
                AddFrame<Ch, Bits>(d, a, a + 1, float(uint32_t(p)) * kFracScale, g, out);
            }
        }
        v.pos += uint64_t(run) * v.step;
        k += run;
        if (k == n) break;

        // The region's last frame: its neighbour is where playback goes on.
        idx = uint32_t(v.pos >> 32);
        if (idx < end) {
            uint32_t next = inLoop ? v.loopStart : v.looping ? 0 : idx;
            float frac = (inLoop || v.looping) ? float(uint32_t(v.pos)) * kFracScale : 0.0f;
            if (audible) AddFrame<Ch, Bits>(d, idx, next, frac, g0 + dg * float(k), acc + size_t(k) * 2);
            v.pos += v.step;
            ++k;
        }
        uint64_t endFixed = uint64_t(end) << 32;
        if (v.pos < endFixed) continue;
        uint64_t over = v.pos - endFixed;
        if (inLoop) {
            uint64_t len = uint64_t(v.loopEnd - v.loopStart) << 32;
            v.pos = (uint64_t(v.loopStart) << 32) + over % len;
        } else if (v.looping) {
            v.pos = over % (uint64_t(v.frames) << 32);
        } else {
            v.playing = false;
            v.pos = 0;
        }
    }
}

void MixOne(Voice& v, float* acc, uint32_t n, bool audible) {
    if (v.channels == 2) {
        if (v.bits == 16) MixVoice<2, 16>(v, acc, n, audible);
        else MixVoice<2, 8>(v, acc, n, audible);
    } else {
        if (v.bits == 16) MixVoice<1, 16>(v, acc, n, audible);
        else MixVoice<1, 8>(v, acc, n, audible);
    }
}

void MixLocked(int16_t* out, uint32_t frames) {
    static float acc[kChunkFrames * 2];
    float master = g_focus.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    while (frames) {
        uint32_t n = std::min(frames, kChunkFrames);
        std::fill_n(acc, n * 2, 0.0f);
        for (Voice& v : g_voices) {
            if (!v.used || !v.playing) continue;
            MixOne(v, acc, n, (v.gain > 0.0f || v.heard > 0.0f) && master > 0.0f);
            v.heard = v.gain;
        }
        for (uint32_t i = 0; i < n * 2; ++i) {
            float s = acc[i] * master;
            s = std::clamp(s, -32768.0f, 32767.0f);
            out[i] = int16_t(std::lrintf(s));
        }
        out += n * 2;
        frames -= n;
    }
}

void Callback(void*, Uint8* stream, int len) {
    std::lock_guard<std::mutex> hold(g_lock);
    MixLocked(reinterpret_cast<int16_t*>(stream), uint32_t(len) / 4);
}

bool FormatOk(const PlatPcmFormat& f) {
    return f.formatTag == 1 && (f.channels == 1 || f.channels == 2) && (f.bits == 8 || f.bits == 16) &&
           f.blockAlign == f.channels * f.bits / 8 && f.rate >= 100 && f.rate <= 200000;
}

void FreeVoices() {
    for (Voice& v : g_voices) {
        std::free(v.data);
        v = Voice{};
    }
}

// --- the mixer's voice operations --------------------------------------------

int32_t MixerCreate(const PlatPcmFormat& format, uint32_t bytes) {
    if (!FormatOk(format) || bytes < format.blockAlign || bytes > kMaxVoiceBytes) return -1;
    auto* data = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!data) return -1;
    if (format.bits == 8) std::memset(data, 0x80, bytes);  // 8-bit silence
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_rate == 0) {
        std::free(data);
        return -1;
    }
    for (int32_t i = 0; i < kPlatVoiceCount; ++i) {
        Voice& v = g_voices[i];
        if (v.used) continue;
        v = Voice{};
        v.used = true;
        v.channels = format.channels;
        v.bits = format.bits;
        v.blockAlign = format.blockAlign;
        v.data = data;
        v.bytes = bytes;
        v.frames = bytes / format.blockAlign;
        v.step = (uint64_t(format.rate) << 32) / g_rate;
        v.gain = v.heard = 1.0f;
        return i;
    }
    std::free(data);
    return -1;
}

bool MixerFill(int32_t voice, uint32_t offset, const void* data, uint32_t bytes) {
    std::unique_lock<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    if (!v || offset > v->bytes || bytes > v->bytes - offset || (!data && bytes)) return false;
    if (!bytes) return true;
    // The callback reads a voice's data only while it plays, and only the
    // voice's owner starts it: a stopped voice is filled without the lock.
    uint8_t* dst = v->data + offset;
    if (!v->playing) hold.unlock();
    std::memcpy(dst, data, bytes);
    return true;
}

bool MixerSetLoop(int32_t voice, uint32_t start, uint32_t end) {
    std::lock_guard<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    if (!v) return false;
    if (start == 0 && end == 0) {
        v->loopStart = v->loopEnd = 0;
        return true;
    }
    uint32_t s = start / v->blockAlign, e = end / v->blockAlign;
    if (s >= e || e > v->frames) return false;
    v->loopStart = s;
    v->loopEnd = e;
    return true;
}

void MixerSetPosition(int32_t voice, uint32_t offset) {
    std::lock_guard<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    if (v && offset / v->blockAlign < v->frames) v->pos = uint64_t(offset / v->blockAlign) << 32;
}

void MixerPlay(int32_t voice, bool looping) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (Voice* v = UsedVoice(voice)) {
        v->playing = true;
        v->looping = looping;
    }
}

void MixerStop(int32_t voice) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (Voice* v = UsedVoice(voice)) v->playing = false;
}

bool MixerIsPlaying(int32_t voice) {
    std::lock_guard<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    return v && v->playing;
}

uint32_t MixerPosition(int32_t voice) {
    std::lock_guard<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    return v ? uint32_t(v->pos >> 32) * v->blockAlign : 0;
}

int32_t MixerGetVolume(int32_t voice) {
    std::lock_guard<std::mutex> hold(g_lock);
    Voice* v = UsedVoice(voice);
    return v ? v->mB : kPlatVolumeSilent;
}

void MixerSetVolume(int32_t voice, int32_t mB) {
    mB = std::clamp(mB, kPlatVolumeSilent, 0);
    float gain = Plat_AudioGain(mB);
    std::lock_guard<std::mutex> hold(g_lock);
    if (Voice* v = UsedVoice(voice)) {
        v->mB = mB;
        v->gain = gain;
        if (!v->playing) v->heard = gain;  // a voice starts at its volume
    }
}

void MixerDestroy(int32_t voice) {
    uint8_t* data = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Voice* v = UsedVoice(voice);
        if (!v) return;
        data = v->data;
        *v = Voice{};
    }
    std::free(data);
}

const PlatVoiceBackend kMixer = {MixerCreate,    MixerFill,     MixerSetLoop,   MixerSetPosition,
                                 MixerPlay,      MixerStop,     MixerIsPlaying, MixerPosition,
                                 MixerGetVolume, MixerSetVolume, MixerDestroy};
// process-wide: a test seam (Plat_AudioSetBackend)
std::atomic<const PlatVoiceBackend*> g_backend{&kMixer};

const PlatVoiceBackend& Ops() { return *g_backend.load(std::memory_order_acquire); }

// While SDL looks for a device, ALSA (loaded by SDL's alsa driver) would
// print a line of its own for every card or device it cannot open: its error
// hook is pointed at a silent one for that time, then put back. Looked up at
// run time, so that a system without ALSA needs nothing of it; once loaded it
// stays (its configuration cache lives as long as the process, as when SDL
// keeps it for an open device).
class AlsaErrorsQuiet {
public:
    AlsaErrorsQuiet() {
        lib_ = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!lib_) return;
        set_ = reinterpret_cast<SetHandler>(dlsym(lib_, "snd_lib_error_set_handler"));
        current_ = reinterpret_cast<Handler*>(dlsym(lib_, "snd_lib_error"));
        if (!set_) return;
        if (current_) before_ = *current_;
        set_(Silent);
    }
    ~AlsaErrorsQuiet() {
        if (set_) set_(before_);
        if (lib_) dlclose(lib_);
    }
    AlsaErrorsQuiet(const AlsaErrorsQuiet&) = delete;
    AlsaErrorsQuiet& operator=(const AlsaErrorsQuiet&) = delete;

private:
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    static void Silent(const char*, int, const char*, int, const char*, ...) {}
    void* lib_ = nullptr;
    SetHandler set_ = nullptr;
    Handler* current_ = nullptr;
    Handler before_ = nullptr;  // null puts back ALSA's own printer
};

}  // namespace

bool Plat_AudioOpen() {
    Plat_AudioClose();
    AlsaErrorsQuiet quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    g_sdlAudio = true;
    SDL_AudioSpec want{}, have{};
    want.freq = int(kPlatMixRate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = uint16_t(kChunkFrames);
    want.callback = Callback;
    g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (g_device == 0 || have.freq <= 0) {
        Plat_AudioClose();
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_rate = uint32_t(have.freq);
    }
    SDL_PauseAudioDevice(g_device, 0);
    return true;
}

bool Plat_AudioOpenNull(uint32_t rate) {
    Plat_AudioClose();
    if (rate < 8000 || rate > 384000) return false;
    std::lock_guard<std::mutex> hold(g_lock);
    g_rate = rate;
    return true;
}

void Plat_AudioClose() {
    if (g_device) SDL_CloseAudioDevice(g_device);  // waits for the callback
    g_device = 0;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_rate = 0;
        FreeVoices();
    }
    if (g_sdlAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_sdlAudio = false;
}

uint32_t Plat_AudioRate() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_rate;
}

void Plat_AudioMix(int16_t* out, uint32_t frames) {
    std::lock_guard<std::mutex> hold(g_lock);
    MixLocked(out, frames);
}

void Plat_AudioSetFocus(bool focused) { g_focus.store(focused, std::memory_order_relaxed); }

float Plat_AudioGain(int32_t mB) {
    if (mB <= kPlatVolumeSilent) return 0.0f;
    if (mB >= 0) return 1.0f;
    return float(std::pow(10.0, double(mB) / 2000.0));
}

void Plat_AudioSetBackend(const PlatVoiceBackend* backend) {
    g_backend.store(backend ? backend : &kMixer, std::memory_order_release);
}

int32_t Plat_VoiceCreate(const PlatPcmFormat& format, uint32_t bytes) { return Ops().create(format, bytes); }
bool Plat_VoiceFill(int32_t voice, uint32_t offset, const void* data, uint32_t bytes) {
    return Ops().fill(voice, offset, data, bytes);
}
bool Plat_VoiceSetLoop(int32_t voice, uint32_t start, uint32_t end) { return Ops().setLoop(voice, start, end); }
void Plat_VoiceSetPosition(int32_t voice, uint32_t offset) { Ops().setPosition(voice, offset); }
void Plat_VoicePlay(int32_t voice, bool looping) { Ops().play(voice, looping); }
void Plat_VoiceStop(int32_t voice) { Ops().stop(voice); }
bool Plat_VoiceIsPlaying(int32_t voice) { return Ops().isPlaying(voice); }
uint32_t Plat_VoicePosition(int32_t voice) { return Ops().position(voice); }
int32_t Plat_VoiceGetVolume(int32_t voice) { return Ops().getVolume(voice); }
void Plat_VoiceSetVolume(int32_t voice, int32_t mB) { Ops().setVolume(voice, mB); }
void Plat_VoiceDestroy(int32_t voice) { Ops().destroy(voice); }
