// Sounds taken from a ".arc" container made of arbitrary bytes, as the sound
// worker plays them: the container is loaded into the named cache, its first
// members are played on channels of their own (once, repeated or looping by
// their loop points), and the mixer runs without a device over whatever
// format, length and loop points the members bring. Positions must stay
// inside the voices, every sound must end when stopped, and nothing may stay
// allocated afterwards.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/container.h"
#include "engine/files/file_loader.h"
#include "engine/sound/sound.h"
#include "fuzz/fuzz_scratch.h"
#include "platform/plat_audio.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

uint64_t g_nowUs = 1000000;
uint64_t Now() { return g_nowUs; }
void Quiet(const char*) {}

constexpr int32_t kChannels = 4;
const char kPack[] = "user/pack.arc";
std::string g_path;
int16_t g_mix[2 * 4096];

void Mix(int times) {
    for (int i = 0; i < times; ++i) {
        Plat_AudioMix(g_mix, 4096);
        Lib_SoundWorkPass();
        g_nowUs += 20000;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_sound_pack_fuzz");
    std::filesystem::create_directories("user");
    g_path = fuzz_scratch::Folder() + "/" + kPack;
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {4 * mib, 64 * mib, 2 * mib, 8 * mib, 4 * mib};
    Check(Lib_MemInit(sizes));
    Lib_DebugSetSink(Quiet);
    Check(Plat_AudioOpenNull(48000));
    Lib_SoundSetClock(Now);
    Lib_SoundReset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FILE* f = std::fopen(g_path.c_str(), "wb");
    Check(f != nullptr);
    if (size) Check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
    const uint64_t heapBefore = HeapTable.heaps[HEAP_FILE].bytesInUse;

    char name[sizeof kPack];
    std::memcpy(name, kPack, sizeof kPack);
    void* cached = nullptr;
    uint32_t cachedSize = 0;
    if (Lib_FileLoad(kFileTypeCache, name, &cached, &cachedSize, 256, false)) {
        ArcView arc;
        if (Lib_ArcOpen(&arc, cached, cachedSize)) {
            uint32_t members = std::min<uint32_t>(arc.count, kChannels);
            for (uint32_t i = 0; i < members; ++i) {
                // The directory was checked: every name ends inside its 64 bytes.
                const char* member = reinterpret_cast<const char*>(arc.data + 8 + 72 * i);
                const int32_t repeats[] = {-1, 0, 2};
                Lib_SoundPlay(int32_t(i), member, 0, repeats[i % 3], i == 1 ? 30 : 0, 0, kPack);
            }
            Mix(3);
            for (int32_t c = 0; c < kChannels; ++c) {
                SoundChannel& ch = SoundChannelTable[c];
                if (ch.voice >= 0) Check(Plat_VoicePosition(ch.voice) <= ch.pcmBytes + 4 * 255);
                Lib_SoundStop(c, 1);
            }
            Mix(4);
        }
    }
    for (int32_t c = 0; c < kChannels; ++c) {
        const SoundChannel& ch = SoundChannelTable[c];
        Check(ch.voice < 0 && ch.st.state.load() == SOUND_IDLE && ch.st.flags.load() == 0);
    }
    Lib_CashFreeGroup(0);
    Check(HeapTable.heaps[HEAP_CACHE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_FILE].bytesInUse == heapBefore);
    return 0;
}
