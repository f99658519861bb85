// Movie files from arbitrary bytes through the player's whole pipeline on
// the calling thread: the memory AVIOContext (reads and seeks), demuxing,
// decoding, BGRA conversion and resampling. No more pictures may be converted
// than were decoded.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/plat_movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> file(data, data + size);
    PlatMovieStats stats{};
    if (Plat_MovieDecodeAll(file.data(), uint32_t(file.size()), 1, &stats) && stats.converted > stats.pictures)
        std::abort();
    return 0;
}
