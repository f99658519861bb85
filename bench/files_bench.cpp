// Archive reads against zlib alone, archive directory lookups and named-cache
// hits. Each benchmark works in its own temporary data root.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1024 * 1024;

// A temporary working directory with heaps; undone on destruction.
struct Root {
    fs::path dir, old;
    Root() {
        char tmpl[] = "/tmp/vn_files_bench_XXXXXX";
        dir = ::mkdtemp(tmpl);
        old = fs::current_path();
        fs::current_path(dir);
        fs::create_directories("data");
        const uint64_t sizes[HEAP_COUNT] = {32 * kMiB, 32 * kMiB, 2 * kMiB, 64 * kMiB, 8 * kMiB};
        Lib_MemInit(sizes);
    }
    ~Root() {
        Lib_PcArcClose();
        Lib_CashReset();
        Lib_MemRelease();
        fs::current_path(old);
        fs::remove_all(dir);
    }
};

void Put(std::vector<uint8_t>& out, size_t at, const void* p, size_t n) { std::memcpy(out.data() + at, p, n); }

// A one-table archive; `files` are (name, stored bytes).
void WriteArchive(const char* path, const char* dirName, bool compressed,
                  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    uint32_t tableSize = uint32_t(80 + 80 * files.size());
    uint64_t base = 400 + tableSize;
    std::vector<uint8_t> out(base);
    int32_t one = 1, count = int32_t(files.size());
    uint64_t tableOffset = 400;
    Put(out, 0, "0100", 4);
    Put(out, 4, &one, 4);
    Put(out, 8, &base, 8);
    Put(out, 16, &tableOffset, 8);
    Put(out, 272, &tableSize, 4);
    Put(out, 400, dirName, std::strlen(dirName));
    Put(out, 464, &count, 4);
    out[468] = compressed ? 1 : 0;
    uint64_t offset = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        size_t e = 480 + 80 * i;
        Put(out, e, files[i].first.data(), files[i].first.size());
        uint32_t stored = uint32_t(files[i].second.size());
        Put(out, e + 64, &offset, 8);
        Put(out, e + 72, &stored, 4);
        offset += stored;
    }
    for (const auto& f : files) out.insert(out.end(), f.second.begin(), f.second.end());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

// 4 MiB of text-like bytes (compresses to roughly a third).
std::vector<uint8_t> Plain4MiB() {
    std::vector<uint8_t> plain(4 * kMiB);
    uint32_t x = 12345;
    for (size_t i = 0; i < plain.size(); ++i) {
        x = x * 1103515245u + 12345u;
        plain[i] = uint8_t("etaoinshrdlu ETAOIN,.\n0123456789"[(x >> 16) % 32]);
    }
    return plain;
}

std::vector<uint8_t> GzFile(const std::vector<uint8_t>& plain) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, uLong(plain.size())) + 8);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = uInt(plain.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size() - 8);
    deflate(&z, Z_FINISH);
    size_t n = z.total_out;
    deflateEnd(&z);
    uint32_t trailer[2] = {0, uint32_t(plain.size())};
    std::memcpy(out.data() + n, trailer, 8);
    out.resize(n + 8);
    return out;
}

void BM_PcArcLoad_4MiBCompressed(benchmark::State& state) {
    Root root;
    WriteArchive("data/data_00.pcarc", "script", true, {{"big.bin.gz", GzFile(Plain4MiB())}});
    Lib_PcArcOpen();
    for (auto _ : state) {
        char name[256] = "script/big.bin";
        void* data = nullptr;
        uint32_t size = 0;
        if (!Lib_PcArcLoad(0, name, &data, &size, 16, false)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(data);
        Lib_MemFree(0, data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(4 * kMiB));
}
BENCHMARK(BM_PcArcLoad_4MiBCompressed)->Unit(benchmark::kMillisecond);

// zlib's own inflate of the same member into a buffer made once.
void BM_ZlibInflate_4MiBSameStream(benchmark::State& state) {
    std::vector<uint8_t> gz = GzFile(Plain4MiB());
    std::vector<uint8_t> out(4 * kMiB);
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, 31);
        z.next_in = gz.data();
        z.avail_in = uInt(gz.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
        inflateEnd(&z);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(4 * kMiB));
}
BENCHMARK(BM_ZlibInflate_4MiBSameStream)->Unit(benchmark::kMillisecond);

struct Table5000 {
    Root root;
    Table5000() {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        char name[64];
        for (int i = 0; i < 5000; ++i) {
            std::snprintf(name, sizeof name, "sys_file_%05d.ext", i);
            files.push_back({name, {uint8_t(i)}});
        }
        WriteArchive("data/data_00.pcarc", "visual/system", false, files);
        Lib_PcArcOpen();
    }
};

void BM_PcArcFind_LastOf5000(benchmark::State& state) {
    Table5000 t;
    for (auto _ : state) benchmark::DoNotOptimize(Lib_PcArcFind(0, 0, "sys_file_04999.ext"));
}
BENCHMARK(BM_PcArcFind_LastOf5000)->Unit(benchmark::kMicrosecond);

// The whole existence check: normalising, splitting, the table scan.
void BM_PcArcFileExists_LastOf5000(benchmark::State& state) {
    Table5000 t;
    for (auto _ : state) {
        char name[256] = "visual/system/sys_file_04999.ext";
        benchmark::DoNotOptimize(Lib_PcArcFileExists(name));
    }
}
BENCHMARK(BM_PcArcFileExists_LastOf5000)->Unit(benchmark::kMicrosecond);

void BM_CashGetHitInfo_5000Cached(benchmark::State& state) {
    Root root;
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) {
        names.push_back("visual/system/sys_file_" + std::to_string(i) + ".ext");
        Lib_CashSetComplete(Lib_CashEntryOf(Lib_CashAlloc(names.back().c_str(), 64, 8), 8));
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Lib_CashGetHitInfo(names[i].c_str(), -1));
        i = (i + 997) % names.size();
    }
}
BENCHMARK(BM_CashGetHitInfo_5000Cached)->Unit(benchmark::kMicrosecond);

}  // namespace
