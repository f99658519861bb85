#include "engine/core/debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
// process-wide: a test seam (Lib_DebugSetSink)
std::atomic<DebugLogSink> g_sink{nullptr};
}

void Lib_DebugSetSink(DebugLogSink sink) { g_sink.store(sink, std::memory_order_release); }

void Lib_DebugPrintf(const char* fmt, ...) {
    DebugLogSink sink = g_sink.load(std::memory_order_acquire);
    if (!sink) return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    sink(line);
}
