#include "platform/plat_movie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_gl.h"
#include "platform/plat_time.h"

namespace {

constexpr int kIoBufferSize = 32768;
constexpr int kMaxPictureSide = 4096;
constexpr int kMinSoundRate = 1000, kMaxSoundRate = 384000;
constexpr size_t kMaxQueued = 8;          // decoded pictures waiting for their time
constexpr uint32_t kLeadDivisor = 4;      // sound written ahead: a quarter second
constexpr uint32_t kFifoSeconds = 4;      // resampled sound waiting for room, at most
constexpr int64_t kPollUs = 5000;
constexpr int64_t kStalledClockUs = 250000;  // a voice that does not move: the device is not running
constexpr uint32_t kUntimedRate = 48000;
constexpr int kChannels = 2;              // the voice: 16-bit stereo

// A published picture: planar YUV as the decoder gave it (the frame holds a
// reference to the decoder's buffers, so nothing is copied), or the BGRA
// conversion in `pixels`.
struct Picture {
    AVFrame* frame = nullptr;
    uint8_t* pixels = nullptr;
    size_t capacity = 0;
    int32_t format = PLAT_MOVIE_BGRA;
    int32_t width = 0, height = 0;
    uint32_t stride = 0;
    int32_t matrix = PLAT_MOVIE_BT601;
    bool fullRange = false;
    float aspect = 1.0f;
};

struct Player {
    // The file (a copy) and the read position of the AVIOContext.
    uint8_t* data = nullptr;
    uint32_t size = 0;
    int64_t pos = 0;
    uint32_t flags = 0;
    PlatMovieNotify notify = nullptr;
    uint64_t cookie = 0;

    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    int videoIndex = -1, audioIndex = -1;
    AVRational videoBase{1, 1};
    int64_t startUs = 0;  // the container's start time
    SwsContext* sws = nullptr;
    SwrContext* swr = nullptr;
    int swrFormat = -1, swrRate = 0, swrChannels = 0;  // the input it was made for
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::deque<AVFrame*> queue;  // decoded pictures, oldest first
    int64_t lastPictureUs = -1;
    int64_t pictureStepUs = 33333;
    bool demuxDone = false, videoDone = true, audioDone = true;

    // Sound: resampled frames wait in the fifo (its head is movie frame
    // fifoStart) until the ring voice has room. Ring frame n plays movie
    // frame n, so the voice's play position is the clock.
    uint32_t rate = 0;
    int32_t voice = -1;
    uint32_t ringFrames = 0;
    std::vector<int16_t> fifo;
    size_t fifoHead = 0;  // samples already taken from fifo
    uint64_t fifoStart = 0;
    bool fifoPlaced = false;
    std::vector<uint8_t> scratch;
    uint64_t written = 0, zeroed = 0, played = 0;
    uint32_t lastPos = 0;
    uint64_t lastMoveUs = 0;
    bool soundClock = false;
    std::atomic<float> gain{1.0f};

    // The monotonic clock when there is no sound to follow (decode thread).
    bool wallRunning = false;
    uint64_t wallBase = 0;
    int64_t wallUs = 0;

    // Three picture buffers: the newest published, the one the reader holds,
    // and the one being converted.
    std::mutex frameMutex;
    Picture pictures[3];
    int ready = -1, held = -1;
    uint64_t serial = 0;

    std::mutex mutex;
    std::condition_variable cv;
    std::atomic<int32_t> state{PLAT_MOVIE_OPENED};
    std::atomic<bool> quit{false};
    bool done = false, orphaned = false;  // under mutex
    std::atomic<int64_t> positionUs{0};
    PlatMovieStats stats{0, 0, 0, -1};
    std::thread thread;
};

// process-wide: each player's slot, freed by its closing
Player* g_players[kPlatMovieSlots];
// process-wide: a test seam (Plat_MovieSetClock)
std::atomic<uint64_t (*)()> g_clock{Plat_MonotonicUs};
uint64_t Now() { return g_clock.load(std::memory_order_acquire)(); }

Player* At(int32_t movie) { return movie >= 0 && movie < kPlatMovieSlots ? g_players[movie] : nullptr; }

// --- memory I/O -----------------------------------------------------------------

int ReadPacket(void* opaque, uint8_t* buf, int n) {
    Player* p = static_cast<Player*>(opaque);
    int64_t left = int64_t(p->size) - p->pos;
    if (n <= 0 || left <= 0) return AVERROR_EOF;
    int k = int(std::min<int64_t>(n, left));
    std::memcpy(buf, p->data + p->pos, size_t(k));
    p->pos += k;
    return k;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    Player* p = static_cast<Player*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return p->size;
    int64_t base;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = p->pos; break;
        case SEEK_END: base = p->size; break;
        default: return AVERROR(EINVAL);
    }
    if (offset < -(int64_t(1) << 40) || offset > (int64_t(1) << 40)) return AVERROR(EINVAL);
    int64_t to = base + offset;
    if (to < 0 || to > int64_t(p->size)) return AVERROR(EINVAL);
    p->pos = to;
    return to;
}

