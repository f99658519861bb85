// The title menu's save check: GSL_TitleAnySaveValid with 32 valid slots
// against 32 direct Lib_Sha1 calls over the same data parts, and the worst
// case (every slot checked) against the same hashes; also as a share of one
// frame, since the check runs inside one. And the game thread's share of one
// core on the idle title (menu up, music playing), headless on the sample.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bench/program_bench.h"
#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/core/util.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "platform/plat_input.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "screens/logo.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "ui/mode.h"
#include "ui/utility_dialog.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "bench/save_root_bench.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kFrameUs = 16667.0;

// The store with 32 valid slots.
struct Root : SaveBenchRoot {
    Root() : SaveBenchRoot("title") {
        Lib_SaveInit();
        for (int32_t s = 0; s < 32; ++s) {
            std::vector<uint8_t> data(SaveBinSizeTable[s]);
            for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + uint32_t(s));
            GSL_BlockVersionStamp(data.data());
            SaveRequest r{};
            std::strcpy(r.title, "bench");
            r.data = data.data();
            r.dataSize = uint32_t(data.size());
            int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, s);
            while (Lib_SaveTaskResult(task) == 0) {
                Lib_FileLoadCB(nullptr);  // a notice's picture
                InputButtons.pressed = BUTTON_DECIDE;  // any notice is confirmed
                Lib_TaskPass(false);
                ::usleep(200);
            }
            Lib_SaveTaskEnd(task);
        }
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



std::atomic<bool> g_titleIdle{false};

// Puts the title in the place of the first screen after the boot, without
// the opening movie, and notes when its menu takes input.
void TitleHook() {
    // The first run's notice (no system data yet): decide, then let go.
    static bool pressed = false;
    PlatInputState in = Plat_InputIdle();
    in.focus = 1;
    if (pressed) {
        pressed = false;
        Plat_InputInject(in);
    } else if (ModeStack[0] == GSL_BootModeCB) {
        for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
            const TaskRecord* t = TaskTable.slots[slot];
            if (!t || t->dead || t->callback != Lib_UtilityCB) continue;
            const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
            if (!d || d->state != 10) continue;
            in.keys[Lib_InputKeyCode(0, BUTTON_DECIDE, 0) & 0xFF] = kPlatDown;
            Plat_InputInject(in);
            pressed = true;
        }
    }
    if (GSL_ModeTop() == GSL_LogoModeCB) {
        GSL_WorkDeleteAll();
        TitleFlags = 6;
        ModeStack[0] = GSL_TitleModeCB;
    }
    const ScreenWork* w = GSL_WorkGet(GSL_TitleModeCB);
    if (w && w->step == TITLE_STEP_INPUT) g_titleIdle = true;
}

void BM_IdleTitleCpu(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    char tmpl[] = "/tmp/vn_title_idle_XXXXXX";
    if (!mkdtemp(tmpl)) return state.SkipWithError("no temporary folder");
    const auto old = fs::current_path();
    fs::current_path(tmpl);
    if (std::system("python3 " VN_SOURCE_DIR "/tools/build_sample.py . >/dev/null") != 0)
        return state.SkipWithError("sample data could not be built");
    double share = 0;
    bool reached = false;
    for (auto _ : state) {
        g_titleIdle = false;
        MainTestHook = TitleHook;
        std::thread watcher([&] {
            for (int i = 0; i < 3000 && !g_titleIdle.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reached = g_titleIdle.load();
            std::this_thread::sleep_for(std::chrono::seconds(1));  // the title call ends
            const double hz = double(sysconf(_SC_CLK_TCK));
            const long t0 = program_bench::ThreadTicks("game");
            const auto w0 = Clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(10));
            const long t1 = program_bench::ThreadTicks("game");
            const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
            share = double(t1 - t0) / hz / wall;
            Plat_PostQuit();
        });
        WinMain();
        watcher.join();
        MainTestHook = nullptr;
    }
    if (!reached) state.SkipWithError("the title menu was not reached");
    state.counters["game_thread_core_share"] = share;
    fs::current_path(old);
    fs::remove_all(tmpl);
}
BENCHMARK(BM_IdleTitleCpu)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace
