// The sound worker: loads and decodes requested sounds whole, makes one mixer
// voice per sound, plays, repeats and loops it, runs the fades on the clock,
// turns gains into voice volumes, measures voice levels and releases sounds
// that ended or were stopped.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/core/cache.h"
#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/thread.h"
#include "engine/files/container.h"
#include "engine/files/file_loader.h"
#include "engine/sound/sound.h"
#include "engine/sound/sound_decode.h"
#include "platform/plat_audio.h"
#include "platform/plat_time.h"

namespace {

constexpr uint32_t kLoopTrailer = 8;
// The first block for decoded Ogg PCM: the length the stream claims, but no
// more than this many times the file's size (Vorbis at its lowest rates packs
// about 1:40), and at least this much.
constexpr uint64_t kOggGuessRatio = 64;
constexpr uint32_t kOggFirstBlock = 64 * 1024;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
int32_t AbsSample(const uint8_t* p) {
    int16_t s;
    std::memcpy(&s, p, 2);
    return s < 0 ? -int32_t(s) : int32_t(s);
}

bool LoopInside(const SoundPcm& s) {
    if (!s.hasTrailer) return true;
    uint64_t frameBytes = uint64_t(s.format.channels) * 2;
    return uint64_t(s.loopStart) * frameBytes <= s.pcmBytes && uint64_t(s.loopEnd) * frameBytes <= s.pcmBytes;
}

// Everything a start produces before it touches the channel.
struct Loaded {
    SoundPcm pcm{};
    void* owned = nullptr;  // heap 1
    int32_t voice = -1;
    float levelReference = 32768.0f;
};

void Discard(Loaded& l) {
    if (l.voice >= 0) Plat_VoiceDestroy(l.voice);
    if (l.owned) Lib_MemFree(HEAP_FILE, l.owned);
    l = Loaded{};
}

void Fail(const char* what, const char* name) { Lib_DebugPrintf("Error -> %s(%s)\n", what, name); }

// A sound file that cannot be decoded is named on stderr once (up to 64
// files) until the records are reset: a looping or often-played sound would
// otherwise repeat the line on every request.
struct DamagedReports {
    std::mutex mutex;
    uint64_t named[64];
    int count = 0;
};
// process-wide: emptied by Lib_SoundInit (Lib_SoundDamagedForget)
DamagedReports g_damaged;

void ReportDamaged(const char* path, const char* fault) {
    uint64_t h = 1469598103934665603ull;
    for (const char* c = path; *c; ++c) h = (h ^ uint8_t(*c)) * 1099511628211ull;
    std::lock_guard<std::mutex> lock(g_damaged.mutex);
    for (int i = 0; i < g_damaged.count; ++i)
        if (g_damaged.named[i] == h) return;
    if (g_damaged.count < 64) g_damaged.named[g_damaged.count++] = h;
    char escaped[1024];
    path = Lib_TextEscaped(path, escaped, sizeof escaped);  // a name a script gave
    if (std::strcmp(fault, "Lib_MemAlloc") == 0)
        std::fprintf(stderr, "vn: sound %s does not play: no memory for its samples\n", path);
    else
        std::fprintf(stderr, "vn: sound %s is damaged: not a readable %s file; it does not play\n", path, fault);
}

// The file's bytes: through the file loader (owned), or a member of a pack
// held in the named cache.
bool LoadFile(char* path, const char* pack, Loaded& l, const uint8_t** file, uint32_t* size) {
    if (!pack[0]) {
        void* data = nullptr;
        if (!Lib_FileLoad(HEAP_FILE, path, &data, size, 256, true) || !data) {
            Fail("Lib_FileLoad", path);
            return false;
        }
        l.owned = data;
        *file = static_cast<const uint8_t*>(data);
        return true;
    }
    char name[kFileNameSize];
    std::memcpy(name, pack, kFileNameSize);
    char canon[kFileNameSize];
    CacheEntry* entry = Lib_CashGetHitInfo(Lib_FileNameNormalise(name, canon) ? canon : pack, -1);
    ArcView arc;
    if (!entry || entry->state.load(std::memory_order_acquire) != 1 ||
        !Lib_ArcOpen(&arc, Lib_CashData(entry), entry->dataSize)) {
        Fail("Lib_CashGetHitInfo", pack);
        return false;
    }
    int64_t id = Lib_ArcGetFileID(&arc, path);
    if (id < 0 || !Lib_ArcGetData(&arc, nullptr, int32_t(id), file, size)) {
        Fail("Lib_ArcGetData", path);
        return false;
    }
    return true;
}

// Loads, decodes and makes the voice of a sound; the channel is not touched.
bool Prepare(char* path, const char* pack, int32_t category, Loaded& l) {
    const uint8_t* file = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, pack, l, &file, &size)) return false;
    const char* fault = nullptr;
    if (std::strstr(path, ".wav")) {
        fault = Lib_SoundParseWav(file, size, &l.pcm);
    } else {
        fault = Lib_SoundDecodeOgg(file, size, std::strstr(path, ".oggl") != nullptr, &l.pcm);
        if (!fault) {
            if (l.owned) Lib_MemFree(HEAP_FILE, l.owned);
            l.owned = l.pcm.decoded;
        }
    }
    if (fault) {
        Fail(fault, path);
        ReportDamaged(path, fault);
        return false;
    }
    const SoundPcm& s = l.pcm;
    // The whole sound followed by one frame of silence.
    l.voice = Plat_VoiceCreate(s.format, s.pcmBytes + s.format.blockAlign);
    if (l.voice < 0 || !Plat_VoiceFill(l.voice, 0, s.pcm, s.pcmBytes)) {
        if (!Lib_SoundDeviceMissing()) Fail("Plat_VoiceCreate", path);  // no device: said once at start
        return false;
    }
    if (category == 2) {
        uint32_t frameBytes = uint32_t(s.format.channels) * 2;
        int32_t peak = 0;
        for (uint32_t at = 0; at + 2 <= s.pcmBytes; at += frameBytes) peak = std::max(peak, AbsSample(s.pcm + at));
        if (peak > 0) l.levelReference = float(peak);
    } else {
        // The voice holds the sound now; only a voice's level metering reads
        // the samples again, so nothing else keeps a second copy.
        if (l.owned) Lib_MemFree(HEAP_FILE, l.owned);
        l.owned = nullptr;
        l.pcm.pcm = nullptr;
        l.pcm.decoded = nullptr;
    }
    return true;
}