// --- set-up and tear-down ----------------------------------------------------------

AVCodecContext* OpenDecoder(const AVStream* s, int threads) {
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    if (avcodec_parameters_to_context(c, s->codecpar) < 0) {
        avcodec_free_context(&c);
        return nullptr;
    }
    c->thread_count = threads;
    c->pkt_timebase = s->time_base;
    c->max_pixels = int64_t(kMaxPictureSide) * kMaxPictureSide;
    if (avcodec_open2(c, codec, nullptr) < 0) avcodec_free_context(&c);
    return c;
}

void Destroy(Player* p) {
    for (AVFrame* f : p->queue) av_frame_free(&f);
    p->queue.clear();
    av_frame_free(&p->frame);
    av_packet_free(&p->packet);
    avcodec_free_context(&p->video);
    avcodec_free_context(&p->audio);
    avformat_close_input(&p->fmt);
    if (p->io) {
        av_freep(&p->io->buffer);
        avio_context_free(&p->io);
    }
    sws_freeContext(p->sws);
    swr_free(&p->swr);
    if (p->voice >= 0) Plat_VoiceDestroy(p->voice);
    for (Picture& pic : p->pictures) {
        av_frame_free(&pic.frame);
        av_free(pic.pixels);
    }
    av_free(p->data);
    delete p;
}

int32_t MilliBel(float gain) {
    if (!(gain > 0.0f)) return kPlatVolumeSilent;
    if (gain >= 1.0f) return 0;
    return std::max(kPlatVolumeSilent, int32_t(std::lrint(2000.0 * std::log10(double(gain)))));
}

// Opens the container and the decoders; null when nothing can be played.
Player* Create(const void* data, uint32_t size, uint32_t flags, int threads) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (!data || size == 0) return nullptr;
    Player* p = new (std::nothrow) Player;
    if (!p) return nullptr;
    p->flags = flags;
    p->data = static_cast<uint8_t*>(av_malloc(size));
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (p->data && ioBuffer) p->io = avio_alloc_context(ioBuffer, kIoBufferSize, 0, p, ReadPacket, nullptr, Seek);
    if (!p->io) {
        av_free(ioBuffer);
        Destroy(p);
        return nullptr;
    }
    std::memcpy(p->data, data, size);
    p->size = size;
    p->fmt = avformat_alloc_context();
    if (!p->fmt) {
        Destroy(p);
        return nullptr;
    }
    p->fmt->pb = p->io;
    p->fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure the context is freed and the pointer cleared.
    if (avformat_open_input(&p->fmt, nullptr, nullptr, nullptr) < 0 ||
        avformat_find_stream_info(p->fmt, nullptr) < 0) {
        Destroy(p);
        return nullptr;
    }
    if (p->fmt->start_time != AV_NOPTS_VALUE && p->fmt->start_time > 0) p->startUs = p->fmt->start_time;
    p->stats.durationUs = p->fmt->duration != AV_NOPTS_VALUE ? p->fmt->duration : -1;

    int v = av_find_best_stream(p->fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v >= 0) {
        const AVStream* s = p->fmt->streams[v];
        const AVCodecParameters* par = s->codecpar;
        if (par->width >= 0 && par->height >= 0 && par->width <= kMaxPictureSide && par->height <= kMaxPictureSide &&
            (p->video = OpenDecoder(s, threads))) {
            p->videoIndex = v;
            p->videoBase = s->time_base;
            p->videoDone = false;
            AVRational fps = av_guess_frame_rate(p->fmt, const_cast<AVStream*>(s), nullptr);
            if (fps.num > 0 && fps.den > 0 && av_q2d(fps) >= 1.0 && av_q2d(fps) <= 240.0)
                p->pictureStepUs = av_rescale(1000000, fps.den, fps.num);
        }
    }
    int a = av_find_best_stream(p->fmt, AVMEDIA_TYPE_AUDIO, -1, v, nullptr, 0);
    if (a >= 0 && (p->audio = OpenDecoder(p->fmt->streams[a], 1))) {
        p->audioIndex = a;
        p->audioDone = false;
    }
    p->packet = av_packet_alloc();
    p->frame = av_frame_alloc();
    if ((!p->video && !p->audio) || !p->packet || !p->frame) {
        Destroy(p);
        return nullptr;
    }
    p->rate = kUntimedRate;
    if (p->audio && !(flags & PLAT_MOVIE_UNTIMED) && Plat_AudioRate() != 0) {
        p->rate = Plat_AudioRate();
        p->ringFrames = p->rate;  // one second
        PlatPcmFormat f{1, kChannels, p->rate, p->rate * kChannels * 2, kChannels * 2, 16};
        p->voice = Plat_VoiceCreate(f, p->ringFrames * kChannels * 2);
        if (p->voice >= 0) {
            Plat_VoiceSetVolume(p->voice, 0);
            p->soundClock = true;
        }
    }
    return p;
}

