#include "engine/core/util.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

namespace {
std::vector<uint8_t> MakeBuffer() {
    std::vector<uint8_t> buf(4u << 20);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(i * 131u + 7u);
    return buf;
}

void BM_LibSha1_4MiB(benchmark::State& state) {
    std::vector<uint8_t> buf = MakeBuffer();
    uint8_t md[20];
    for (auto _ : state) {
        Lib_Sha1(buf.data(), uint32_t(buf.size()), md);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}
BENCHMARK(BM_LibSha1_4MiB);

void BM_EvpDigestSha1_4MiB(benchmark::State& state) {
    std::vector<uint8_t> buf = MakeBuffer();
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(buf.data(), buf.size(), md, &len, EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}
BENCHMARK(BM_EvpDigestSha1_4MiB);
}  // namespace