// Stops and frees the voice and the data a channel holds. Channel lock held.
void FreeHeld(SoundChannel& ch) {
    if (ch.voice >= 0) Plat_VoiceStop(ch.voice);
    if (ch.owned) Lib_MemFree(HEAP_FILE, ch.owned);
    ch.owned = nullptr;
    if (ch.voice >= 0) Plat_VoiceDestroy(ch.voice);
    ch.voice = -1;
    ch.samples = nullptr;
    ch.pcmBytes = 0;
}

// Ends what the channel holds: state 0, flags 0.
void Release(SoundChannel& ch) {
    FreeHeld(ch);
    ch.st.state.store(SOUND_IDLE, std::memory_order_relaxed);
    ch.st.flags.store(0, std::memory_order_release);
}

void ApplyVolume(SoundChannel& ch) {
    int32_t v = Lib_SoundGainToMb(ch.st.gain.load(std::memory_order_relaxed));
    if (Plat_VoiceGetVolume(ch.voice) != v) Plat_VoiceSetVolume(ch.voice, v);
}

// Starts the requested sound. Entered and left with the channel lock held;
// the lock is let go while the file is loaded and decoded, so requests made
// meanwhile wait for the next visit.
void Start(SoundChannel& ch, std::unique_lock<std::mutex>& hold) {
    FreeHeld(ch);  // held only when a start was requested without the release bit
    ch.st.flags.fetch_and(uint8_t(~(SOUND_START_REQUEST | SOUND_STARTED | SOUND_RELEASE_REQUEST)),
                          std::memory_order_acq_rel);
    ch.st.voiceLevel.store(0.0f, std::memory_order_relaxed);
    ch.st.voiceLevelAtGain.store(0.0f, std::memory_order_relaxed);
    ch.st.fadeStartUs.store(Lib_SoundNow(), std::memory_order_relaxed);
    ch.st.state.store(SOUND_STARTING, std::memory_order_relaxed);
    char path[kSoundNameSize], pack[kSoundNameSize];
    std::memcpy(path, ch.st.path, kSoundNameSize);
    std::memcpy(pack, ch.st.pack, kSoundNameSize);
    path[kSoundNameSize - 1] = pack[kSoundNameSize - 1] = '\0';
    int32_t category = pack[0] ? 0 : std::strstr(path, "/bgm/") ? 1 : std::strstr(path, "/voice") ? 2 : 3;

    hold.unlock();
    Loaded l;
    bool ok = Prepare(path, pack, category, l);
    hold.lock();

    uint8_t flags = ch.st.flags.load(std::memory_order_acquire);
    if (!ok || (flags & SOUND_START_REQUEST)) {
        // A failed sound ends its request; a newer request made meanwhile
        // stays for the next visit, which releases and starts it.
        Discard(l);
        if (!(flags & SOUND_START_REQUEST)) Release(ch);
        return;
    }
    const SoundPcm& s = l.pcm;
    ch.voice = l.voice;
    ch.owned = l.owned;
    ch.samples = s.pcm;
    ch.pcmBytes = s.pcmBytes;
    ch.category = category;
    ch.stereo = s.format.channels != 1;
    ch.levelPosition = 0;
    ch.levelReference = l.levelReference;

    ch.loopStart = ch.loopEnd = ch.playFlags = 0;
    ch.loopInMixer = false;
    bool loopPoints = false;
    int32_t repeat = ch.st.repeat.load(std::memory_order_relaxed);
    if (repeat > 0) {
        ch.st.repeat.store(--repeat, std::memory_order_relaxed);
        loopPoints = repeat != 0;
    } else if (repeat < 0) {
        ch.playFlags = 1;
        loopPoints = true;
    }
    if (loopPoints && s.hasTrailer) {
        uint32_t frameBytes = uint32_t(s.format.channels) * 2;
        ch.loopStart = s.loopStart * frameBytes;
        ch.loopEnd = s.loopEnd * frameBytes;
        // The mixer loops exactly; the visit's polled jump stays for loop
        // points it refuses (a start at or past the end).
        if (ch.loopEnd) ch.loopInMixer = Plat_VoiceSetLoop(ch.voice, ch.loopStart, ch.loopEnd);
    }
    Plat_VoiceSetPosition(ch.voice, 0);
    // A pause requested with the play holds the sound silently before it is
    // heard (state 1); otherwise it starts at its real volume at once.
    if (ch.st.pause.load(std::memory_order_relaxed) & SOUND_PAUSE_REQUEST) {
        Plat_VoiceSetVolume(ch.voice, kPlatVolumeSilent);
        ch.st.state.store(SOUND_PAUSED, std::memory_order_relaxed);
    } else {
        ApplyVolume(ch);
        Plat_VoicePlay(ch.voice, ch.playFlags & 1);
    }
    ch.st.flags.fetch_or(SOUND_STARTED, std::memory_order_release);
}