// --- sound ------------------------------------------------------------------------

uint64_t FifoFrames(const Player& p) { return (p.fifo.size() - p.fifoHead) / kChannels; }

void FifoDrop(Player& p, uint64_t frames) {
    frames = std::min(frames, FifoFrames(p));
    p.fifoHead += size_t(frames) * kChannels;
    p.fifoStart += frames;
    if (p.fifoHead == p.fifo.size()) {
        p.fifo.clear();
        p.fifoHead = 0;
    }
}

bool SetUpResampler(Player& p, const AVFrame* f) {
    swr_free(&p.swr);
    AVChannelLayout in{};
    if (f->ch_layout.nb_channels <= 0 || f->ch_layout.nb_channels > 64 || f->sample_rate < kMinSoundRate ||
        f->sample_rate > kMaxSoundRate)
        return false;
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, f->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &f->ch_layout) < 0)
        return false;
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    int r = swr_alloc_set_opts2(&p.swr, &out, AV_SAMPLE_FMT_S16, int(p.rate), &in, AVSampleFormat(f->format),
                                f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (r < 0 || swr_init(p.swr) < 0) {
        swr_free(&p.swr);
        return false;
    }
    p.swrFormat = f->format;
    p.swrRate = f->sample_rate;
    p.swrChannels = f->ch_layout.nb_channels;
    return true;
}

// Resamples one decoded sound frame into the fifo (or, with no voice, only
// counts it).
void Resample(Player& p, const AVFrame* f) {
    if (f->nb_samples <= 0) return;
    if (!p.swr || f->format != p.swrFormat || f->sample_rate != p.swrRate || f->ch_layout.nb_channels != p.swrChannels) {
        if (!SetUpResampler(p, f)) return;
    }
    int room = swr_get_out_samples(p.swr, f->nb_samples);
    if (room <= 0 || uint32_t(room) > p.rate * kFifoSeconds) return;
    p.scratch.resize(size_t(room) * kChannels * 2);
    uint8_t* out[1] = {p.scratch.data()};
    int n = swr_convert(p.swr, out, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (n <= 0) return;
    p.stats.soundFrames += uint64_t(n);
    if (p.voice < 0) return;
    if (!p.fifoPlaced) {
        // The first sound goes where its time says (a late start is silence).
        int64_t ts = f->best_effort_timestamp;
        int64_t us = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, p.audio->pkt_timebase, AVRational{1, 1000000}) - p.startUs;
        p.fifoStart = uint64_t(std::clamp<int64_t>(us, 0, 10000000)) * p.rate / 1000000;
        p.fifoPlaced = true;
    }
    const int16_t* s = reinterpret_cast<const int16_t*>(p.scratch.data());
    p.fifo.insert(p.fifo.end(), s, s + size_t(n) * kChannels);
    uint64_t cap = uint64_t(p.rate) * kFifoSeconds;
    if (FifoFrames(p) > cap) FifoDrop(p, FifoFrames(p) - cap);
    if (p.fifoHead > p.fifo.size() / 2 && p.fifoHead > 65536) {
        p.fifo.erase(p.fifo.begin(), p.fifo.begin() + ptrdiff_t(p.fifoHead));
        p.fifoHead = 0;
    }
}

