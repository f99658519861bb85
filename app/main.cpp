#include "app/frame.h"

#if defined(VN_SANITIZE)
#include <dlfcn.h>

#include <initializer_list>
#endif

int main() {
#if defined(VN_SANITIZE)
    // Mesa's EGL and GL drivers and udev (read for pads) keep allocations
    // that only their own data points to. SDL unloads them at exit, after
    // which LeakSanitizer reports those allocations from frames it can no
    // longer name; checked builds keep them loaded for the process's life.
    for (const char* library : {"libGL.so.1", "libEGL.so.1", "libEGL_mesa.so.0",
                                "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "libudev.so.1"})
        dlopen(library, RTLD_NOW | RTLD_NODELETE);
#endif
    return WinMain();
}
