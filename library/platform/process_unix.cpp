#include "platform/zel_process.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zel {

int ProcessPriority() {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, 0);
    return errno ? 0 : value;
}

int ThreadPriority() {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    return errno ? 0 : value;
}

}  // namespace zel
