#include "engine/movie/movie.h"

std::atomic<int32_t> MovieState{MOVIE_IDLE};
std::atomic<int32_t> MovieSpriteSlot{-1};

void Lib_MovieInit() {
    MovieSpriteSlot.store(-1);
    MovieState.store(MOVIE_IDLE);
}

// No player exists yet, so a movie can never start; a stop request only
// returns the state to idle.
void Lib_MovieUpdate() {
    if (MovieState.load() == MOVIE_STOP_REQUESTED) Lib_MovieStop();
}

void Lib_MovieStop() {
    MovieSpriteSlot.store(-1);
    MovieState.store(MOVIE_IDLE);
}