// Copies (or, with data null, clears) frames into the ring at movie frame `at`.
void RingWrite(Player& p, uint64_t at, const int16_t* data, uint64_t frames) {
    static const int16_t zeros[2048 * kChannels] = {};
    while (frames) {
        uint32_t index = uint32_t(at % p.ringFrames);
        uint64_t n = std::min<uint64_t>(frames, p.ringFrames - index);
        if (!data) n = std::min<uint64_t>(n, 2048);
        Plat_VoiceFill(p.voice, index * kChannels * 2, data ? data : zeros, uint32_t(n * kChannels * 2));
        if (data) data += n * kChannels;
        at += n;
        frames -= n;
    }
}

// Clears what has been played, then moves sound from the fifo into the ring
// up to a quarter second ahead of the play position.
void FeedSound(Player& p) {
    if (p.voice < 0) return;
    // Played frames are cleared so that a ring the writer has not caught up
    // with plays silence; nothing still to be played is touched.
    uint64_t from = std::max(p.zeroed, std::max(p.written, p.played) - std::min<uint64_t>(p.ringFrames, std::max(p.written, p.played)));
    if (p.played > from) RingWrite(p, from, nullptr, p.played - from);
    p.zeroed = std::max(p.zeroed, p.played);
    // Sound that missed its time is dropped.
    if (p.written < p.played) p.written = p.played;
    uint64_t target = p.played + p.ringFrames / kLeadDivisor;
    while (FifoFrames(p) && p.written < target) {
        if (p.fifoStart < p.written) {
            FifoDrop(p, p.written - p.fifoStart);
        } else if (p.fifoStart > p.written) {
            p.written = std::min(p.fifoStart, target);  // a gap: silence
        } else {
            uint64_t n = std::min(FifoFrames(p), target - p.written);
            RingWrite(p, p.written, p.fifo.data() + p.fifoHead, n);
            p.written += n;
            FifoDrop(p, n);
        }
    }
}

bool SoundPlayedOut(const Player& p) {
    return p.voice < 0 || !p.soundClock || (p.audioDone && FifoFrames(p) == 0 && p.played >= p.written);
}

// --- pictures ---------------------------------------------------------------------

int64_t PictureUs(Player& p, const AVFrame* f) {
    int64_t ts = f->best_effort_timestamp;
    int64_t us = ts == AV_NOPTS_VALUE ? -1 : av_rescale_q(ts, p.videoBase, AVRational{1, 1000000}) - p.startUs;
    if (us < 0) us = p.lastPictureUs < 0 ? 0 : p.lastPictureUs + p.pictureStepUs;
    return us;
}

// The layout of a decoder format the drawing converts, -1 for any other.
int32_t PlanarLayout(int format) {
    switch (format) {
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P: return PLAT_MOVIE_YUV420;
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUVJ422P: return PLAT_MOVIE_YUV422;
        default: return -1;
    }
}

// The decoders store what the stream says in the frame's enum fields, values
// the enum does not name included; such a field is read as the int it is.
template <typename Enum>
int EnumValue(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(int));
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The frame's colour matrix; unmarked pictures are BT.709 from 720 rows up,
// BT.601 below.
int32_t Matrix(const AVFrame* f) {
    switch (EnumValue(f->colorspace)) {
        case AVCOL_SPC_BT709:
        case AVCOL_SPC_SMPTE240M: return PLAT_MOVIE_BT709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_FCC: return PLAT_MOVIE_BT601;
        default: return f->height >= 720 ? PLAT_MOVIE_BT709 : PLAT_MOVIE_BT601;
    }
}

