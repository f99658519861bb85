// Thread naming and priority hints for the calling thread, and the process's
// signal dispositions.
#pragma once

#include <cstdint>

// Names the calling thread (at most 15 characters are kept).
void Plat_ThreadSetName(const char* name);
// Best-effort priority hint for the calling thread: 0 normal, 1 above normal.
// Errors (no permission to raise the priority) are ignored.
void Plat_ThreadSetPriority(int32_t priority);
// The calling thread's kernel id.
uint32_t Plat_ThreadId();

// Once, at the program's start: a write to a closed connection (the X
// server gone, stderr a pipe nobody reads) or past the file-size limit fails
// with EPIPE or EFBIG, which the writer tells, instead of ending the process
// by SIGPIPE or SIGXFSZ.
void Plat_SignalsSetUp();
