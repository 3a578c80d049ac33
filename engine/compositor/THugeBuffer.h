#pragma once

#include <cstddef>
#include <cstdint>

namespace pelorn {

// A large zero-initialised buffer of anonymous memory, asking the kernel for
// transparent huge pages: the compositor's tables and work area are read at
// random all over (a colour lookup per pixel), where 4 KiB pages would cost a
// TLB miss almost every time. Pages are taken on first touch.
class THugeBuffer {
public:
    THugeBuffer() = default;
    explicit THugeBuffer(size_t bytes);
    ~THugeBuffer();
    THugeBuffer(THugeBuffer&& other) noexcept;
    THugeBuffer& operator=(THugeBuffer&& other) noexcept;
    THugeBuffer(const THugeBuffer&) = delete;
    THugeBuffer& operator=(const THugeBuffer&) = delete;

    uint8_t* get() const { return m_pBytes; }
    size_t size() const { return m_nBytes; }
    explicit operator bool() const { return m_pBytes != nullptr; }

private:
    void Release();

    uint8_t* m_pBytes = nullptr;
    size_t m_nBytes = 0;
    size_t m_nMapped = 0;
};

}  // namespace pelorn
