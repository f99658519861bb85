// The mixer with all 23 channels playing, and the worker's whole-file Ogg
// Vorbis decode against libvorbisfile's own ov_read loop on the same file.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/sound/sound_decode.h"
#include "platform/plat_audio.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kChunk = 1024;

// core_pct: the share of one core the mixer needs to keep up with the device.
void BM_Mix23Voices(benchmark::State& state) {
    Plat_AudioOpenNull(kPlatMixRate);
    const uint32_t rates[] = {22050, 44100, 48000, 32000, 11025, 24000};
    std::vector<int16_t> pcm(2 * 44100 * 3);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t((i * 37) % 20000 - 10000);
    for (int v = 0; v < 23; ++v) {
        uint16_t ch = uint16_t(1 + v % 2);
        uint32_t rate = rates[v % 6];
        PlatPcmFormat f{1, ch, rate, rate * ch * 2, uint16_t(ch * 2), 16};
        uint32_t bytes = rate * ch * 2 * 2;  // two seconds, looping
        int32_t voice = Plat_VoiceCreate(f, bytes);
        Plat_VoiceFill(voice, 0, pcm.data(), bytes);
        Plat_VoiceSetVolume(voice, -(v * 100));
        Plat_VoicePlay(voice, true);
    }
    std::vector<int16_t> out(kChunk * 2);
    for (auto _ : state) {
        Plat_AudioMix(out.data(), kChunk);
        benchmark::DoNotOptimize(out.data());
    }
    double chunkSeconds = double(kChunk) / kPlatMixRate;
    state.counters["core_pct"] = benchmark::Counter(
        chunkSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    Plat_AudioClose();
}
BENCHMARK(BM_Mix23Voices);

// A 3-minute stereo Ogg Vorbis file at 44.1 kHz, written once by the tool.
const std::string& ThreeMinuteOgg() {
    static std::string path = [] {
        fs::path root = fs::path(__FILE__).parent_path().parent_path();
        std::string name = "vn_sound_bench_" + std::to_string(::getpid()) + ".ogg";
        std::string p = (fs::temp_directory_path() / name).string();
        std::string cmd = "python3 " + (root / "tools/sound_data.py").string() + " ogg " + p +
                          " --rate 44100 --channels 2 --seconds 180 --melody --quality 0.4";
        if (std::system(cmd.c_str()) != 0) std::abort();
        static struct Cleanup {
            std::string file;
            ~Cleanup() { fs::remove(file); }
        } cleanup{p};
        return p;
    }();
    return path;
}

void BM_OggDecodeWorker(benchmark::State& state) {
    const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 96 * kMiB, 2 * kMiB, 8 * kMiB, 8 * kMiB};
    Lib_MemInit(sizes);
    std::ifstream in(ThreeMinuteOgg(), std::ios::binary);
    std::string file{std::istreambuf_iterator<char>(in), {}};
    for (auto _ : state) {
        SoundPcm pcm;
        if (Lib_SoundDecodeOgg(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()), false, &pcm))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pcm.pcm);
        Lib_MemFree(HEAP_FILE, pcm.decoded);
    }
    Lib_MemRelease();
}
BENCHMARK(BM_OggDecodeWorker)->Unit(benchmark::kMillisecond);

void BM_OggDecodeVorbisfile(benchmark::State& state) {
    const std::string& path = ThreeMinuteOgg();
    for (auto _ : state) {
        OggVorbis_File vf;
        if (ov_fopen(path.c_str(), &vf) != 0) state.SkipWithError("ov_fopen failed");
        vorbis_info* info = ov_info(&vf, -1);
        size_t bytes = size_t(ov_pcm_total(&vf, -1)) * size_t(info->channels) * 2;
        std::unique_ptr<char[]> out(new char[bytes]);
        size_t at = 0;
        int bitstream = 0;
        while (at < bytes) {
            long n = ov_read(&vf, out.get() + at, int(bytes - at), 0, 2, 1, &bitstream);
            if (n < 1) break;
            at += size_t(n);
        }
        benchmark::DoNotOptimize(out.get());
        ov_clear(&vf);
    }
}
BENCHMARK(BM_OggDecodeVorbisfile)->Unit(benchmark::kMillisecond);

}  // namespace