bool ConvertToBgra(Player& p, const AVFrame* f, Picture& out) {
    const int w = f->width, h = f->height;
    p.sws = sws_getCachedContext(p.sws, w, h, AVPixelFormat(f->format), w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                 nullptr, nullptr);
    if (!p.sws) return false;
    const uint32_t stride = (uint32_t(w) * 4 + 63) & ~63u;
    const size_t bytes = size_t(stride) * uint32_t(h) + 64;
    if (out.capacity < bytes) {
        av_free(out.pixels);
        out.pixels = static_cast<uint8_t*>(av_malloc(bytes));
        out.capacity = out.pixels ? bytes : 0;
        if (!out.pixels) return false;
    }
    uint8_t* dst[4] = {out.pixels, nullptr, nullptr, nullptr};
    int dstStride[4] = {int(stride), 0, 0, 0};
    if (sws_scale(p.sws, f->data, f->linesize, 0, h, dst, dstStride) != h) return false;
    av_frame_unref(out.frame);
    out.format = PLAT_MOVIE_BGRA;
    out.stride = stride;
    return true;
}

// Takes the decoded picture into `out`: its planes when the drawing can
// convert them (the decoder's reference moves over), else a BGRA copy.
bool Take(Player& p, AVFrame* f, Picture& out) {
    const int w = f->width, h = f->height;
    const AVRational sar = f->sample_aspect_ratio;
    if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide || f->format < 0) return false;
    if (!out.frame && !(out.frame = av_frame_alloc())) return false;
    const int32_t layout = PlanarLayout(f->format);
    if (layout >= 0 && f->data[0] && f->data[1] && f->data[2] && f->linesize[0] > 0 && f->linesize[1] > 0 &&
        f->linesize[2] > 0) {
        out.format = layout;
        out.matrix = Matrix(f);
        out.fullRange = f->format == AV_PIX_FMT_YUVJ420P || f->format == AV_PIX_FMT_YUVJ422P ||
                        EnumValue(f->color_range) == AVCOL_RANGE_JPEG;
        av_frame_unref(out.frame);
        av_frame_move_ref(out.frame, f);
    } else if (!ConvertToBgra(p, f, out)) {
        return false;
    }
    out.width = w;
    out.height = h;
    double aspect = double(w) / h;
    if (sar.num > 0 && sar.den > 0) aspect *= av_q2d(sar);
    out.aspect = aspect > 0.01 && aspect < 100.0 ? float(aspect) : float(double(w) / h);
    return true;
}

void Publish(Player& p, AVFrame* f) {
    int target = 0;
    {
        std::lock_guard<std::mutex> hold(p.frameMutex);
        while (target == p.ready || target == p.held) ++target;
    }
    if (!Take(p, f, p.pictures[target])) return;
    ++p.stats.converted;
    std::lock_guard<std::mutex> hold(p.frameMutex);
    p.ready = target;
    ++p.serial;
}

// --- decoding ---------------------------------------------------------------------

void Decode(Player& p, AVCodecContext* c, const AVPacket* packet) {
    const bool isVideo = c == p.video;
    int r = avcodec_send_packet(c, packet);
    // A packet the decoder refuses is skipped; a refused flush ends the stream.
    if (r < 0 && packet) return;
    for (;;) {
        r = avcodec_receive_frame(c, p.frame);
        if (r < 0) break;
        if (isVideo) {
            AVFrame* q = av_frame_alloc();
            if (!q) {
                av_frame_unref(p.frame);
                continue;
            }
            av_frame_move_ref(q, p.frame);
            p.queue.push_back(q);
            ++p.stats.pictures;
        } else {
            Resample(p, p.frame);
            av_frame_unref(p.frame);
        }
    }
    if (!packet || r == AVERROR_EOF) (isVideo ? p.videoDone : p.audioDone) = true;
}

// Reads and decodes one packet; at the end of the data drains the decoders.
void ReadStep(Player& p) {
    if (p.demuxDone) return;
    int r = av_read_frame(p.fmt, p.packet);
    if (r == AVERROR(EAGAIN)) return;
    if (r < 0) {
        p.demuxDone = true;
        if (p.video) Decode(p, p.video, nullptr);
        if (p.audio) Decode(p, p.audio, nullptr);
        p.videoDone = p.audioDone = true;
        return;
    }
    if (p.packet->stream_index == p.videoIndex && !p.videoDone)
        Decode(p, p.video, p.packet);
    else if (p.packet->stream_index == p.audioIndex && !p.audioDone)
        Decode(p, p.audio, p.packet);
    av_packet_unref(p.packet);
}

