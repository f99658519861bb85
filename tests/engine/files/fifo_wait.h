// Bounded waits on code that may open a FIFO: a plain open() of a FIFO
// without a writer waits for ever, so a test of it must end either way.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/core/worker_wait.h"

// Runs `work` on the calling thread and reports whether it ended within
// `bound`. Past the bound a reader left waiting on one of `fifos` is released
// by a writer that opens and closes it (the reader sees an empty file), so a
// failing test still ends. Paths are taken as they are: absolute ones stay
// right when `work` changes the working folder.
inline bool EndsWithoutWaitingOn(const std::vector<std::string>& fifos, const std::function<void()>& work,
                                 std::chrono::seconds bound) {
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::atomic<bool> late{false};
    std::thread guard([&] {
        if (done.wait_for(bound) == std::future_status::ready) return;
        late = true;
        while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            for (const std::string& fifo : fifos) {
                int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
    });
    work();
    finished.set_value();
    guard.join();
    return !late.load();
}

// The same for one FIFO, bound by the worker wait's deadline: only code
// that waits on the FIFO reaches it.
inline bool EndsWithoutWaitingOn(const std::string& fifo, const std::function<void()>& work) {
    return EndsWithoutWaitingOn(std::vector<std::string>{fifo}, work, kWorkerDeadline);
}
