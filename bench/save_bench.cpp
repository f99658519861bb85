// The save store: the game thread's share of a frame during saves, the
// writer against a plain Lib_FileSave of the image, start-up against zlib's
// own inflate, and a picture lookup that misses. All 34 slots are full, the
// pictures random bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/files/file_loader.h"
#include "script/game_blocks.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "bench/save_root_bench.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kFrameUs = 16667.0;

struct Root : SaveBenchRoot {
    Root() : SaveBenchRoot("save") {}
};

std::vector<uint8_t> Data(int32_t slot, uint8_t seed) {
    std::vector<uint8_t> d(SaveDataSize(slot));
    for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t((i * 31 + seed) ^ (i >> 9));
    GSL_BlockVersionStamp(d.data());
    return d;
}

// Fills every slot (random pictures) through the task and waits for the disk.
void Fill() {
    Lib_SaveInit();
    std::mt19937 rng(5);
    std::vector<uint8_t> pict(kSavePictSize);
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        for (uint8_t& b : pict) b = uint8_t(rng());
        std::vector<uint8_t> data = Data(s, uint8_t(s));
        SaveRequest r{};
        std::strcpy(r.title, "bench");
        r.picture = pict.data();
        r.pictureSize = kSavePictSize;
        r.data = data.data();
        r.dataSize = uint32_t(data.size());
        int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, s);
        while (Lib_SaveTaskResult(task) != 1) {
            Lib_FileLoadCB(nullptr);  // the progress notice's picture
            Lib_TaskPass(false);
        }
        Lib_SaveTaskEnd(task);
    }
    Lib_SaveFlush();
}

// CPU time of the calling thread: the game thread's own work, without the
// time the scheduler gives to other threads and programs.
double ThreadCpuUs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// Runs a save task to its end; the longest pass in microseconds of the game
// thread's CPU time.
double SaveTask(int32_t slot, uint8_t seed, double* totalUs) {
    std::vector<uint8_t> data = Data(slot, seed);
    SaveRequest r{};
    std::strcpy(r.title, "bench");
    r.data = data.data();
    r.dataSize = uint32_t(data.size());
    auto start = Clock::now();
    int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, slot);
    double longest = 0;
    while (Lib_SaveTaskResult(task) != 1) {
        Lib_FileLoadCB(nullptr);  // the progress notice's picture
        double t0 = ThreadCpuUs();
        Lib_TaskPass(false);
        longest = std::max(longest, ThreadCpuUs() - t0);
    }
    Lib_SaveTaskEnd(task);
    if (totalUs) *totalUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    return longest;
}

// (a) A game-slot save and then a slot-32 save: the game thread's longest pass.
void BM_SaveGameThreadShare(benchmark::State& state) {
    Root root;
    Fill();
    double longest = 0;
    uint8_t seed = 100;
    for (auto _ : state) {
        longest = std::max(longest, SaveTask(5, seed++, nullptr));
        longest = std::max(longest, SaveTask(32, seed++, nullptr));
    }
    state.counters["longest_pass_us"] = longest;
    state.counters["frame_share_pct"] = longest * 100.0 / kFrameUs;
}
BENCHMARK(BM_SaveGameThreadShare)->Iterations(3)->Unit(benchmark::kMillisecond);

// (b) The writer's time for one commit of a save (registry_next, save.cdf,
// registry.cdf, removal) against Lib_FileSave of the same image alone.
void BM_SaveWriterAgainstFileSave(benchmark::State& state) {
    Root root;
    Fill();
    double commit = 0, plain = 0;
    uint8_t seed = 50;
    for (auto _ : state) {
        // A save's changes: one data part and its digest.
        std::vector<uint8_t> data = Data(6, seed++);
        Lib_SaveDataAccess(1, "save/data006.bin.gz", data.data(), nullptr, 0);
        const_cast<uint8_t*>(Lib_SaveDigestGet(6))[0] = seed;
        auto t0 = Clock::now();
        Lib_SaveRegistryOpen(0);  // commits the table and the changed part
        Lib_SaveFlush();
        commit += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        t0 = Clock::now();
        Lib_FileSave("save/plain.cdf", Lib_SaveImageGet(), kSaveImageSize);
        plain += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }
    state.counters["commit_ms"] = commit / double(state.iterations()) / 1000;
    state.counters["file_save_ms"] = plain / double(state.iterations()) / 1000;
    state.counters["ratio"] = commit / plain;
}
BENCHMARK(BM_SaveWriterAgainstFileSave)->Iterations(5)->Unit(benchmark::kMillisecond);

// (c) Start-up on a full image against zlib's own inflate of save.cdf (the
// file read from disk as start-up reads it).
void BM_SaveInitAgainstInflate(benchmark::State& state) {
    Root root;
    Fill();
    Lib_SaveEnd();
    std::vector<uint8_t> out(kSaveImageSize);
    double init = 0, zlib = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        Lib_SaveInit();
        init += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        Lib_SaveEnd();
        t0 = Clock::now();
        std::string file(fs::file_size("user/7/save/save.cdf"), '\0');
        FILE* f = std::fopen("user/7/save/save.cdf", "rb");
        if (f) {
            benchmark::DoNotOptimize(std::fread(file.data(), 1, file.size(), f));
            std::fclose(f);
        }
        z_stream z{};
        inflateInit2(&z, 31);
        z.next_in = reinterpret_cast<Bytef*>(file.data());
        z.avail_in = uInt(file.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
        zlib += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["init_ms"] = init / double(state.iterations()) / 1000;
    state.counters["inflate_ms"] = zlib / double(state.iterations()) / 1000;
    state.counters["ratio"] = init / zlib;
}
BENCHMARK(BM_SaveInitAgainstInflate)->Iterations(5)->Unit(benchmark::kMillisecond);

// (d) A picture lookup by a name no record has.
void BM_PictureLookupMiss(benchmark::State& state) {
    StoryAccessFlagGal("event_warm_up", -1, 0);  // builds the name index
    for (auto _ : state) benchmark::DoNotOptimize(StoryAccessFlagGal("visual/adv/event_no_such_picture.ext", -1, 0));
}
BENCHMARK(BM_PictureLookupMiss)->Unit(benchmark::kMicrosecond);

}  // namespace