bool WantSound(const Player& p) {
    return p.voice >= 0 && !p.audioDone && FifoFrames(p) < p.ringFrames / kLeadDivisor;
}

// --- the clock --------------------------------------------------------------------

// The movie time reached, in microseconds (decode thread, while started).
// The voice's play position is followed whenever there is a voice, so that
// played sound is cleared even after the clock has left it.
int64_t ClockUs(Player& p) {
    if (p.flags & PLAT_MOVIE_UNTIMED) return INT64_MAX;
    uint64_t now = Now();
    if (p.voice >= 0) {
        uint32_t pos = Plat_VoicePosition(p.voice) / (kChannels * 2);
        if (pos != p.lastPos) {
            p.played += pos >= p.lastPos ? pos - p.lastPos : p.ringFrames - p.lastPos + pos;
            p.lastPos = pos;
            p.lastMoveUs = now;
        } else if (p.soundClock && now - p.lastMoveUs > uint64_t(kStalledClockUs)) {
            // No device is mixing: the monotonic clock takes over from here.
            p.soundClock = false;
            p.wallUs = int64_t(p.played * 1000000 / p.rate);
            p.wallBase = now;
        }
    }
    if (p.soundClock) return int64_t(p.played * 1000000 / p.rate);
    return p.wallUs + int64_t(now - p.wallBase);
}

// One step of the pipeline at clock `now`: publishes the pictures due (only
// the newest of them unless untimed), decodes when a picture or sound is
// wanted. Returns the microseconds to wait, 0 to go on at once, or -1 once
// everything is presented.
int64_t Step(Player& p, int64_t now) {
    FeedSound(p);
    const bool untimed = p.flags & PLAT_MOVIE_UNTIMED;
    AVFrame* due = nullptr;
    while (!p.queue.empty() && PictureUs(p, p.queue.front()) <= now) {
        if (due) {
            if (untimed) Publish(p, due);
            av_frame_free(&due);
        }
        due = p.queue.front();
        p.lastPictureUs = PictureUs(p, due);
        p.queue.pop_front();
    }
    if (due) {
        Publish(p, due);
        av_frame_free(&due);
        // A timed player's position is its clock, which the picture due never
        // passes; an untimed one has no clock, so its picture is its position.
        if (untimed) p.positionUs.store(std::max<int64_t>(0, p.lastPictureUs), std::memory_order_relaxed);
    }
    bool wantPicture = p.queue.empty() && !p.videoDone;
    if ((untimed || wantPicture || WantSound(p)) && p.queue.size() < kMaxQueued && !p.demuxDone) {
        ReadStep(p);
        return 0;
    }
    if (p.queue.empty() && p.videoDone && SoundPlayedOut(p)) return -1;
    if (untimed) return 0;
    int64_t wait = kPollUs;
    if (!p.queue.empty()) wait = std::clamp<int64_t>(PictureUs(p, p.queue.front()) - now, 0, kPollUs);
    return wait;
}

bool Prerolled(const Player& p) {
    bool picture = !p.queue.empty() || p.videoDone;
    bool sound = p.voice < 0 || p.audioDone || FifoFrames(p) >= p.ringFrames / kLeadDivisor;
    return (picture && sound) || p.queue.size() >= kMaxQueued || p.demuxDone;
}

void Notify(Player& p, int32_t event) {
    std::lock_guard<std::mutex> hold(p.mutex);
    if (!p.quit.load() && p.notify) p.notify(p.cookie, event);
}

