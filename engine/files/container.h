// ".arc" containers: small files packed together and used in place.
//
// Layout (little-endian): u32 not read, u32 member count N, then N 72-byte
// entries {name[64] NUL-terminated, u32 size, u32 offset from the container's
// start}. A member's data lies in the container's buffer and lives as long as
// that buffer does (for a container in the named cache: while its entry stays
// tagged).
#pragma once

#include <cstdint>

// A container held in memory whose directory has been checked. Zeroed (or
// after a failed Lib_ArcOpen) it has no members and every lookup fails.
struct ArcView {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint32_t count = 0;
};

// Checks the directory of the `size` bytes at data once, when the container
// arrives: the directory within the buffer, every member inside it and every
// name terminated within its 64 bytes. On success fills arc and returns true;
// otherwise arc is emptied and the reason is logged.
bool Lib_ArcOpen(ArcView* arc, const void* data, uint64_t size);

// Index of the first member whose name matches (0 to N - 1), or -1. ASCII
// letters match in either case (Shift-JIS trail bytes are compared as they
// are); '*' in the searched name stands for exactly one byte. Empty names
// and names of 256 bytes or more match nothing.
int64_t Lib_ArcGetFileID(const ArcView* arc, const char* name);

// Delivers a member's data and size (size may be null). An index of 0 or more
// takes that member, a negative index looks name up. On failure (name not
// found, index not below N) returns false and leaves the targets untouched.
bool Lib_ArcGetData(const ArcView* arc, const char* name, int32_t index,
                    const uint8_t** data, uint32_t* size);
