// Movie playback: one movie at a time, read whole into memory by the file
// loader and played by the platform's movie player (platform/plat_movie.h).
// The game thread drives it once a frame with Lib_MovieUpdate, which also
// presents the newest picture to the whole window while the drawing tasks
// stand aside. The player's events reach the game thread as messages of type
// kMovieEventMsg on its queue.
//
// Callers start a movie with Lib_MoviePlay, watch MovieState and stop it by
// writing MOVIE_STOP_REQUESTED while MovieSpriteSlot is 0 or more.
#pragma once

#include <atomic>
#include <cstdint>

enum : int32_t {
    MOVIE_IDLE = 0,
    MOVIE_STOP_REQUESTED = 1,
    MOVIE_WAITING_FILE = 2,
    MOVIE_PLAYING = 3,  // also while a failed open leaves the window black
    MOVIE_PAUSED = 4,
};

// States of the movie's player record.
enum : uint32_t {
    PLAYER_CLOSED = 0,
    PLAYER_READY = 1,      // a player exists and its events are listened to
    PLAYER_OPEN_PENDING = 2,
    PLAYER_STARTED = 3,
    PLAYER_PAUSED = 4,
    PLAYER_STOPPED = 5,    // the movie ended or was stopped
    PLAYER_CLOSING = 6,
};

// Player events, as the message's a; b is the player's serial.
enum : int64_t {
    MOVIE_EVENT_TOPOLOGY_STATUS = 111,  // the streams are ready to start
    MOVIE_EVENT_PRESENTATION_ENDED = 211,
};
inline constexpr uint32_t kMovieEventMsg = 0x8001;
inline constexpr uint32_t kMovieCloseWaitMs = 5000;

struct CPlayer;

extern std::atomic<int32_t> MovieState;
extern std::atomic<int32_t> MovieSpriteSlot;
extern int32_t MovieLoadSlot;          // the file request, -1 none
extern void* MovieData;                // the loaded file (heap 1), owned by the movie
extern uint32_t MovieDataSize;
extern CPlayer* MoviePlayer;
extern std::atomic<float> MovieVolume;  // 0..1, 1 at start

// Start-up: no movie; registers the player's message handler.
void Lib_MovieInit();
// Starts a movie (name for the file loader, draw priority of its sprite
// record); ignored while a movie is active or when no sprite record is free.
void Lib_MoviePlay(const char* name, int32_t priority);
// Once a frame on the game thread.
void Lib_MovieUpdate();
// Tears the movie down: player, sprite record, file request and data.
void Lib_MovieStop();
// Pause and resume for the story screen: pause while the player runs,
// resume a paused player (MovieState back to 3).
void Lib_MoviePause();
void Lib_MovieResume();
// The player record's state, PLAYER_CLOSED without a player.
uint32_t Lib_MoviePlayerState();
// Draws the newest picture (black without one) to the whole window target,
// keeping the movie's aspect; does not present.
void Lib_MoviePaint();

// What the volume rule asks of the window; tests replace it.
struct MovieWindowOps {
    bool (*minimised)();
    bool (*foreground)();
};
// Null restores the real window.
void Lib_MovieWindowOpsSet(const MovieWindowOps* ops);

// A movie is active while it holds a sprite record and is not idle.
inline bool Lib_MovieActive() {
    return MovieSpriteSlot.load(std::memory_order_acquire) >= 0 &&
           MovieState.load(std::memory_order_acquire) != MOVIE_IDLE;
}