void Run(Player* p) {
    while (!p->quit.load(std::memory_order_acquire) && !Prerolled(*p)) ReadStep(*p);
    FeedSound(*p);
    Notify(*p, PLAT_MOVIE_EV_READY);
    for (;;) {
        int64_t wait = 20000;
        int64_t now;
        {
            // The clock is read under the lock a pause takes, so the position
            // a pause leaves is the one it holds.
            std::unique_lock<std::mutex> hold(p->mutex);
            if (p->quit.load()) break;
            int32_t state = p->state.load();
            if (state != PLAT_MOVIE_STARTED) {
                if (p->wallRunning) p->wallUs += int64_t(Now() - p->wallBase);
                p->wallRunning = false;
                p->cv.wait_for(hold, std::chrono::microseconds(wait));
                continue;
            }
            if (!p->wallRunning) {
                p->wallBase = Now();
                p->lastMoveUs = p->wallBase;  // the voice has just been started
                p->wallRunning = true;
            }
            now = ClockUs(*p);
            if (!(p->flags & PLAT_MOVIE_UNTIMED)) p->positionUs.store(now, std::memory_order_relaxed);
        }
        wait = Step(*p, now);
        if (wait < 0) {
            int32_t started = PLAT_MOVIE_STARTED;
            if (p->state.compare_exchange_strong(started, PLAT_MOVIE_ENDED)) Notify(*p, PLAT_MOVIE_EV_ENDED);
            continue;
        }
        if (wait > 0) {
            std::unique_lock<std::mutex> hold(p->mutex);
            if (!p->quit.load() && p->state.load() == PLAT_MOVIE_STARTED)
                p->cv.wait_for(hold, std::chrono::microseconds(wait));
        }
    }
    bool orphan;
    {
        std::lock_guard<std::mutex> hold(p->mutex);
        p->done = true;
        orphan = p->orphaned;
        p->cv.notify_all();
    }
    if (orphan) Destroy(p);
}

// --- the FFmpeg back end ------------------------------------------------------------

int32_t FfOpen(const void* data, uint32_t size, uint32_t flags, PlatMovieNotify notify, uint64_t cookie) {
    int32_t slot = 0;
    while (slot < kPlatMovieSlots && g_players[slot]) ++slot;
    if (slot == kPlatMovieSlots) return -1;
    Player* p = Create(data, size, flags, 1);
    if (!p) return -1;
    p->notify = notify;
    p->cookie = cookie;
    try {
        p->thread = std::thread(Run, p);
    } catch (const std::system_error&) {
        Destroy(p);
        return -1;
    }
    g_players[slot] = p;
    return slot;
}

bool FfStart(int32_t movie) {
    Player* p = At(movie);
    if (!p) return false;
    std::lock_guard<std::mutex> hold(p->mutex);
    int32_t s = p->state.load();
    if (s == PLAT_MOVIE_ENDED) return false;
    if (s != PLAT_MOVIE_STARTED) {
        p->state.store(PLAT_MOVIE_STARTED);
        if (p->voice >= 0) Plat_VoicePlay(p->voice, true);
    }
    p->cv.notify_all();
    return true;
}

bool FfPause(int32_t movie) {
    Player* p = At(movie);
    if (!p) return false;
    std::lock_guard<std::mutex> hold(p->mutex);
    int32_t s = p->state.load();
    if (s == PLAT_MOVIE_ENDED) return false;
    p->state.store(PLAT_MOVIE_PAUSED);
    if (p->voice >= 0) Plat_VoiceStop(p->voice);
    p->cv.notify_all();
    return true;
}

bool FfStop(int32_t movie) {
    Player* p = At(movie);
    if (!p) return false;
    std::lock_guard<std::mutex> hold(p->mutex);
    p->state.store(PLAT_MOVIE_ENDED);
    if (p->voice >= 0) Plat_VoiceStop(p->voice);
    p->cv.notify_all();
    return true;
}

bool FfClose(int32_t movie, uint32_t timeoutMs) {
    Player* p = At(movie);
    if (!p) return false;
    g_players[movie] = nullptr;
    if (p->voice >= 0) Plat_VoiceStop(p->voice);
    std::unique_lock<std::mutex> hold(p->mutex);
    p->quit.store(true, std::memory_order_release);
    p->cv.notify_all();
    if (!p->cv.wait_for(hold, std::chrono::milliseconds(timeoutMs), [p] { return p->done; })) {
        // The thread frees the player when it ends.
        p->orphaned = true;
        p->thread.detach();
        return false;
    }
    hold.unlock();
    p->thread.join();
    Destroy(p);
    return true;
}

bool FfGetVolume(int32_t movie, float* gain) {
    Player* p = At(movie);
    if (!p || !gain) return false;
    *gain = p->gain.load();
    return true;
}

