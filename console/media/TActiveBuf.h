#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

namespace console {

// A growable byte queue: live bytes are [offset, offset + length) of the block.
// Append makes room by growing to a multiple of the granularity (copying the
// live bytes to the new block's start) or, when the block is large enough but
// its tail is not, by moving the live bytes to the start.
template <typename T>
class TActiveBuf {
public:
    explicit TActiveBuf(int32_t granularity) : m_nGranularity(granularity > 0 ? granularity : 1) {}
    virtual ~TActiveBuf() = default;
    TActiveBuf(const TActiveBuf&) = delete;
    TActiveBuf& operator=(const TActiveBuf&) = delete;

    // Copies n elements from src; with no src only reserves them.
    void Append(const T* src, int32_t n) {
        if (n <= 0) return;
        Reserve(n);
        if (src != nullptr) std::memcpy(m_pData.get() + m_nOffset + m_nLength, src, n * sizeof(T));
        m_nLength += n;
    }
    void Clear() { m_nLength = m_nOffset = 0; }

    T* Data() { return m_pData.get() + m_nOffset; }
    int32_t Length() const { return m_nLength; }
    int32_t Capacity() const { return m_nCapacity; }

private:
    void Reserve(int32_t n) {
        const int32_t needed = m_nLength + n;
        if (needed > m_nCapacity) {
            const int32_t capacity = (needed + m_nGranularity - 1) / m_nGranularity * m_nGranularity;
            auto block = std::make_unique<T[]>(capacity);
            if (m_nLength > 0) std::memcpy(block.get(), Data(), m_nLength * sizeof(T));
            m_pData = std::move(block);
            m_nCapacity = capacity;
            m_nOffset = 0;
        } else if (m_nOffset + needed > m_nCapacity) {
            std::memmove(m_pData.get(), Data(), m_nLength * sizeof(T));
            m_nOffset = 0;
        }
    }

    std::unique_ptr<T[]> m_pData;
    int32_t m_nCapacity = 0;
    int32_t m_nOffset = 0;
    int32_t m_nLength = 0;
    int32_t m_nGranularity;
};

}  // namespace console
