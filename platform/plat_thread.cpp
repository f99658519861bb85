#include "platform/plat_thread.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

void Plat_ThreadSetName(const char* name) {
    char buf[16];
    std::strncpy(buf, name ? name : "", sizeof buf - 1);
    buf[sizeof buf - 1] = '\0';
    pthread_setname_np(pthread_self(), buf);
}

uint32_t Plat_ThreadId() { return uint32_t(syscall(SYS_gettid)); }

void Plat_ThreadSetPriority(int32_t priority) {
    // Above normal maps to a nice value one step below the default; without
    // the right to lower it the call fails and the thread keeps its priority.
    int nice = priority > 0 ? -1 : 0;
    (void)setpriority(PRIO_PROCESS, id_t(Plat_ThreadId()), nice);
}

void Plat_SignalsSetUp() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}
