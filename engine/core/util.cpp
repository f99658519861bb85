#include "engine/core/util.h"

#include "platform/plat_time.h"

#include <openssl/evp.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <utility>

void Lib_Sha1(const void* data, uint32_t length, uint8_t out[20]) {
    if (!out) return;
    std::memset(out, 0, 20);
    static const uint8_t kEmpty = 0;
    if (length == 0) data = &kEmpty;
    if (!data) return;
    // Fetched once: every named-cache lookup hashes its name, and a fetch
    // per digest costs more than hashing a short name.
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (!sha1 || EVP_Digest(data, length, md, &mdLen, sha1, nullptr) != 1 || mdLen != 20) return;
    std::memcpy(out, md, 20);
}

namespace {
// process-wide: a lock
std::mutex g_randomLock;

// One generator for the process, seeded on first use from the wall clock.
std::mt19937& RandomGenerator() {
    static std::mt19937 generator{uint32_t(Plat_WallClockUs())};
    return generator;
}
}  // namespace

uint32_t Lib_Random(uint32_t lo, uint32_t hi) {
    if (lo > hi) std::swap(lo, hi);
    uint32_t x;
    {
        std::lock_guard<std::mutex> lock(g_randomLock);
        x = uint32_t(RandomGenerator()());
    }
    uint32_t span = hi - lo + 1u;
    if (span == 0) return x;  // the whole 32-bit range
    return lo + x % span;
}

DateTime* Lib_LocalTimeGet(DateTime* out) {
    if (!out) return out;
    std::tm tm{};
    Plat_LocalTime(&tm);
    out->year = uint16_t(tm.tm_year + 1900);
    out->month = uint16_t(tm.tm_mon + 1);
    out->day = uint16_t(tm.tm_mday);
    out->hour = uint16_t(tm.tm_hour);
    out->minute = uint16_t(tm.tm_min);
    out->second = uint16_t(tm.tm_sec);
    out->zero = 0;
    return out;
}

int32_t Lib_IsLeapYear(int32_t year) {
    return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 1 : 0;
}

int32_t Lib_Size43(int32_t n) {
    // The product must be rounded to single precision before the fraction is
    // tested: the layouts depend on it (96 -> 128, not 129). The volatile store
    // forces that rounding even where the compiler would keep excess precision
    // (x87; GCC 12 does not apply the standard excess-precision rules to C++).
    volatile float product = float(n) * 1.3333334f;
    const float p = product;
    const float whole = std::trunc(p);
    // Beyond the int32 range the result saturates instead of overflowing.
    if (whole >= 2147483648.0f) return INT32_MAX;
    if (whole < -2147483648.0f) return INT32_MIN;
    const int32_t r = int32_t(whole);
    return (p - whole > 0.0f && r < INT32_MAX) ? r + 1 : r;
}
