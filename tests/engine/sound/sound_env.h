// Test environment for the sound channels and the worker: the files
// environment, a fake voice back end whose voices move only when the test
// advances them, a manual clock, and sound files written once per run by
// tools/sound_data.py.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/sound/sound.h"
#include "platform/plat_audio.h"
#include "tests/engine/files/files_env.h"

namespace sound_test {

struct FakeVoice {
    bool used = false, playing = false, looping = false;
    PlatPcmFormat format{};
    std::vector<uint8_t> data;
    uint32_t position = 0, loopStart = 0, loopEnd = 0;
    int32_t mB = 0;
    int plays = 0;
};

struct FakeAudio {
    std::mutex m;
    FakeVoice v[kPlatVoiceCount];
    int created = 0, destroyed = 0;
    bool refuse = false;
    std::atomic<int> delayUs{0};                // each stop and destroy takes this long
    std::atomic<int> polls{0};                  // the worker's asks whether a voice plays
    std::function<void()> onCreate, onDestroy;  // run on the worker's side, unlocked

    static FakeAudio& Get() {
        static FakeAudio a;
        return a;
    }
    void Reset() {
        std::lock_guard<std::mutex> hold(m);
        for (FakeVoice& f : v) f = FakeVoice{};
        created = destroyed = delayUs = polls = 0;
        refuse = false;
        onCreate = onDestroy = nullptr;
    }
    // Runs fn on voice i under the lock; def when there is no such voice.
    template <typename R, typename F>
    static R With(int32_t i, R def, F fn) {
        FakeAudio& a = Get();
        std::lock_guard<std::mutex> hold(a.m);
        return i >= 0 && i < kPlatVoiceCount && a.v[i].used ? fn(a.v[i]) : def;
    }
    void Slow() {
        if (int us = delayUs.load()) std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    // Moves a playing voice on by `bytes`, as the mixer would.
    static void Advance(int32_t i, uint32_t bytes) {
        With(i, 0, [&](FakeVoice& f) {
            if (!f.playing) return 0;
            uint64_t p = uint64_t(f.position) + bytes, size = f.data.size();
            if (f.loopEnd && f.position < f.loopEnd && p >= f.loopEnd)
                p = f.loopStart + (p - f.loopEnd) % (f.loopEnd - f.loopStart);
            if (p >= size && !f.looping) f.playing = false;
            f.position = uint32_t(p >= size ? (f.looping ? p % size : 0) : p);
            return 0;
        });
    }
};

inline const PlatVoiceBackend kFakeBackend = {
    [](const PlatPcmFormat& fmt, uint32_t bytes) -> int32_t {
        FakeAudio& a = FakeAudio::Get();
        if (a.onCreate) a.onCreate();
        std::lock_guard<std::mutex> hold(a.m);
        for (int32_t i = 0; i < kPlatVoiceCount && !a.refuse && fmt.blockAlign; ++i) {
            if (a.v[i].used) continue;
            a.v[i] = FakeVoice{true, false, false, fmt, std::vector<uint8_t>(bytes)};
            ++a.created;
            return i;
        }
        return -1;
    },
    [](int32_t i, uint32_t offset, const void* data, uint32_t bytes) {
        return FakeAudio::With(i, false, [&](FakeVoice& f) {
            if (offset + uint64_t(bytes) > f.data.size()) return false;
            if (bytes) std::memcpy(f.data.data() + offset, data, bytes);
            return true;
        });
    },
    [](int32_t i, uint32_t start, uint32_t end) {
        return FakeAudio::With(i, false, [&](FakeVoice& f) {
            if (start >= end || end > f.data.size()) return false;
            f.loopStart = start, f.loopEnd = end;
            return true;
        });
    },
    [](int32_t i, uint32_t pos) {
        FakeAudio::With(i, 0, [&](FakeVoice& f) { return pos < f.data.size() ? (f.position = pos, 0) : 0; });
    },
    [](int32_t i, bool looping) {
        FakeAudio::With(i, 0, [&](FakeVoice& f) { return f.playing = true, f.looping = looping, ++f.plays; });
    },
    [](int32_t i) {
        FakeAudio::Get().Slow();
        FakeAudio::With(i, 0, [](FakeVoice& f) { return f.playing = false, 0; });
    },
    [](int32_t i) {
        ++FakeAudio::Get().polls;
        return FakeAudio::With(i, false, [](FakeVoice& f) { return f.playing; });
    },
    [](int32_t i) { return FakeAudio::With(i, 0u, [](FakeVoice& f) { return f.position; }); },
    [](int32_t i) { return FakeAudio::With(i, kPlatVolumeSilent, [](FakeVoice& f) { return f.mB; }); },
    [](int32_t i, int32_t mB) { FakeAudio::With(i, 0, [&](FakeVoice& f) { return f.mB = mB; }); },
    [](int32_t i) {
        FakeAudio& a = FakeAudio::Get();
        a.Slow();
        if (a.onDestroy) a.onDestroy();
        FakeAudio::With(i, 0, [&](FakeVoice& f) { return f = FakeVoice{}, ++a.destroyed; });
    },
};

inline std::atomic<uint64_t> g_nowUs{1000000};
inline uint64_t FakeNow() { return g_nowUs.load(); }
inline std::mutex g_logMutex;
inline std::string g_log;
inline void LogSink(const char* line) {
    std::lock_guard<std::mutex> hold(g_logMutex);
    g_log += line;
}

// Sound files every test may copy: name, sound_data.py arguments.
inline const char* const kSoundFiles[][2] = {
    {"tone.wav", "wav {} --rate 22050 --frames 2205 --tone 441 --amp 0.5"},
    {"stereo.wav", "wav {} --rate 44100 --channels 2 --frames 4410 --tone 441 --amp 0.25"},
    {"loop.wav", "wav {} --rate 22050 --frames 4410 --loop 1000 3000"},
    {"loop18.wav", "wav {} --rate 22050 --frames 4410 --loop 1000 3000 --fmt18"},
    {"plain18.wav", "wav {} --rate 22050 --frames 4410 --fmt18"},
    {"tone.ogg", "ogg {} --rate 22050 --frames 22050 --tone 441 --quality 0"},
    {"loop.oggl", "ogg {} --rate 22050 --channels 2 --frames 22050 --loop 5000 20000 --quality 0"},
    {"long.ogg", "ogg {} --rate 22050 --frames 220500 --tone 441 --quality 0"},  // three audio pages
};

inline std::string SoundBytes(const std::string& name) {
    static const std::string dir = [] {
        std::string d = (std::filesystem::temp_directory_path() / ("vn_sound_" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(d);
        std::ofstream batch(d + "/batch.txt");
        for (auto& f : kSoundFiles) {
            std::string line = f[1];
            batch << line.replace(line.find("{}"), 2, d + "/" + f[0]) << "\n";
        }
        batch.close();
        EXPECT_EQ(std::system(("python3 " VN_SOURCE_DIR "/tools/sound_data.py batch " + d + "/batch.txt").c_str()), 0);
        static struct Cleanup {
            std::string path;
            ~Cleanup() { std::filesystem::remove_all(path); }
        } cleanup{d};
        return d;
    }();
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

class SoundEnv : public FilesEnv {
protected:
    void SetUp() override {
        FilesEnv::SetUp();
        FakeAudio::Get().Reset();
        Plat_AudioSetBackend(&kFakeBackend);
        g_nowUs = 1000000;
        Lib_SoundSetClock(FakeNow);
        Lib_SoundReset();
        g_log.clear();
        Lib_DebugSetSink(LogSink);
    }
    void TearDown() override {
        Lib_SoundEnd();
        Lib_DebugSetSink(nullptr);
        Lib_SoundSetClock(nullptr);
        Plat_AudioSetBackend(nullptr);
        FilesEnv::TearDown();
    }
    static void PutFile(const std::string& enginePath, const std::string& name) { Write(enginePath, SoundBytes(name)); }
    static SoundChannel& Ch(int32_t i) { return SoundChannelTable[i]; }
    static int32_t State(int32_t i) { return Ch(i).st.state.load(); }
    static uint8_t Flags(int32_t i) { return Ch(i).st.flags.load(); }
    static float Gain(int32_t i) { return Ch(i).st.gain.load(); }
    static int32_t Voice(int32_t i) { return Ch(i).voice; }
    static FakeVoice Fake(int32_t i) { return FakeAudio::With(Voice(i), FakeVoice{}, [](FakeVoice& f) { return f; }); }
    static void Pass(int n = 1) {
        for (int k = 0; k < n; ++k) Lib_SoundWorkPass();
    }
    static void AdvanceMs(uint64_t ms) { g_nowUs += ms * 1000; }
    static void PlayOut(int32_t i) { FakeAudio::Advance(Voice(i), uint32_t(Fake(i).data.size())); }
    static std::string Log() {
        std::lock_guard<std::mutex> hold(g_logMutex);
        return g_log;
    }
    static size_t LogLines() {
        std::string s = Log();
        return size_t(std::count(s.begin(), s.end(), '\n'));
    }
};

}  // namespace sound_test
