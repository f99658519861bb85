// Virtual-memory regions for the engine heaps.
#pragma once

#include <cstdint>

// Reserves a zeroed read-write region, committed lazily. Null on failure.
void* Plat_VmReserve(uint64_t size);
void Plat_VmRelease(void* base, uint64_t size);
