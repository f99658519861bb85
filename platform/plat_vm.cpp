#include "platform/plat_vm.h"

#include <sys/mman.h>

void* Plat_VmReserve(uint64_t size) {
    if (size == 0) return nullptr;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void Plat_VmRelease(void* base, uint64_t size) {
    if (base && size) munmap(base, size);
}
