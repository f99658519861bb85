#include "platform/plat_vm.h"

#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unistd.h>

#include <cstring>

void* Plat_VmReserve(uint64_t size) {
    if (size == 0) return nullptr;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void Plat_VmRelease(void* base, uint64_t size) {
    if (base && size) munmap(base, size);
}

namespace {
uintptr_t PageSize() { return uintptr_t(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096); }
}  // namespace

void Plat_VmDiscard(void* base, uint64_t size) {
    if (!base || size == 0) return;
    const uintptr_t page = PageSize(), start = uintptr_t(base);
    const uintptr_t first = (start + page - 1) / page * page, last = (start + size) / page * page;
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

void Plat_VmZero(void* base, uint64_t size) {
    if (!base || size == 0) return;
    const uintptr_t page = PageSize();
    const uintptr_t start = uintptr_t(base), end = start + size;
    const uintptr_t first = (start + page - 1) / page * page, last = end / page * page;
    if (first >= last || madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0) {
        std::memset(base, 0, size);
        return;
    }
    std::memset(base, 0, first - start);
    std::memset(reinterpret_cast<void*>(last), 0, end - last);
}

namespace {
bool PageIsZero(const uint8_t* p, uintptr_t page) {
    uint64_t any = 0;
    for (uintptr_t i = 0; i < page; i += 64) {
        uint64_t w[8];
        std::memcpy(w, p + i, sizeof w);
        for (uint64_t x : w) any |= x;
        if (any) return false;
    }
    return true;
}
}  // namespace

void Plat_VmDropZeroPages(void* base, uint64_t size) {
    if (!base || size == 0) return;
    const uintptr_t page = PageSize(), start = uintptr_t(base);
    const uintptr_t first = (start + page - 1) / page * page, last = (start + size) / page * page;
    // Runs of zero pages go back in one call each.
    uintptr_t run = 0;
    for (uintptr_t p = first; p < last; p += page) {
        if (PageIsZero(reinterpret_cast<const uint8_t*>(p), page)) {
            if (!run) run = p;
            continue;
        }
        if (run) madvise(reinterpret_cast<void*>(run), p - run, MADV_DONTNEED);
        run = 0;
    }
    if (run) madvise(reinterpret_cast<void*>(run), last - run, MADV_DONTNEED);
}

void Plat_MallocSetUp() {
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 2);
#endif
}

void Plat_MallocTrim() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