void VoiceLevel(SoundChannel& ch) {
    uint32_t frameBytes = ch.stereo ? 4 : 2;
    uint64_t frame = std::min<uint64_t>(Plat_VoicePosition(ch.voice) / frameBytes, ch.pcmBytes / frameBytes);
    if (frame <= ch.levelPosition) return;
    int32_t peak = 0;
    const uint8_t* p = ch.samples + ch.levelPosition * frameBytes;
    const uint8_t* end = ch.samples + frame * frameBytes;
    for (; p < end; p += 2) peak = std::max(peak, AbsSample(p));
    ch.levelPosition = frame;
    float level = float(peak) / ch.levelReference * 100.0f;
    ch.st.voiceLevel.store(level, std::memory_order_relaxed);
    ch.st.voiceLevelAtGain.store(level * ch.st.gain.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

float FadeMs(uint64_t now, const SoundChannel& ch) {
    uint64_t start = ch.st.fadeStartUs.load(std::memory_order_relaxed);
    return float(now > start ? (now - start) / 1000 : 0);
}

// A buffer that plays. Channel lock held.
void PlayingStep(SoundChannel& ch, uint8_t flags) {
    ch.st.state.store(SOUND_PLAYING, std::memory_order_relaxed);
    uint64_t now = Lib_SoundNow();  // after the flags: a stop's start time is never ahead of it
    float gain = ch.st.gain.load(std::memory_order_relaxed);
    if (flags & SOUND_RELEASE_REQUEST) {
        uint32_t frames = ch.st.fadeOutFrames.load(std::memory_order_relaxed);
        if (frames == 0 || gain <= 0.0f) {
            Plat_VoiceStop(ch.voice);
            ch.st.state.store(SOUND_STOPPED, std::memory_order_relaxed);
            return;
        }
        float g0 = ch.fadeStartGain.load(std::memory_order_relaxed);
        gain = g0 - FadeMs(now, ch) / 1000.0f * 60.0f / float(frames) * g0;
        ch.st.gain.store(gain < 0.0f ? 0.0f : gain, std::memory_order_relaxed);
    } else if (ch.st.pause.load(std::memory_order_relaxed) & SOUND_PAUSE_REQUEST) {
        Plat_VoiceStop(ch.voice);
        ch.st.state.store(SOUND_PAUSED, std::memory_order_relaxed);
        return;
    } else {
        float target = ch.st.volume.load(std::memory_order_relaxed) / 100.0f;
        uint32_t frames = ch.st.fadeInFrames.load(std::memory_order_relaxed);
        if (frames != 0 && gain != target) {
            float g0 = ch.fadeStartGain.load(std::memory_order_relaxed);
            gain = FadeMs(now, ch) / 1000.0f * 60.0f / float(frames) * (target - g0) + g0;
            if (target >= g0 ? gain > target : gain < target) gain = target;
            ch.st.gain.store(gain, std::memory_order_relaxed);
            if (gain == target) ch.st.fadeInFrames.store(0, std::memory_order_relaxed);
        }
    }
    if (ch.loopEnd != 0 && Plat_VoicePosition(ch.voice) >= ch.loopEnd) Plat_VoiceSetPosition(ch.voice, ch.loopStart);
    ApplyVolume(ch);
    if (ch.category == 2) VoiceLevel(ch);
}

// Whether a visit in a millisecond could find anything to do that no
// request announces: a sound that ends, fades, loops by the visits' jump or
// has its level measured, a start or a release under way. A looping sound
// the mixer keeps going unchanged, a held one and an empty channel change
// only through game code's requests, volume and pause, which wake the
// worker (Lib_SoundWake). Channel lock held.
// An empty channel nothing is asked of: its atomics alone tell, so the pass
// may read them without the lock.
bool EmptyAndIdle(const SoundChannel& ch) {
    const int32_t state = ch.st.state.load(std::memory_order_relaxed);
    return ch.voice < 0 && ch.st.flags.load(std::memory_order_acquire) == 0 && state != SOUND_STOPPED &&
           state != SOUND_PLAYING;
}

bool NeedsVisits(const SoundChannel& ch) {
    if (ch.voice < 0) return !EmptyAndIdle(ch);
    const uint8_t flags = ch.st.flags.load(std::memory_order_acquire);
    const int32_t state = ch.st.state.load(std::memory_order_relaxed);
    if (flags & (SOUND_START_REQUEST | SOUND_RELEASE_REQUEST)) return true;
    const bool paused = ch.st.pause.load(std::memory_order_relaxed) & SOUND_PAUSE_REQUEST;
    if (state == SOUND_PAUSED) return !paused;
    return state != SOUND_PLAYING || paused || ch.category == 2 || !(ch.playFlags & 1) ||
           (ch.loopEnd != 0 && !ch.loopInMixer) || ch.st.fadeInFrames.load(std::memory_order_relaxed) != 0 ||
           !Plat_VoiceIsPlaying(ch.voice);
}

void Serve(SoundChannel& ch, std::unique_lock<std::mutex>& hold) {
    bool playing = ch.voice >= 0 && Plat_VoiceIsPlaying(ch.voice);
    uint8_t flags = ch.st.flags.load(std::memory_order_acquire);
    int32_t state = ch.st.state.load(std::memory_order_relaxed);

    if (state == SOUND_PAUSED && ch.voice >= 0) {
        if (flags & SOUND_RELEASE_REQUEST) {
            ch.st.state.store(SOUND_STOPPED, std::memory_order_relaxed);
        } else if (!(ch.st.pause.load(std::memory_order_relaxed) & SOUND_PAUSE_REQUEST)) {
            ApplyVolume(ch);  // a held start resumes at its real volume
            Plat_VoicePlay(ch.voice, ch.playFlags & 1);
            ch.st.state.store(SOUND_PLAYING, std::memory_order_relaxed);
        }
        return;
    }
    if (playing) {
        PlayingStep(ch, flags);
        return;
    }
    // A sound so short that it ended before a visit saw it play.
    if (state == SOUND_STARTING && ch.voice >= 0 &&
        (flags & (SOUND_STARTED | SOUND_START_REQUEST)) == SOUND_STARTED)
        state = SOUND_PLAYING;
    int32_t repeat = ch.st.repeat.load(std::memory_order_relaxed);
    if (repeat > 0 && state == SOUND_PLAYING && ch.voice >= 0) {
        ch.st.repeat.store(repeat - 1, std::memory_order_relaxed);
        Plat_VoiceSetPosition(ch.voice, ch.loopStart);
        Plat_VoicePlay(ch.voice, ch.playFlags & 1);
        PlayingStep(ch, flags);
        return;
    }
    if (state == SOUND_STOPPED || state == SOUND_PLAYING)
        flags = ch.st.flags.fetch_or(SOUND_RELEASE_REQUEST, std::memory_order_acq_rel) | SOUND_RELEASE_REQUEST;
    if (flags & SOUND_RELEASE_REQUEST) {
        Release(ch);
        if (!(flags & SOUND_START_REQUEST)) return;
        ch.st.flags.store(SOUND_IN_USE, std::memory_order_relaxed);
        Start(ch, hold);
    } else if (flags & SOUND_START_REQUEST) {
        Start(ch, hold);
    }
}

// One channel's visit; true when it needs the next one (NeedsVisits).
bool Visit(SoundChannel& ch) {
    std::unique_lock<std::mutex> hold(ch.lock);
    Serve(ch, hold);
    return NeedsVisits(ch);
}

}  // namespace

int32_t Lib_SoundGainToMb(float gain) {
    if (!(gain > 0.0f)) return kPlatVolumeSilent;
    float mb = 2000.0f * std::log10(gain);
    if (mb <= float(kPlatVolumeSilent)) return kPlatVolumeSilent;
    if (mb >= 0.0f) return 0;
    return int32_t(mb);  // toward zero
}

namespace {
// The worker's rest when no channel needs its visits: game code's requests
// wake it, and so does its stop. The bound only covers a wake-up lost
// against a writer that forgot to call Lib_SoundWake.
struct WorkerRest {
    std::mutex mutex;
    std::condition_variable wake;
    bool pending = false;  // a record changed since the pass began
};
// process-wide: the worker thread's wake-up
WorkerRest g_rest;
constexpr auto kRestBound = std::chrono::milliseconds(20);

bool StopAsked() {
    int32_t slot = SoundThreadSlot;
    return slot >= 0 && slot < kThreadSlots && ThreadTable[slot] &&
           (ThreadTable[slot]->control.load(std::memory_order_acquire) & THREAD_STOP);
}
}  // namespace

void Lib_SoundWake() {
    {
        std::lock_guard<std::mutex> hold(g_rest.mutex);
        g_rest.pending = true;
    }
    g_rest.wake.notify_one();
}

bool Lib_SoundWorkPass() {
    {
        std::lock_guard<std::mutex> hold(g_rest.mutex);
        g_rest.pending = false;  // whatever changes from here on wakes the rest below
    }
    bool busy = false;
    for (SoundChannel& ch : SoundChannelTable) {
        // An empty channel with nothing asked of it is passed over unlocked:
        // a request that comes meanwhile is taken up by the next pass.
        if (EmptyAndIdle(ch)) continue;
        busy = Visit(ch) || busy;
    }
    return busy;
}

void Lib_SoundShutdownChannels() {
    for (SoundChannel& ch : SoundChannelTable) {
        std::lock_guard<std::mutex> hold(ch.lock);
        FreeHeld(ch);
        ch.st.state.store(SOUND_IDLE, std::memory_order_relaxed);
    }
}

int32_t soundWorkThread(void*) {
    for (;;) {
        if (StopAsked()) {
            Lib_SoundShutdownChannels();
            return 1;
        }
        if (Lib_SoundWorkPass()) {
            Plat_SleepMs(1);
            continue;
        }
        std::unique_lock<std::mutex> hold(g_rest.mutex);
        g_rest.wake.wait_for(hold, kRestBound, [] { return g_rest.pending || StopAsked(); });
    }
}

// --- reading sound files -----------------------------------------------------------

const char* Lib_SoundParseWav(const uint8_t* file, uint32_t size, SoundPcm* out) {
    *out = SoundPcm{};
    if (!file || size < 44) return "wav";
    uint32_t offset = 44, dataSize = Le32(file + 40);
    if (std::memcmp(file + 36, "data", 4) != 0) {
        if (size < 46) return "wav";
        offset = 46;
        dataSize = Le32(file + 42);
    }
    if (dataSize > size - offset) return "wav";
    PlatPcmFormat& f = out->format;
    f.formatTag = Le16(file + 20);
    f.channels = Le16(file + 22);
    f.rate = Le32(file + 24);
    f.bytesPerSecond = Le32(file + 28);
    f.blockAlign = Le16(file + 32);
    f.bits = Le16(file + 34);
    if (f.channels == 0 || f.blockAlign == 0 || dataSize > kSoundMaxPcmBytes) return "wav";
    out->pcm = file + offset;
    out->pcmBytes = dataSize;
    if (uint64_t(size) == uint64_t(offset) + dataSize + kLoopTrailer) {
        out->hasTrailer = true;
        out->loopStart = Le32(file + offset + dataSize);
        out->loopEnd = Le32(file + offset + dataSize + 4);
    }
    return LoopInside(*out) ? nullptr : "wav";
}

size_t Lib_SoundOggRead(void* dst, size_t elementSize, size_t count, void* source) {
    OggMemStream* s = *static_cast<OggMemStream**>(source);
    if (!dst || elementSize == 0 || s->position < 0 || s->position > s->size) return 0;
    size_t n = std::min(count, size_t(s->size - s->position) / elementSize);
    std::memcpy(dst, s->data + s->position, n * elementSize);
    s->position += int32_t(n * elementSize);
    return n;
}

int Lib_SoundOggSeek(void* source, ogg_int64_t offset, int whence) {
    OggMemStream* s = *static_cast<OggMemStream**>(source);
    int64_t low = int32_t(uint32_t(uint64_t(offset)));
    int64_t target;
    switch (whence) {
        case SEEK_SET: target = low; break;
        case SEEK_CUR: target = int64_t(s->position) + low; break;
        case SEEK_END: target = int64_t(s->size) + low; break;
        default: return -1;
    }
    if (target > s->size) {
        s->position = s->size;
        return -1;
    }
    if (target < 0) {
        s->position = 0;
        return -1;
    }
    s->position = int32_t(target);
    return 0;
}

long Lib_SoundOggTell(void* source) { return (*static_cast<OggMemStream**>(source))->position; }

namespace {
int OggClose(void*) { return 0; }

// Decoded PCM in one heap-1 block that grows while the stream yields more.
struct PcmBlock {
    uint8_t* data = nullptr;
    uint32_t capacity = 0, used = 0;
};

// Moves the block to one of `capacity` bytes; false (block unchanged) when
// there is no room.
bool Resize(PcmBlock& b, uint32_t capacity) {
    auto* grown = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, std::max<uint32_t>(capacity, 16), 256));
    if (!grown) return false;
    if (b.used) std::memcpy(grown, b.data, b.used);
    if (b.data) Lib_MemFree(HEAP_FILE, b.data);
    b.data = grown;
    b.capacity = capacity;
    return true;
}

