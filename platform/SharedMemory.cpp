#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

TSharedMemory::~TSharedMemory() { Close(); }

std::string TSharedMemory::ObjectName(const std::string& mappingName) { return "/" + mappingName; }

bool TSharedMemory::Exists(const std::string& mappingName) {
    TFd fd(::shm_open(ObjectName(mappingName).c_str(), O_RDONLY, 0));
    return fd.Get() >= 0;
}

uint64_t TSharedMemory::CurrentIdentity(const std::string& mappingName) {
    TFd fd(::shm_open(ObjectName(mappingName).c_str(), O_RDONLY, 0));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_ino);
}

int TSharedMemory::Open(const std::string& mappingName, size_t size, Access access) {
    Close();
    if (size == 0) return EINVAL;
    const std::string object = ObjectName(mappingName);
    const int flags = access == Access::CreateOrOpen ? O_RDWR | O_CREAT : O_RDWR;
    TFd fd(::shm_open(object.c_str(), flags, S_IRUSR | S_IWUSR));
    if (fd.Get() < 0) return errno;

    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) return errno;
    if (static_cast<size_t>(info.st_size) < size) {
        // An opener must not grow a block it did not create: the creator
        // decided its size and a short block means a different layout.
        if (access == Access::OpenExisting) return EINVAL;
        if (::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0) return errno;
    }
    if (access == Access::CreateOrOpen) ::fchmod(fd.Get(), S_IRUSR | S_IWUSR);

    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (base == MAP_FAILED) return errno;

    m_pBase = base;
    m_nSize = size;
    m_bOwner = access == Access::CreateOrOpen;
    m_nIdentity = static_cast<uint64_t>(info.st_ino);
    m_strObject = object;
    return 0;
}

void TSharedMemory::Close() {
    if (m_pBase == nullptr) return;
    ::munmap(m_pBase, m_nSize);
    if (m_bOwner) ::shm_unlink(m_strObject.c_str());
    m_pBase = nullptr;
    m_nSize = 0;
    m_bOwner = false;
    m_nIdentity = 0;
    m_strObject.clear();
}

}  // namespace platform
