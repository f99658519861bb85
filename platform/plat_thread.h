// Thread naming and priority hints for the calling thread.
#pragma once

#include <cstdint>

// Names the calling thread (at most 15 characters are kept).
void Plat_ThreadSetName(const char* name);
// Best-effort priority hint for the calling thread: 0 normal, 1 above normal.
// Errors (no permission to raise the priority) are ignored.
void Plat_ThreadSetPriority(int32_t priority);
// The calling thread's kernel id.
uint32_t Plat_ThreadId();