// Decodes the whole stream into `b`, by what it yields: the length the last
// page claims is only the first guess, and only while it is plausible for the
// file's size. Returns null or the failure's name. The PCM keeps the first
// link's layout: a link with other channels or another rate ends it.
const char* DecodeAll(OggVorbis_File& vf, uint32_t fileSize, uint32_t channels, uint32_t rate, PcmBlock& b) {
    const uint32_t frame = channels * 2;
    const uint32_t limit = kSoundMaxPcmBytes / frame * frame;
    ogg_int64_t total = ov_pcm_total(&vf, -1);
    uint64_t guess = total > 0 ? uint64_t(total) * frame : 0;
    guess = std::min<uint64_t>({guess, uint64_t(fileSize) * kOggGuessRatio, limit});
    guess = std::max<uint64_t>(guess, kOggFirstBlock) / frame * frame;
    if (!Resize(b, uint32_t(std::min<uint64_t>(guess, limit)))) return "Lib_MemAlloc";
    int first = -1;
    uint8_t probe[4096];  // a whole frame of any layout fits
    for (;;) {
        // A full block is grown only when the stream really goes on.
        bool full = b.capacity - b.used < frame;
        char* at = full ? reinterpret_cast<char*>(probe) : reinterpret_cast<char*>(b.data + b.used);
        int want = full ? int(sizeof probe / frame * frame) : int(std::min<uint32_t>(b.capacity - b.used, INT_MAX));
        int link = 0;
        long n = ov_read(&vf, at, want, 0, 2, 1, &link);
        if (n < 1) break;  // the end, or damage from here on
        if (first < 0) first = link;
        if (link != first) {
            vorbis_info* info = ov_info(&vf, link);
            if (!info || uint32_t(info->channels) != channels || uint32_t(info->rate) != rate) break;
        }
        if (full) {
            if (b.capacity >= limit || n > long(limit - b.capacity)) return "ogg";  // longer than any sound
            uint64_t grown = std::min<uint64_t>(uint64_t(b.capacity) * 2, limit) / frame * frame;
            if (!Resize(b, uint32_t(std::max<uint64_t>(grown, b.capacity + uint64_t(n))))) return "Lib_MemAlloc";
            std::memcpy(b.data + b.used, probe, size_t(n));
        }
        b.used += uint32_t(n);
    }
    // A first guess far too large is given back (kept when no room is left).
    if (b.capacity - b.used > b.capacity / 8) Resize(b, b.used);
    return nullptr;
}

}  // namespace

