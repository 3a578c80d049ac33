#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/compositor/ColourMath.h"

namespace pelorn {

// The colour-table cache "ClrFloat.map": a 26-byte header (the 64-bit
// little-endian magic, 16 zero bytes, the int16 table variant) followed by
// the derived-colour, class and angle tables. Opened files are mapped
// read-only, so a warm start reads only the pages the keyer touches.
class TColourCache {
public:
    static constexpr const char* kFileName = "ClrFloat.map";
    static constexpr uint64_t kMagic = 0x78762FCA;
    static constexpr int16_t kVariant = 1;
    static constexpr size_t kVariantOffset = 24;
    static constexpr size_t kHeaderBytes = 26;
    static constexpr size_t kDerivedBytes = colour::kColourCount * colour::kDerivedEntryBytes;
    static constexpr size_t kClassBytes = colour::kColourCount * 3;
    static constexpr size_t kAngleBytes = colour::kAngleBytes;
    static constexpr size_t kDerivedOffset = kHeaderBytes;
    static constexpr size_t kClassOffset = kDerivedOffset + kDerivedBytes;
    static constexpr size_t kAngleOffset = kClassOffset + kClassBytes;
    static constexpr size_t kFileBytes = kAngleOffset + kAngleBytes;

    enum class Status {
        kLoaded,
        kMissing,     // no such file, or it cannot be opened
        kTooShort,    // shorter than the header and the three tables
        kForeign,     // wrong magic or table variant
        kUnreadable,  // it could not be mapped
        kStale,       // built with other tables than the linked-in resources
    };

    TColourCache() = default;
    ~TColourCache();
    TColourCache(const TColourCache&) = delete;
    TColourCache& operator=(const TColourCache&) = delete;

    // Maps the file when it is a complete cache of variant 1; otherwise
    // nothing stays open.
    Status Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_pMapping != nullptr; }

    const uint8_t* Derived() const { return m_pMapping + kDerivedOffset; }
    const uint8_t* Classes() const { return m_pMapping + kClassOffset; }
    const uint8_t* Angles() const { return m_pMapping + kAngleOffset; }

    // A cache file being written: created beside its final name, so a reader
    // never maps a half-written cache, and moved over it by Commit.
    class TWriter {
    public:
        // Creates the file; IsCreated() tells whether that worked.
        explicit TWriter(std::string path);
        ~TWriter();  // removes the unfinished file when not committed
        TWriter(const TWriter&) = delete;
        TWriter& operator=(const TWriter&) = delete;

        bool IsCreated() const { return m_nFd >= 0; }
        // Writes header and tables and renames the file over `path`.
        bool Commit(const uint8_t* derived, const uint8_t* classes, const uint8_t* angles);

    private:
        bool WriteAll(const void* bytes, size_t count);

        std::string m_strPath;
        std::string m_strTempPath;
        int m_nFd = -1;
        bool m_bCommitted = false;
    };

private:
    uint8_t* m_pMapping = nullptr;
    size_t m_nMappedBytes = 0;
};

}  // namespace pelorn