bool FfSetVolume(int32_t movie, float gain) {
    Player* p = At(movie);
    if (!p) return false;
    gain = std::clamp(gain, 0.0f, 1.0f);
    p->gain.store(gain);
    if (p->voice >= 0) Plat_VoiceSetVolume(p->voice, MilliBel(gain));
    return true;
}

bool FfLockFrame(int32_t movie, PlatMovieFrame* out) {
    Player* p = At(movie);
    if (!p || !out) return false;
    std::lock_guard<std::mutex> hold(p->frameMutex);
    if (p->ready < 0) return false;
    p->held = p->ready;
    const Picture& pic = p->pictures[p->held];
    *out = PlatMovieFrame{};
    out->format = pic.format;
    if (pic.format == PLAT_MOVIE_BGRA) {
        out->planes[0] = pic.pixels;
        out->strides[0] = pic.stride;
    } else {
        for (int i = 0; i < 3; ++i) {
            out->planes[i] = pic.frame->data[i];
            out->strides[i] = uint32_t(pic.frame->linesize[i]);
        }
    }
    out->width = pic.width;
    out->height = pic.height;
    out->matrix = pic.matrix;
    out->fullRange = pic.fullRange;
    out->aspect = pic.aspect;
    out->serial = p->serial;
    return true;
}

void FfUnlockFrame(int32_t movie) {
    Player* p = At(movie);
    if (!p) return;
    std::lock_guard<std::mutex> hold(p->frameMutex);
    p->held = -1;
}

const PlatMovieBackend kFfmpeg = {FfOpen,      FfStart,     FfPause,     FfStop,       FfClose,
                                  FfGetVolume, FfSetVolume, FfLockFrame, FfUnlockFrame};
// process-wide: a test seam (Plat_MovieSetBackend)
const PlatMovieBackend* g_backend = &kFfmpeg;

}  // namespace

void Plat_MovieSetBackend(const PlatMovieBackend* backend) { g_backend = backend ? backend : &kFfmpeg; }
void Plat_MovieSetClock(uint64_t (*now)()) { g_clock.store(now ? now : Plat_MonotonicUs, std::memory_order_release); }

int32_t Plat_MovieOpen(const void* data, uint32_t size, uint32_t flags, PlatMovieNotify notify, uint64_t cookie) {
    return g_backend->open(data, size, flags, notify, cookie);
}
bool Plat_MovieStart(int32_t movie) { return g_backend->start(movie); }
bool Plat_MoviePause(int32_t movie) { return g_backend->pause(movie); }
bool Plat_MovieStop(int32_t movie) { return g_backend->stop(movie); }
bool Plat_MovieClose(int32_t movie, uint32_t timeoutMs) { return g_backend->close(movie, timeoutMs); }
bool Plat_MovieGetVolume(int32_t movie, float* gain) { return g_backend->getVolume(movie, gain); }
bool Plat_MovieSetVolume(int32_t movie, float gain) { return g_backend->setVolume(movie, gain); }
bool Plat_MovieLockFrame(int32_t movie, PlatMovieFrame* out) { return g_backend->lockFrame(movie, out); }
void Plat_MovieUnlockFrame(int32_t movie) { g_backend->unlockFrame(movie); }

PlatMovieState Plat_MovieGetState(int32_t movie) {
    Player* p = At(movie);
    return p ? PlatMovieState(p->state.load()) : PLAT_MOVIE_CLOSED;
}

int64_t Plat_MoviePositionUs(int32_t movie) {
    Player* p = At(movie);
    return p ? p->positionUs.load(std::memory_order_relaxed) : -1;
}

bool Plat_MovieDecodeAll(const void* data, uint32_t size, int threads, PlatMovieStats* stats) {
    if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
    Player* p = Create(data, size, PLAT_MOVIE_UNTIMED, threads);
    if (!p) return false;
    while (Step(*p, INT64_MAX) >= 0) {
    }
    if (stats) *stats = p->stats;
    Destroy(p);
    return true;
}

bool Plat_MovieWindowMinimised() {
    auto* window = static_cast<SDL_Window*>(Plat_GLWindow());
    return window && (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED);
}

bool Plat_MovieWindowFocused() {
    auto* window = static_cast<SDL_Window*>(Plat_GLWindow());
    return window && (SDL_GetWindowFlags(window) & SDL_WINDOW_INPUT_FOCUS);
}