const char* Lib_SoundDecodeOgg(const uint8_t* file, uint32_t size, bool oggl, SoundPcm* out) {
    *out = SoundPcm{};
    if (!file || size > uint32_t(INT32_MAX)) return "ogg";
    if (oggl) {
        if (size < kLoopTrailer) return "oggl";
        out->hasTrailer = true;
        out->loopStart = Le32(file + size - 8);
        out->loopEnd = Le32(file + size - 4);
    }
    OggMemStream stream{file, int32_t(size), 0};
    OggMemStream* source = &stream;
    ov_callbacks callbacks{Lib_SoundOggRead, Lib_SoundOggSeek, OggClose, Lib_SoundOggTell};
    OggVorbis_File vf;
    if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) < 0) return "ogg";  // cleared by libvorbisfile
    vorbis_info* info = ov_info(&vf, -1);
    if (!info || info->channels < 1 || info->channels > 255 || info->rate < 1 || info->rate > INT32_MAX) {
        ov_clear(&vf);
        return "ogg";
    }
    uint32_t channels = uint32_t(info->channels), rate = uint32_t(info->rate);  // info dies with ov_clear
    PcmBlock block;
    const char* fault = DecodeAll(vf, size, channels, rate, block);
    ov_clear(&vf);
    if (fault) {
        if (block.data) Lib_MemFree(HEAP_FILE, block.data);
        *out = SoundPcm{};
        return fault;
    }
    uint32_t pcmBytes = block.used;

    PlatPcmFormat& f = out->format;
    f.formatTag = 1;
    f.channels = uint16_t(channels);
    f.rate = rate;
    f.bytesPerSecond = rate * channels * 2;
    f.blockAlign = uint16_t(channels * 2);
    f.bits = 16;
    out->pcm = block.data;
    out->pcmBytes = pcmBytes;
    out->decoded = block.data;
    if (!LoopInside(*out)) {
        Lib_MemFree(HEAP_FILE, block.data);
        *out = SoundPcm{};
        return "oggl";
    }
    return nullptr;
}

void Lib_SoundDamagedForget() {
    std::lock_guard<std::mutex> lock(g_damaged.mutex);
    g_damaged.count = 0;
}
