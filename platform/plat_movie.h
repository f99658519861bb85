// Our movie player on FFmpeg. The open copies the whole file; libavformat
// demuxes the copy through a custom AVIOContext (read and seek over memory),
// and the player's own thread decodes the first video and audio streams,
// publishes pictures as they come out of the decoder when they are planar
// 4:2:0 or 4:2:2 YUV (the drawing converts them) and converts any other
// picture to BGRA with libswscale, and resamples sound with
// libswresample into the mixer's movie voice (16-bit stereo at the mixer's
// rate, played as a looping ring). Pictures are published when the clock
// reaches them: the voice's play position when there is sound to play,
// otherwise the monotonic clock (Plat_MovieSetClock). Late pictures are
// dropped unpublished.
//
// Players are addressed by handle 0..kPlatMovieSlots-1. Every call is made
// from one thread (the game thread); the notify callback comes from the
// player's thread, never once the close has begun.
#pragma once

#include <cstdint>

inline constexpr int32_t kPlatMovieSlots = 4;
// Longest a close waits for the player's thread; it then leaves the thread to
// free the player by itself.
inline constexpr uint32_t kPlatMovieCloseWaitMs = 5000;

enum PlatMovieEvent : int32_t {
    PLAT_MOVIE_EV_READY = 1,  // streams open and the first picture decoded: start may follow
    PLAT_MOVIE_EV_ENDED = 2,  // every picture shown and the sound played out
};
using PlatMovieNotify = void (*)(uint64_t cookie, int32_t event);

enum PlatMovieState : int32_t {
    PLAT_MOVIE_CLOSED = 0,
    PLAT_MOVIE_OPENED = 1,
    PLAT_MOVIE_STARTED = 2,
    PLAT_MOVIE_PAUSED = 3,
    PLAT_MOVIE_ENDED = 4,  // by the end of the streams or by a stop
};

// Open flags.
enum : uint32_t {
    // No clock: every picture is converted and published as soon as it is
    // decoded; sound is resampled and discarded (benchmarks).
    PLAT_MOVIE_UNTIMED = 1,
};

enum PlatMovieFormat : int32_t {
    PLAT_MOVIE_BGRA = 0,    // plane 0 only
    PLAT_MOVIE_YUV420 = 1,  // planes Y, U, V; U and V half as wide and half as high
    PLAT_MOVIE_YUV422 = 2,  // planes Y, U, V; U and V half as wide
};

// How YUV pictures map to RGB.
enum PlatMovieMatrix : int32_t {
    PLAT_MOVIE_BT601 = 0,
    PLAT_MOVIE_BT709 = 1,
};

// The newest published picture, valid between lock and unlock.
struct PlatMovieFrame {
    int32_t format;              // PlatMovieFormat
    const uint8_t* planes[3];    // top row first
    uint32_t strides[3];         // bytes from one row to the next
    int32_t width, height;       // of the picture (the Y plane)
    int32_t matrix;              // PlatMovieMatrix (YUV)
    bool fullRange;              // YUV levels 0..255, otherwise 16..235 (240 for U, V)
    float aspect;                // display width / display height
    uint64_t serial;             // 1 for the first picture published, then +1 each
};

struct PlatMovieStats {
    uint64_t pictures;      // decoded
    uint64_t converted;     // published (YUV as decoded, anything else converted to BGRA)
    uint64_t soundFrames;   // resampled stereo frames
    int64_t durationUs;     // the container's duration, -1 unknown
};

// The player's operations; tests install their own.
struct PlatMovieBackend {
    int32_t (*open)(const void* data, uint32_t size, uint32_t flags, PlatMovieNotify notify, uint64_t cookie);
    bool (*start)(int32_t movie);
    bool (*pause)(int32_t movie);
    bool (*stop)(int32_t movie);
    bool (*close)(int32_t movie, uint32_t timeoutMs);
    bool (*getVolume)(int32_t movie, float* gain);
    bool (*setVolume)(int32_t movie, float gain);
    bool (*lockFrame)(int32_t movie, PlatMovieFrame* out);
    void (*unlockFrame)(int32_t movie);
};
// Null restores the FFmpeg player.
void Plat_MovieSetBackend(const PlatMovieBackend* backend);
// The monotonic clock the FFmpeg players read on their threads, in
// microseconds, at every step they take while started; null restores
// Plat_MonotonicUs. Tests drive a movie's time with it.
void Plat_MovieSetClock(uint64_t (*now)());

// Opens a movie from memory (copied). Handle, or -1 when the data holds no
// video or audio stream that can be decoded, or no slot or thread is left.
// The player decodes ahead at once and notifies READY; it plays from start.
int32_t Plat_MovieOpen(const void* data, uint32_t size, uint32_t flags, PlatMovieNotify notify, uint64_t cookie);
// Starts or resumes from the current position. False for a bad handle or an
// ended player.
bool Plat_MovieStart(int32_t movie);
bool Plat_MoviePause(int32_t movie);
// Stops presenting and sound; the player then only waits to be closed.
bool Plat_MovieStop(int32_t movie);
// Ends the player's thread and frees the player. True when the thread ended
// within timeoutMs; otherwise the thread frees the player when it ends.
bool Plat_MovieClose(int32_t movie, uint32_t timeoutMs);
// Gain of the movie's sound, 0..1 (the voice volume follows it).
bool Plat_MovieGetVolume(int32_t movie, float* gain);
bool Plat_MovieSetVolume(int32_t movie, float gain);
// The newest picture; false when none is published yet. Unlock before the
// next lock.
bool Plat_MovieLockFrame(int32_t movie, PlatMovieFrame* out);
void Plat_MovieUnlockFrame(int32_t movie);

// The FFmpeg player's own state (PLAT_MOVIE_CLOSED for a bad handle).
PlatMovieState Plat_MovieGetState(int32_t movie);
// The movie time the player's clock has reached, in microseconds; -1 for a
// bad handle.
int64_t Plat_MoviePositionUs(int32_t movie);

// The whole pipeline on the calling thread, untimed: demux, decode, publish
// every picture, resample the sound. False when the data cannot be opened.
// `threads` decoder threads (0: as many as the machine has).
bool Plat_MovieDecodeAll(const void* data, uint32_t size, int threads, PlatMovieStats* stats);

// The application window as the movie's volume rule sees it.
bool Plat_MovieWindowMinimised();
bool Plat_MovieWindowFocused();
