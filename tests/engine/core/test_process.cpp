// What every test process sets up before its first test.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {
// The tests run the project's Python tools through the shell as `python3`.
// On a machine where `python3` on the PATH is a launcher in front of the
// interpreter (a version manager's shim, a shell script that finds the
// version to run), each call pays the launcher's own start: a second or two
// of processor time, more than most tools take. The interpreter the build
// found comes first on the test program's PATH, for every test and every
// program a test starts.
const bool kInterpreterFirst = [] {
    std::string path = VN_PYTHON_DIR;
    if (path.empty()) return false;
    if (const char* rest = std::getenv("PATH"); rest && *rest) path += std::string(":") + rest;
    return ::setenv("PATH", path.c_str(), 1) == 0;
}();

// The software renderer the tests draw with allocates and frees a large
// block for each draw call, and the tests read whole frames back. The C
// library gives the top of its heap back to the system at each free and
// takes it again at the next call, and maps a block over 128 KiB of its own
// and unmaps it at its free (setting the first stops it from raising that
// bound as it goes): every draw and read-back then pays page faults, most of
// a screen test's time on a busy machine. The test process keeps up to
// 256 MiB of freed heap instead, and takes blocks up to 32 MiB from it.
const bool kHeapKept = [] {
    return ::mallopt(M_TRIM_THRESHOLD, 256 << 20) == 1 && ::mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1;
}();

// A test process that runs many tests (an order shard, a sanitizer shard)
// keeps each test inside its own time limit, as CTest does for a test run
// alone: VN_TEST_LIMIT gives the limit in seconds, and VN_LONG_TESTS the
// tests ("Suite.Name" or "Suite.*", ':' between) that have
// VN_LONG_TEST_LIMIT instead. A test past its limit is named and the process
// ends, so a hang fails in minutes and says where.
class TestWatchdog : public testing::EmptyTestEventListener {
public:
    TestWatchdog(int limit, int longLimit, const char* longTests) : limit_(limit), longLimit_(longLimit) {
        std::istringstream list(longTests);
        for (std::string item; std::getline(list, item, ':');) longTests_.push_back(item);
    }

    void OnTestProgramStart(const testing::UnitTest&) override { thread_ = std::thread([this] { Watch(); }); }
    void OnTestProgramEnd(const testing::UnitTest&) override {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        seconds_ = IsLong(info.test_suite_name(), name_) ? longLimit_ : limit_;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
        running_ = true;
        wake_.notify_all();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard lock(mutex_);
        running_ = false;
        wake_.notify_all();
    }

private:
    bool IsLong(const std::string& suite, const std::string& name) const {
        for (const std::string& item : longTests_)
            if (item == name || item == suite + ".*") return true;
        return false;
    }
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            if (!running_) {
                wake_.wait(lock);
                continue;
            }
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && running_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "\n%s ran past its limit of %d s: the process ends here\n", name_.c_str(),
                             seconds_);
                std::fflush(nullptr);
                std::_Exit(124);
            }
        }
    }

    const int limit_, longLimit_;
    std::vector<std::string> longTests_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    std::string name_;
    int seconds_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    bool running_ = false, done_ = false;
};

// Seconds from the variable `name`; 0 when it is unset or not a count.
int SecondsFrom(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::max(std::atoi(value), 0) : 0;
}

const bool kWatched = [] {
    const int limit = SecondsFrom("VN_TEST_LIMIT"), longLimit = SecondsFrom("VN_LONG_TEST_LIMIT");
    if (limit == 0) return false;
    const char* longTests = std::getenv("VN_LONG_TESTS");
    testing::UnitTest::GetInstance()->listeners().Append(
        new TestWatchdog(limit, longLimit ? longLimit : limit, longTests ? longTests : ""));
    return true;
}();
}  // namespace
