// The test process's watchdog: in a process that runs many tests, a test
// past its limit is named and ends the process, with the long tests' limit
// for the ones listed as long.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Stands still for a minute when asked to; otherwise passes at once.
TEST(TestProcess, StandsStillWhenAsked) {
    if (std::getenv("VN_TEST_STAND_STILL")) std::this_thread::sleep_for(std::chrono::seconds(60));
}

TEST(TestProcess, ATestPastItsLimitIsNamedAndEndsTheProcess) {
    if (std::getenv("VN_TEST_STAND_STILL")) GTEST_SKIP() << "run inside the check itself";
    struct Case {
        const char* env;
        const char* told;
    } cases[] = {
        {"VN_TEST_LIMIT=1", "TestProcess.StandsStillWhenAsked ran past its limit of 1 s"},
        {"VN_TEST_LIMIT=1 VN_LONG_TEST_LIMIT=2 VN_LONG_TESTS=Other.Test:TestProcess.*",
         "TestProcess.StandsStillWhenAsked ran past its limit of 2 s"},
    };
    for (const Case& c : cases) {
        const std::string command = std::string(
            "env -u GTEST_TOTAL_SHARDS -u GTEST_SHARD_INDEX -u VN_LONG_TEST_LIMIT -u VN_LONG_TESTS VN_TEST_STAND_STILL=1 ") + c.env +
                                    " /proc/" + std::to_string(::getpid()) +
                                    "/exe --gtest_filter='TestProcess.*' 2>&1";
        FILE* out = ::popen(command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
        const int status = ::pclose(out);
        SCOPED_TRACE(c.env);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 124) << text;
        EXPECT_NE(text.find(c.told), std::string::npos) << text;
    }
}

}  // namespace
