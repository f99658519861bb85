// The one wait of the tests for work another thread does in real time: the
// save writer, the sound and movie workers, the file loader, the program's
// own threads. A busy machine may hold such a thread back for seconds, so no
// test counts passes or sets a short time for it: each waits here, up to a
// deadline no real run comes near, and only a hang fails it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

inline constexpr std::chrono::seconds kWorkerDeadline{120};

// The clock of one such wait, for a loop that is not WorkerUntil's own (a
// whole-program step, whose passes are the program's frames): Going() is
// called once for each look at the result that did not hold. After 20 ms of
// waiting it rests a millisecond first, leaving the processor to the thread
// waited for; at kWorkerDeadline it fails the test with `what` and returns
// false.
class WorkerWait {
public:
    explicit WorkerWait(const char* what = "the worker's result") : what_(what) {}
    bool Going() {
        const std::chrono::steady_clock::duration waited = std::chrono::steady_clock::now() - start_;
        if (waited > kWorkerDeadline) {
            ADD_FAILURE() << what_ << " did not come within " << kWorkerDeadline.count() << " s: a hang";
            return false;
        }
        if (waited > std::chrono::milliseconds(20)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }

private:
    const char* what_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Looks at `done` and runs `pass` (a task pass, a frame; may be empty) until
// done holds. The first looks follow each other at once (a pass that moves a
// frame clock goes on at its own pace); then they rest as WorkerWait says.
// Returns the passes run before done held, or -1, failing the test with
// `what`, at kWorkerDeadline.
inline int WorkerUntil(const std::function<bool()>& done, const std::function<void()>& pass = {},
                       const char* what = "the worker's result") {
    WorkerWait wait(what);
    for (int passes = 0;; ++passes) {
        if (done()) return passes;
        if (!wait.Going()) return -1;
        if (pass) pass();
    }
}
