#include "engine/compositor/TColourCache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pelorn {

TColourCache::~TColourCache() {
    Close();
}

void TColourCache::Close() {
    if (m_pMapping != nullptr)
        munmap(m_pMapping, m_nMappedBytes);
    m_pMapping = nullptr;
    m_nMappedBytes = 0;
}

TColourCache::Status TColourCache::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Status::kMissing;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        ::close(fd);
        return Status::kUnreadable;
    }
    // Checked before anything is read, so a short file is never read past its end.
    if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) < kFileBytes) {
        ::close(fd);
        return Status::kTooShort;
    }
    void* mapping = mmap(nullptr, kFileBytes, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED)
        return Status::kUnreadable;

    const auto* bytes = static_cast<const uint8_t*>(mapping);
    uint64_t magic = 0;
    for (int i = 7; i >= 0; --i) magic = magic << 8 | bytes[i];
    const auto variant =
        static_cast<int16_t>(bytes[kVariantOffset] | bytes[kVariantOffset + 1] << 8);
    if (magic != kMagic || variant != kVariant) {
        munmap(mapping, kFileBytes);
        return Status::kForeign;
    }
    m_pMapping = static_cast<uint8_t*>(mapping);
    m_nMappedBytes = kFileBytes;
    return Status::kLoaded;
}

TColourCache::TWriter::TWriter(std::string path) : m_strPath(std::move(path)) {
    m_strTempPath = m_strPath + "." + std::to_string(getpid()) + ".part";
    m_nFd = ::open(m_strTempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Commit closes the file itself; one still open here was never committed.
TColourCache::TWriter::~TWriter() {
    if (m_nFd < 0)
        return;
    ::close(m_nFd);
    ::unlink(m_strTempPath.c_str());
}

bool TColourCache::TWriter::WriteAll(const void* bytes, size_t count) {
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(m_nFd, next, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool TColourCache::TWriter::Commit(const uint8_t* derived, const uint8_t* classes,
                                   const uint8_t* angles) {
    if (m_nFd < 0 || m_bCommitted)
        return false;
    uint8_t header[kHeaderBytes] = {};
    for (int i = 0; i < 8; ++i) header[i] = static_cast<uint8_t>(kMagic >> (8 * i));
    header[kVariantOffset] = static_cast<uint8_t>(kVariant & 0xFF);
    header[kVariantOffset + 1] = static_cast<uint8_t>(kVariant >> 8);
    const bool written = WriteAll(header, sizeof header) && WriteAll(derived, kDerivedBytes) &&
                         WriteAll(classes, kClassBytes) && WriteAll(angles, kAngleBytes);
    const bool closed = ::close(m_nFd) == 0;
    m_nFd = -1;
    if (!written || !closed || std::rename(m_strTempPath.c_str(), m_strPath.c_str()) != 0) {
        ::unlink(m_strTempPath.c_str());
        return false;
    }
    m_bCommitted = true;
    return true;
}

}  // namespace pelorn
