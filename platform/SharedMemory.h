#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A named block of shared memory, the stand-in for a named file mapping. The
// object's name is "/" followed by the mapping's name unchanged; it is created
// with mode 0600 and mapped whole. The side that created the object unlinks
// it when it closes; an opener only unmaps.
class TSharedMemory {
public:
    enum class Access {
        // Create the object, or take over an existing one of that name (also a
        // stale one left by a crashed process), growing it to the size asked.
        // This side owns the name and unlinks it on close.
        CreateOrOpen,
        // Open an existing object only; fail when there is none.
        OpenExisting,
    };

    TSharedMemory() = default;
    ~TSharedMemory();
    TSharedMemory(const TSharedMemory&) = delete;
    TSharedMemory& operator=(const TSharedMemory&) = delete;

    // Returns 0 on success or the errno of the step that failed.
    int Open(const std::string& mappingName, size_t size, Access access);
    void Close();

    bool IsOpen() const { return m_pBase != nullptr; }
    void* Data() const { return m_pBase; }
    size_t Size() const { return m_nSize; }
    bool Owns() const { return m_bOwner; }

    // "/" + name: the object name under which a mapping name is kept.
    static std::string ObjectName(const std::string& mappingName);
    static bool Exists(const std::string& mappingName);

    // Tells this object apart from a later one of the same name (its creator
    // removed it and someone created it anew); 0 while not open.
    uint64_t Identity() const { return m_nIdentity; }
    // The identity of the object the name refers to now; 0 when there is none.
    static uint64_t CurrentIdentity(const std::string& mappingName);

private:
    void* m_pBase = nullptr;
    size_t m_nSize = 0;
    bool m_bOwner = false;
    uint64_t m_nIdentity = 0;
    std::string m_strObject;
};

}  // namespace platform
