// The mixer: voices mixed by hand without a device, and through SDL's disk
// audio driver, whose output file holds exactly the mixed bytes.
#include "platform/plat_audio.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/core/worker_wait.h"

namespace {

PlatPcmFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits = 16) {
    uint16_t align = uint16_t(channels * bits / 8);
    return PlatPcmFormat{1, channels, rate, rate * align, align, bits};
}

int32_t MakeVoice(const PlatPcmFormat& f, const void* data, uint32_t bytes) {
    int32_t v = Plat_VoiceCreate(f, bytes);
    EXPECT_TRUE(Plat_VoiceFill(v, 0, data, bytes));
    return v;
}

std::vector<int16_t> Mix(uint32_t frames) {
    std::vector<int16_t> out(frames * 2);
    Plat_AudioMix(out.data(), frames);
    return out;
}

class PlatAudioTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Plat_AudioOpenNull(48000)); }
    void TearDown() override { Plat_AudioClose(); }
};

TEST_F(PlatAudioTest, PositionsLoopsAndVolumes) {
    std::vector<int16_t> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[i] = int16_t(i);
    int32_t v = MakeVoice(Pcm(1, 48000), ramp.data(), 2000);
    EXPECT_EQ(Mix(4), std::vector<int16_t>(8, 0));  // not playing yet
    Plat_VoicePlay(v, true);
    std::vector<int16_t> out = Mix(300);
    EXPECT_EQ(out[2 * 299], 299);
    EXPECT_EQ(out[2 * 299 + 1], 299);  // mono on both sides, unchanged at 0 mB
    Plat_VoiceStop(v);
    Mix(300);
    EXPECT_EQ(Plat_VoicePosition(v), 600u);  // a stop keeps the position
    Plat_VoicePlay(v, true);
    out = Mix(800);
    EXPECT_EQ(out[0], 300);
    EXPECT_EQ(out[2 * 700], 0);  // looping wraps to the start
    EXPECT_EQ(Plat_VoicePosition(v), 200u);

    // A loop region: reaching its end goes on from its start, exactly.
    EXPECT_FALSE(Plat_VoiceSetLoop(v, 400, 400));
    EXPECT_FALSE(Plat_VoiceSetLoop(v, 0, 2002));
    ASSERT_TRUE(Plat_VoiceSetLoop(v, 200, 400));  // frames 100..199
    Plat_VoiceStop(v);
    Plat_VoiceSetPosition(v, 360);
    Plat_VoiceSetPosition(v, 5000);  // past the end: ignored
    Plat_VoicePlay(v, false);
    out = Mix(130);
    EXPECT_EQ(out[0], 180);
    EXPECT_EQ(out[2 * 19], 199);
    EXPECT_EQ(out[2 * 20], 100);
    EXPECT_EQ(out[2 * 129], 109);

    // Without the region a one-shot voice ends, back at position 0.
    Plat_VoiceStop(v);
    Plat_VoiceSetLoop(v, 0, 0);
    Plat_VoiceSetVolume(v, -602);
    Plat_VoicePlay(v, false);
    out = Mix(1000);
    EXPECT_EQ(out[2 * 100], 105);  // 210 at gain 10^(-602/2000) = 0.4999
    EXPECT_EQ(out[2 * 890], 0);
    EXPECT_FALSE(Plat_VoiceIsPlaying(v));
    EXPECT_EQ(Plat_VoicePosition(v), 0u);
    Plat_VoiceSetVolume(v, -20000);
    EXPECT_EQ(Plat_VoiceGetVolume(v), -10000);
    EXPECT_EQ(Plat_AudioGain(-10000), 0.0f);

    std::vector<int16_t> loud(50, 30000);  // voices add up and clip
    int32_t w = MakeVoice(Pcm(1, 48000), loud.data(), 100), x = MakeVoice(Pcm(1, 48000), loud.data(), 100);
    Plat_VoicePlay(w, false);
    Plat_VoicePlay(x, false);
    EXPECT_EQ(Mix(4)[0], 32767);
}

