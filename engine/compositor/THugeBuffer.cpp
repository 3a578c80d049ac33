#include "engine/compositor/THugeBuffer.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace pelorn {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

THugeBuffer::THugeBuffer(size_t bytes) {
    m_nMapped = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* mapping =
        mmap(nullptr, m_nMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        throw std::bad_alloc();
    // Only a hint: without huge pages the buffer works the same, more slowly.
    madvise(mapping, m_nMapped, MADV_HUGEPAGE);
    m_pBytes = static_cast<uint8_t*>(mapping);
    m_nBytes = bytes;
}

THugeBuffer::~THugeBuffer() {
    Release();
}

THugeBuffer::THugeBuffer(THugeBuffer&& other) noexcept
    : m_pBytes(std::exchange(other.m_pBytes, nullptr)),
      m_nBytes(std::exchange(other.m_nBytes, 0)),
      m_nMapped(std::exchange(other.m_nMapped, 0)) {}

THugeBuffer& THugeBuffer::operator=(THugeBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_pBytes = std::exchange(other.m_pBytes, nullptr);
        m_nBytes = std::exchange(other.m_nBytes, 0);
        m_nMapped = std::exchange(other.m_nMapped, 0);
    }
    return *this;
}

void THugeBuffer::Release() {
    if (m_pBytes != nullptr)
        munmap(m_pBytes, m_nMapped);
    m_pBytes = nullptr;
    m_nBytes = m_nMapped = 0;
}

}  // namespace pelorn
