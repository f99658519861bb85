// The engine's debug log. Messages that begin "Error -> " name the failing
// function and its arguments. By default the log writes nothing; a sink may be
// installed (tests, developer builds) to see the messages.
#pragma once

using DebugLogSink = void (*)(const char* line);

void Lib_DebugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Lib_DebugSetSink(DebugLogSink sink);
