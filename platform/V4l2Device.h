#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// The calls a V4L2 output needs from a device node, so that the format
// negotiation runs against a fake device in tests.
class IV4l2Device {
public:
    virtual ~IV4l2Device() = default;
    // One ioctl; 0 or the errno it failed with.
    virtual int Ioctl(unsigned long request, void* argument) = 0;
    // One write(); 0 with *written set, or the errno it failed with.
    virtual int Write(const void* bytes, size_t size, size_t* written) = 0;
};

// A device node opened read-write; closes it on destruction.
class TV4l2DeviceFd final : public IV4l2Device {
public:
    // Returns 0 and the device, or the errno of open().
    static int Open(const std::string& path, std::unique_ptr<TV4l2DeviceFd>* device);
    // Takes over an open descriptor.
    explicit TV4l2DeviceFd(int fd) : m_fd(fd) {}
    ~TV4l2DeviceFd() override;
    TV4l2DeviceFd(const TV4l2DeviceFd&) = delete;
    TV4l2DeviceFd& operator=(const TV4l2DeviceFd&) = delete;

    int Ioctl(unsigned long request, void* argument) override;
    int Write(const void* bytes, size_t size, size_t* written) override;

private:
    int m_fd;
};

}  // namespace platform
