#include "engine/core/util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
std::string Sha1Hex(const void* data, uint32_t length) {
    uint8_t md[20];
    std::memset(md, 0xCC, sizeof md);
    Lib_Sha1(data, length, md);
    char hex[41];
    for (int i = 0; i < 20; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);
    return hex;
}
}  // namespace

TEST(UtilSha1, StandardVectorsAndUnalignedTail) {
    EXPECT_EQ(Sha1Hex("", 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Hex(nullptr, 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Hex("abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    std::string million(1000000, 'a');
    EXPECT_EQ(Sha1Hex(million.data(), uint32_t(million.size())),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // "abc" at an odd address at the very end of a heap block.
    std::vector<uint8_t> buf(67, 'x');
    std::memcpy(buf.data() + 64, "abc", 3);
    EXPECT_EQ(Sha1Hex(buf.data() + 64, 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Hex(nullptr, 5), std::string(40, '0'));  // failure leaves zeros
}

TEST(UtilSize43, RoundsUpInSinglePrecision) {
    const int32_t cases[][2] = {{32, 43}, {3, 4},   {1, 2},       {96, 128}, {1280, 1707},
                                {0, 0},   {48, 64}, {-10, -13},   {44, 59},  {63, 84}};
    for (const auto& c : cases) EXPECT_EQ(Lib_Size43(c[0]), c[1]) << "n=" << c[0];
    EXPECT_EQ(Lib_Size43(INT32_MAX), INT32_MAX);
    EXPECT_EQ(Lib_Size43(INT32_MIN), INT32_MIN);
}

TEST(UtilRandom, StaysInRange) {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Lib_Random(7, 7), 7u);
    bool seen[11] = {};
    for (int i = 0; i < 10000; ++i) {
        uint32_t v = Lib_Random(10, 20);
        ASSERT_GE(v, 10u);
        ASSERT_LE(v, 20u);
        seen[v - 10] = true;
    }
    for (bool s : seen) EXPECT_TRUE(s);
    for (int i = 0; i < 100; ++i) EXPECT_LE(Lib_Random(5, 3) - 3u, 2u);  // bounds swapped
    // The whole 32-bit range is accepted and not stuck on one value.
    uint32_t first = Lib_Random(0, 0xFFFFFFFFu);
    bool differs = false;
    for (int i = 0; i < 100 && !differs; ++i) differs = Lib_Random(0, 0xFFFFFFFFu) != first;
    EXPECT_TRUE(differs);
}

TEST(UtilRandom, BackToBackCallsDifferAndThreadsAreSafe) {
    int changes = 0;
    for (int i = 0; i < 1000; ++i) changes += Lib_Random(0, 1000000) != Lib_Random(0, 1000000);
    EXPECT_GT(changes, 900);
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&bad] {
            for (int i = 0; i < 20000; ++i)
                if (Lib_Random(100, 199) - 100u >= 100u) ++bad;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(UtilTime, LeapYearsAndLocalTime) {
    EXPECT_EQ(Lib_IsLeapYear(2000), 1);
    EXPECT_EQ(Lib_IsLeapYear(2024), 1);
    EXPECT_EQ(Lib_IsLeapYear(1900), 0);
    EXPECT_EQ(Lib_IsLeapYear(2023), 0);
    DateTime dt;
    std::memset(&dt, 0xFF, sizeof dt);
    EXPECT_EQ(Lib_LocalTimeGet(&dt), &dt);
    EXPECT_GE(dt.year, 2020);
    EXPECT_TRUE(dt.month >= 1 && dt.month <= 12 && dt.day >= 1 && dt.day <= 31);
    EXPECT_TRUE(dt.hour <= 23 && dt.minute <= 59 && dt.second <= 60);
    EXPECT_EQ(dt.zero, 0u);
}
