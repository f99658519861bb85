// Small shared services: SHA-1 digest, random integers, the local date and
// time, the leap-year rule and the 4/3 size scaling of the layouts.
#pragma once

#include <cstddef>
#include <cstdint>

// Local date and time as stored in a save slot (16 bytes, little-endian).
struct DateTime {
    uint16_t year;
    uint16_t month;   // 1..12
    uint16_t day;     // 1..31
    uint16_t hour;    // 0..23
    uint16_t minute;
    uint16_t second;
    uint32_t zero;    // always 0
};
static_assert(sizeof(DateTime) == 16);
static_assert(offsetof(DateTime, month) == 2 && offsetof(DateTime, day) == 4 &&
              offsetof(DateTime, hour) == 6 && offsetof(DateTime, minute) == 8 &&
              offsetof(DateTime, second) == 10 && offsetof(DateTime, zero) == 12);

// Standard SHA-1 of `length` bytes. `out` is zeroed first and stays zero if
// the digest cannot be computed.
void Lib_Sha1(const void* data, uint32_t length, uint8_t out[20]);
// Random integer in lo..hi inclusive (bounds in either order). Thread-safe.
uint32_t Lib_Random(uint32_t lo, uint32_t hi);
// Fills `out` with the current local time and returns it.
DateTime* Lib_LocalTimeGet(DateTime* out);
// 1 for a Gregorian leap year, else 0.
int32_t Lib_IsLeapYear(int32_t year);
// n * 4 / 3 in single precision, a positive fraction rounded up (towards zero
// for negative n): 32 -> 43, 48 -> 64, -10 -> -13.
int32_t Lib_Size43(int32_t n);
