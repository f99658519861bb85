// Sound files as the worker reads them, from arbitrary bytes: the first byte
// picks ".wav", ".ogg" or ".oggl"; the rest is the file. Whatever is
// delivered must lie inside the file (or the decoded block), with loop points
// inside the PCM, and a decoded block is freed again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/sound/sound_decode.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckLoop(const SoundPcm& s) {
    if (!s.hasTrailer) return;
    uint64_t frame = uint64_t(s.format.channels) * 2;
    Check(s.loopStart * frame <= s.pcmBytes && s.loopEnd * frame <= s.pcmBytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {4 * mib, 64 * mib, 2 * mib, 2 * mib, 4 * mib};
    return Lib_MemInit(sizes) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    // An exact-size copy, so that any read past the file is caught.
    std::vector<uint8_t> file(data + 1, data + size);
    const uint8_t* start = file.empty() ? nullptr : file.data();
    uint32_t n = uint32_t(file.size());
    SoundPcm pcm;
    if (data[0] % 3 == 0) {
        if (!Lib_SoundParseWav(start, n, &pcm)) {
            Check(pcm.pcm >= start && uint64_t(pcm.pcm - start) + pcm.pcmBytes <= n);
            Check(pcm.format.channels != 0 && pcm.decoded == nullptr);
            CheckLoop(pcm);
        }
        return 0;
    }
    uint64_t before = HeapTable.heaps[HEAP_FILE].bytesInUse;
    if (!Lib_SoundDecodeOgg(start, n, data[0] % 3 == 2, &pcm)) {
        Check(pcm.decoded == pcm.pcm && pcm.decoded != nullptr);
        Check(pcm.format.channels >= 1 && pcm.format.blockAlign == pcm.format.channels * 2);
        CheckLoop(pcm);
        volatile uint8_t sink = 0;
        if (pcm.pcmBytes) sink = sink + pcm.pcm[pcm.pcmBytes - 1];
        Lib_MemFree(HEAP_FILE, pcm.decoded);
    }
    Check(HeapTable.heaps[HEAP_FILE].bytesInUse == before);
    return 0;
}