TEST_F(PlatAudioTest, ResamplesAndRefusesBadVoices) {
    std::vector<int16_t> s = {0, 1000, 100, 2000, 200, 3000, 0, 0};  // 24 kHz stereo
    int32_t v = MakeVoice(Pcm(2, 24000), s.data(), 16);
    Plat_VoicePlay(v, false);
    EXPECT_EQ(Mix(5), (std::vector<int16_t>{0, 1000, 50, 1500, 100, 2000, 150, 2500, 200, 3000}));
    uint8_t u8[4] = {128, 192, 64, 128};  // 8-bit unsigned mono at 12 kHz
    int32_t w = MakeVoice(Pcm(1, 12000, 8), u8, 4);
    Plat_VoicePlay(w, false);
    std::vector<int16_t> out = Mix(8);
    EXPECT_EQ(out[0], 100);  // the stereo voice's last frames, then the 8-bit one alone
    EXPECT_EQ(out[2 * 2], 8192);
    EXPECT_EQ(out[2 * 7], -8192);

    PlatPcmFormat odd = Pcm(2, 48000);
    odd.blockAlign = 2;
    for (const PlatPcmFormat& f : {Pcm(3, 48000), Pcm(1, 48000, 24), Pcm(1, 50), odd})
        EXPECT_EQ(Plat_VoiceCreate(f, 64), -1);
    EXPECT_EQ(Plat_VoiceCreate(Pcm(2, 48000), 3), -1);  // less than a frame
    for (int i = 2; i < kPlatVoiceCount; ++i) EXPECT_EQ(Plat_VoiceCreate(Pcm(1, 44100), 64), i);
    EXPECT_EQ(Plat_VoiceCreate(Pcm(1, 44100), 64), -1);
    EXPECT_FALSE(Plat_VoiceFill(7, 60, u8, 8));
    Plat_AudioClose();
    EXPECT_EQ(Plat_VoiceCreate(Pcm(1, 44100), 64), -1);  // no mixer
}

// ALSA's error hook as a program that uses ALSA itself sets it: it keeps
// what ALSA reports.
std::string g_alsaSaid;
void KeepAlsaError(const char*, int, const char*, int, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_alsaSaid += line;
}

// SDL's disk driver writes exactly what the callback mixed: a known tone
// appears at its level and length, and nothing is heard without focus. ALSA's
// own error hook, silenced while SDL looks for a device, is back afterwards.
TEST(PlatAudioDiskTest, DeviceOutputHoldsTheToneAndFocusLossMutes) {
    using AlsaHook = void (*)(const char*, int, const char*, int, const char*, ...);
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    auto setHook = alsa ? reinterpret_cast<int (*)(AlsaHook)>(dlsym(alsa, "snd_lib_error_set_handler")) : nullptr;
    auto hook = alsa ? reinterpret_cast<AlsaHook*>(dlsym(alsa, "snd_lib_error")) : nullptr;
    auto openPcm = alsa ? reinterpret_cast<int (*)(void**, const char*, int, int)>(dlsym(alsa, "snd_pcm_open")) : nullptr;
    const AlsaHook hookBefore = hook ? *hook : nullptr;
    if (setHook) setHook(KeepAlsaError);

    std::string file =
        (std::filesystem::temp_directory_path() / ("vn_disk_audio_" + std::to_string(::getpid()))).string();
    const char* old = std::getenv("SDL_AUDIODRIVER");
    std::string keep = old ? old : "";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    bool opened = Plat_AudioOpen();
    old ? ::setenv("SDL_AUDIODRIVER", keep.c_str(), 1) : ::unsetenv("SDL_AUDIODRIVER");
    if (setHook && hook && openPcm) {
        void* pcm = nullptr;
        g_alsaSaid.clear();
        EXPECT_NE(openPcm(&pcm, "vn_no_such_pcm", 0, 0), 0);
        EXPECT_NE(g_alsaSaid.find("vn_no_such_pcm"), std::string::npos) << "ALSA's hook after the device search";
        setHook(hookBefore);
    }
    ASSERT_TRUE(opened);
    ASSERT_EQ(Plat_AudioRate(), kPlatMixRate);

    const uint32_t frames = 4800;  // 0.1 s of a +-6000 square wave, then silence
    std::vector<int16_t> sq(frames + 1, 0);
    for (uint32_t i = 0; i < frames; ++i) sq[i] = i % 48 < 24 ? 6000 : -6000;
    int32_t v = MakeVoice(Pcm(1, kPlatMixRate), sq.data(), uint32_t(sq.size() * 2));
    for (bool focus : {true, false}) {
        Plat_AudioSetFocus(focus);
        Plat_VoicePlay(v, false);
        EXPECT_GE(WorkerUntil([v] { return !Plat_VoiceIsPlaying(v); }, {}, "the voice's end"), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    Plat_AudioClose();
    Plat_AudioSetFocus(true);

    std::ifstream in(file, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(file);
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    size_t total = out.size() / 2, first = total, heard = 0;
    for (size_t i = 0; i < total; ++i) {
        if (out[2 * i] == 0 && out[2 * i + 1] == 0) continue;
        first = std::min(first, i);
        ++heard;
    }
    ASSERT_EQ(heard, frames);  // the tone once, whole; the unfocused play is silent
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(out[2 * (first + i)], sq[i]) << i;
        ASSERT_EQ(out[2 * (first + i) + 1], sq[i]) << i;
    }
    EXPECT_GE(total, first + 2 * frames);  // the second play ran, unheard
}

}  // namespace
