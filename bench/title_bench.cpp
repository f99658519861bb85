// The title menu's save check: GSL_TitleAnySaveValid with 32 valid slots
// against 32 direct Lib_Sha1 calls over the same data parts, and the worst
// case (every slot checked) against the same hashes; also as a share of one
// frame, since the check runs inside one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/core/util.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "screens/title.h"
#include "story/save_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kFrameUs = 16667.0;

struct Root {
    fs::path dir, old;
    Root() {
        char tmpl[] = "/tmp/vn_title_bench_XXXXXX";
        dir = ::mkdtemp(tmpl);
        old = fs::current_path();
        fs::current_path(dir);
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 64 * mib, 2 * mib, 8 * mib, 2 * mib};
        Lib_CashReset();
        Lib_MemInit(sizes);
        Lib_CashReset();
        Lib_TaskInit();
        Lib_ThreadTableClear();
        std::strcpy(UserId, "7");
        for (int i = 0; i < 32; ++i) SaveBinSizeTable[i] = 135752;
        SaveBinSizeTable[32] = 4379;
        SaveBinSizeTable[33] = 366152;
        Lib_SaveInit();
        for (int32_t s = 0; s < 32; ++s) {
            std::vector<uint8_t> data(SaveBinSizeTable[s]);
            for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + uint32_t(s));
            SaveRequest r{};
            std::strcpy(r.title, "bench");
            r.data = data.data();
            r.dataSize = uint32_t(data.size());
            int32_t task = Lib_SaveTaskSet(0, &r, s);
            while (Lib_SaveTaskResult(task) == 0) {
                Lib_FileLoadCB(nullptr);  // a notice's picture
                InputButtons.pressed = BUTTON_DECIDE;  // any notice is confirmed
                Lib_TaskPass(false);
                ::usleep(200);
            }
            Lib_SaveTaskEnd(task);
        }
    }
    ~Root() {
        Lib_SaveEnd();
        Lib_CashReset();
        Lib_MemRelease();
        fs::current_path(old);
        fs::remove_all(dir);
    }
};

double Us(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::micro>(b - a).count(); }

void BM_TitleAnySaveValid(benchmark::State& state) {
    Root root;
    const void* parts[32];
    uint32_t sizes[32];
    for (int32_t s = 0; s < 32; ++s) {
        char name[64];
        Lib_SaveFileName(s, name, sizeof name, ".bin.gz");
        void* p = nullptr;
        sizes[s] = 0;
        Lib_SaveDataAccess(4, name, &p, &sizes[s], 0);
        parts[s] = p;
        sizes[s] = Lib_SaveSizeGet(0, s);
    }
    double check = 0, allSlots = 0, direct = 0;
    bool any = false;
    for (auto _ : state) {
        auto t0 = Clock::now();
        any = GSL_TitleAnySaveValid();
        auto t1 = Clock::now();
        for (int32_t s = 0; s < 32; ++s) benchmark::DoNotOptimize(Lib_SaveSlotCheck(s, nullptr));
        auto t2 = Clock::now();
        uint8_t digest[20];
        for (int32_t s = 0; s < 32; ++s) {
            if (parts[s]) Lib_Sha1(parts[s], sizes[s], digest);
            benchmark::DoNotOptimize(digest);
        }
        auto t3 = Clock::now();
        check += Us(t0, t1);
        allSlots += Us(t1, t2);
        direct += Us(t2, t3);
    }
    const double n = double(state.iterations());
    state.counters["valid"] = any ? 1 : 0;
    state.counters["any_valid_us"] = check / n;
    state.counters["all_slot_checks_us"] = allSlots / n;
    state.counters["direct_sha1_us"] = direct / n;
    state.counters["all_checks_ratio"] = allSlots / direct;
    state.counters["frame_share_pct"] = allSlots / n * 100.0 / kFrameUs;
}
BENCHMARK(BM_TitleAnySaveValid)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
