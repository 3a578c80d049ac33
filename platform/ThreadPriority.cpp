#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

// Linux keeps a nice value per thread, addressed by its thread id.
bool LowerCallingThreadPriority(int steps) {
    if (steps <= 0) return true;
    const id_t thread = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0) return false;
    return setpriority(PRIO_PROCESS, thread, current + steps) == 0;
}

}  // namespace platform
