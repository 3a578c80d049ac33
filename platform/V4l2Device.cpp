#include "platform/V4l2Device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int TV4l2DeviceFd::Open(const std::string& path, std::unique_ptr<TV4l2DeviceFd>* device) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno;
    *device = std::make_unique<TV4l2DeviceFd>(fd);
    return 0;
}

TV4l2DeviceFd::~TV4l2DeviceFd() {
    if (m_fd >= 0) ::close(m_fd);
}

int TV4l2DeviceFd::Ioctl(unsigned long request, void* argument) {
    int result;
    do {
        result = ::ioctl(m_fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

int TV4l2DeviceFd::Write(const void* bytes, size_t size, size_t* written) {
    ssize_t result;
    do {
        result = ::write(m_fd, bytes, size);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return errno;
    *written = static_cast<size_t>(result);
    return 0;
}

}  // namespace platform
