// Movie playback state, read once a frame by the drawing tasks.
#pragma once

#include <atomic>
#include <cstdint>

enum : int32_t {
    MOVIE_IDLE = 0,
    MOVIE_STOP_REQUESTED = 1,
    MOVIE_WAITING_FILE = 2,
    MOVIE_PLAYING = 3,
    MOVIE_PAUSED = 4,
};

extern std::atomic<int32_t> MovieState;
extern std::atomic<int32_t> MovieSpriteSlot;

// Start-up: no movie.
void Lib_MovieInit();
// Once a frame on the game thread.
void Lib_MovieUpdate();
void Lib_MovieStop();

// A movie is active while it holds a sprite record and is not idle.
inline bool Lib_MovieActive() {
    return MovieSpriteSlot.load(std::memory_order_acquire) >= 0 &&
           MovieState.load(std::memory_order_acquire) != MOVIE_IDLE;
}
