#include "platform/plat_msg.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
// process-wide (g_mutex, g_cv, g_queue): the game thread's queue, emptied by Plat_GameMsgClear
std::mutex g_mutex;
std::condition_variable g_cv;
std::deque<PlatMsg> g_queue;
}  // namespace

void Plat_GameMsgPost(const PlatMsg& msg) {
    {
        std::lock_guard lock(g_mutex);
        g_queue.push_back(msg);
    }
    g_cv.notify_one();
}

bool Plat_GameMsgPeek(PlatMsg* out) {
    std::lock_guard lock(g_mutex);
    if (g_queue.empty()) return false;
    if (out) *out = g_queue.front();
    g_queue.pop_front();
    return true;
}

void Plat_GameMsgWait(uint64_t timeoutUs) {
    std::unique_lock lock(g_mutex);
    g_cv.wait_for(lock, std::chrono::microseconds(timeoutUs), [] { return !g_queue.empty(); });
}

void Plat_GameMsgClear() {
    std::lock_guard lock(g_mutex);
    g_queue.clear();
}
