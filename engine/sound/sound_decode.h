// Reading sound files as the worker does: ".wav" files with an optional
// 8-byte loop trailer, and Ogg Vorbis (".ogg", and ".oggl" with its trailer)
// decoded whole through libvorbisfile from memory.
//
// ".wav" as read here (little-endian): the format's 16 bytes at 20; "data" at
// 36 with the data size at 40 and the samples at 44, otherwise the size at 42
// and the samples at 46 (an 18-byte format chunk); no other chunk is looked
// for. The loop trailer (u32 start, u32 end, in frames) follows the samples
// when the file ends exactly 8 bytes after them. ".oggl" files end with the
// same 8 bytes after the Ogg stream.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "platform/plat_audio.h"

// The longest sound a game plays, as 16-bit PCM: about 23 minutes of 48 kHz
// stereo. A file that holds or decodes to more is refused.
inline constexpr uint32_t kSoundMaxPcmBytes = 256u * 1024 * 1024;

struct SoundPcm {
    PlatPcmFormat format;
    const uint8_t* pcm;  // inside the file, or the decoded block
    uint32_t pcmBytes;
    void* decoded;  // heap-1 block of decoded PCM (the caller frees it), or null
    bool hasTrailer;
    uint32_t loopStart, loopEnd;  // frames, from a trailer
};

// Each returns null on success, else the name for the failure's debug line
// ("wav", "ogg", "oggl", "Lib_MemAlloc"); on failure nothing stays allocated.
// Loop points beyond the PCM are refused.
const char* Lib_SoundParseWav(const uint8_t* file, uint32_t size, SoundPcm* out);
const char* Lib_SoundDecodeOgg(const uint8_t* file, uint32_t size, bool oggl, SoundPcm* out);

// The memory stream the decoder reads from; the datasource handed to
// libvorbisfile is the address of a pointer to it.
struct OggMemStream {
    const uint8_t* data;
    int32_t size;
    int32_t position;
};
size_t Lib_SoundOggRead(void* dst, size_t elementSize, size_t count, void* source);
// Whence 0, 1, 2 with the offset's low 32 bits; -1 (position clamped) when
// the target lies outside the stream or whence is another value.
int Lib_SoundOggSeek(void* source, ogg_int64_t offset, int whence);
long Lib_SoundOggTell(void* source);
