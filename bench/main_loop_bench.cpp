// CPU cost of the running engine on a static frame: the game thread's share of
// one core (its per-frame task work plus the between-frames passes) and the
// whole process's share, headless on the sample game, over 10 seconds.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/app/frame.h"
#include "platform/plat_window.h"

namespace {
// Clock ticks used by the thread named `name` (user + system), or -1.
long threadTicks(const char* name) {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    long ticks = -1;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(base + "/comm"), comm);
        if (comm != name) continue;
        std::string stat;
        std::getline(std::ifstream(base + "/stat"), stat);
        // Fields after the closing parenthesis of the name: utime is the 14th field.
        const char* p = std::strrchr(stat.c_str(), ')');
        long utime = 0, stime = 0;
        if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) == 2)
            ticks = utime + stime;
    }
    closedir(dir);
    return ticks;
}

double processSeconds() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

void BM_StaticFrameCpu(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    char tmpl[] = "/tmp/vn_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return state.SkipWithError("no temporary folder");
    auto old = std::filesystem::current_path();
    std::filesystem::current_path(tmpl);
    if (std::system("python3 " VN_SOURCE_DIR "/tools/build_sample.py . >/dev/null") != 0)
        return state.SkipWithError("sample data could not be built");
    double gameShare = 0, processShare = 0;
    for (auto _ : state) {
        std::thread watcher([&] {
            while (RunState.load() != RUN_RUNNING) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::seconds(2));  // preloads settle
            const double hz = double(sysconf(_SC_CLK_TCK));
            long t0 = threadTicks("game");
            double p0 = processSeconds();
            auto w0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(10));
            long t1 = threadTicks("game");
            double p1 = processSeconds();
            double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
            gameShare = double(t1 - t0) / hz / wall;
            processShare = (p1 - p0) / wall;
            Plat_PostQuit();
        });
        WinMain();
        watcher.join();
    }
    state.counters["game_thread_core_share"] = gameShare;
    state.counters["process_core_share"] = processShare;
    std::filesystem::current_path(old);
    std::filesystem::remove_all(tmpl);
}
BENCHMARK(BM_StaticFrameCpu)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace
