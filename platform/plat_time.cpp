#include "platform/plat_time.h"

#include <chrono>
#include <thread>

uint64_t Plat_MonotonicUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

uint64_t Plat_WallClockUs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void Plat_LocalTime(std::tm* out) {
    std::time_t now = std::time(nullptr);
    localtime_r(&now, out);
}

void Plat_SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

