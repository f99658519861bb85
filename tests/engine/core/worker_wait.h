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

// Looks at `done` and runs `pass` (a task pass, a frame; may be empty) until
// done holds. The first looks follow each other at once (a pass that moves a
// frame clock goes on at its own pace); after 20 ms of waiting each look
// rests a millisecond first, leaving the processor to the thread waited for.
// Returns the passes run before done held, or -1, failing the test with
// `what`, at kWorkerDeadline.
inline int WorkerUntil(const std::function<bool()>& done, const std::function<void()>& pass = {},
                       const char* what = "the worker's result") {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (int passes = 0;; ++passes) {
        if (done()) return passes;
        const Clock::duration waited = Clock::now() - start;
        if (waited > kWorkerDeadline) {
            ADD_FAILURE() << what << " did not come within " << kWorkerDeadline.count() << " s: a hang";
            return -1;
        }
        if (waited > std::chrono::milliseconds(20)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (pass) pass();
    }
}
