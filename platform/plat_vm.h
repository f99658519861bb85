// Virtual-memory regions for the engine heaps.
#pragma once

#include <cstdint>

// Reserves a zeroed read-write region, committed lazily. Null on failure.
void* Plat_VmReserve(uint64_t size);
void Plat_VmRelease(void* base, uint64_t size);
// Zeroes [base, base + size) of private memory. Its whole pages go back to
// the system and read as zeros when next touched, so clearing a large region
// that was mostly never used costs neither time nor resident memory.
void Plat_VmZero(void* base, uint64_t size);
// Gives the whole pages inside [base, base + size) back to the system; they
// read as zeros when next touched. The bytes of the partial pages at either
// end are left as they are.
void Plat_VmDiscard(void* base, uint64_t size);
// Gives back the whole pages inside [base, base + size) that hold only
// zeros; they read as zeros still. A region filled from a file that is
// mostly empty then keeps resident only the pages that hold something.
void Plat_VmDropZeroPages(void* base, uint64_t size);

// The C library's allocator. Before the first thread is made: every thread
// but the first two shares their arenas, rather than each keeping its own
// (with its own free pages) for the process's life.
void Plat_MallocSetUp();
// Gives back the whole free pages the allocator holds (what start-up freed:
// the logos' and the movie's buffers, the driver's shader compiles). About a
// millisecond; the pages fault in again when next used, so call it once a
// phase is over, not every frame.
void Plat_MallocTrim();
