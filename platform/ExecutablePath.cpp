#include "platform/ExecutablePath.h"

#include <limits.h>
#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return {};
    return std::string(path, static_cast<size_t>(length));
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace platform
