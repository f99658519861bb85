// Clocks and sleeps.
#pragma once

#include <cstdint>
#include <ctime>

// Monotonic clock in microseconds: frame timing, fades and waits.
uint64_t Plat_MonotonicUs();
// Wall clock in microseconds since the Unix epoch: dates only.
uint64_t Plat_WallClockUs();
// Local broken-down time.
void Plat_LocalTime(std::tm* out);
void Plat_SleepMs(uint32_t ms);
