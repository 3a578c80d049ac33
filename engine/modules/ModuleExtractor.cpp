#include "engine/modules/ModuleExtractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleFolder.h"
#include "platform/ExecutablePath.h"
#include "platform/KnownFolders.h"

namespace pelorn {
namespace {

// Output names by entry index; later entries are not written.
constexpr const char* kEntryNames[] = {BrenvikDLL::kFileName, IIMPlugIn::kFileName};
constexpr uint32_t kNamedEntries = sizeof kEntryNames / sizeof kEntryNames[0];

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd = -1) : m_fd(fd) {}
    ~TFileDescriptor() { Close(); }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Close() {
        const int result = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

// Reads up to `count` bytes at `offset`; fewer only at the end of the file or
// on an error.
size_t ReadAt(int fd, uint8_t* buffer, size_t count, uint64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool WriteAll(int fd, const uint8_t* buffer, size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, buffer, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        buffer += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

struct THeader {
    uint32_t sizes[ModuleExtractor::kMaxEntries] = {};
    uint32_t count = 0;    // sizes read, at most kMaxEntries
    uint64_t dataStart = 0;  // 4 + 4 x N of the count as stored
};

bool ReadHeader(int fd, THeader& header) {
    uint8_t countBytes[4];
    if (ReadAt(fd, countBytes, 4, 0) != 4) return false;
    const uint32_t stored = LittleEndian32(countBytes);
    header.dataStart = 4 + 4 * uint64_t{stored};
    const uint32_t wanted = stored < ModuleExtractor::kMaxEntries ? stored : ModuleExtractor::kMaxEntries;
    uint8_t sizeBytes[4 * ModuleExtractor::kMaxEntries];
    const size_t got = ReadAt(fd, sizeBytes, 4 * size_t{wanted}, 4);
    header.count = static_cast<uint32_t>(got / 4);
    for (uint32_t i = 0; i < header.count; ++i) header.sizes[i] = LittleEndian32(sizeBytes + 4 * i);
    return true;
}

// Copies `size` bytes at `offset`, restored, into a new file that replaces
// `target`. The copy stops early at the end of the container; what was
// copied still replaces the target. False when no file could be made.
bool WriteEntry(int container, uint64_t offset, uint32_t size, const std::string& target,
                std::vector<uint8_t>& chunk) {
    std::string temporary = target + ".XXXXXX";
    TFileDescriptor out(::mkstemp(temporary.data()));
    if (!out.Valid()) return false;
    ::fchmod(out.Get(), 0644);
    bool written = true;
    for (uint64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size - done, chunk.size()));
        const size_t got = ReadAt(container, chunk.data(), want, offset + done);
        if (got == 0) break;
        ModuleExtractor::ReverseBits(chunk.data(), got);
        if (!WriteAll(out.Get(), chunk.data(), got)) {
            written = false;
            break;
        }
        done += got;
    }
    if (out.Close() != 0) written = false;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

void ModuleExtractor::ReverseBits(uint8_t* bytes, size_t count) {
    // Eight bytes at a time: swap the nibbles, then the bit pairs, then the
    // neighbouring bits of every byte. The word loop vectorises.
    constexpr uint64_t kLowNibbles = 0x0F0F0F0F0F0F0F0Full;
    constexpr uint64_t kLowPairs = 0x3333333333333333ull;
    constexpr uint64_t kLowBits = 0x5555555555555555ull;
    const size_t words = count / 8;
    for (size_t i = 0; i < words; ++i) {
        uint64_t x;
        std::memcpy(&x, bytes + 8 * i, 8);
        x = ((x >> 4) & kLowNibbles) | ((x & kLowNibbles) << 4);
        x = ((x >> 2) & kLowPairs) | ((x & kLowPairs) << 2);
        x = ((x >> 1) & kLowBits) | ((x & kLowBits) << 1);
        std::memcpy(bytes + 8 * i, &x, 8);
    }
    for (size_t i = words * 8; i < count; ++i) {
        unsigned b = bytes[i];
        b = ((b >> 4) & 0x0F) | ((b & 0x0F) << 4);
        b = ((b >> 2) & 0x33) | ((b & 0x33) << 2);
        b = ((b >> 1) & 0x55) | ((b & 0x55) << 1);
        bytes[i] = static_cast<uint8_t>(b);
    }
}

std::string ModuleExtractor::InstalledContainerPath() {
    return platform::ExecutableFolder() + "/" + kContainerName;
}

ModuleExtractor::TResult ModuleExtractor::ExtractInstalled() {
    return Extract(InstalledContainerPath(), ModuleFolder());
}

ModuleExtractor::TResult ModuleExtractor::Extract(const std::string& containerPath,
                                                  const std::string& folder) {
    TResult result;
    platform::EnsureFolder(folder);
    TFileDescriptor container(::open(containerPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!container.Valid()) return result;
    result.containerOpened = true;

    THeader header;
    if (!ReadHeader(container.Get(), header)) return result;
    std::vector<uint8_t> chunk(kChunkBytes);
    // Every entry is read from its own offset, so an entry that could not be
    // written or was cut short does not shift the ones after it.
    uint64_t offset = header.dataStart;
    for (uint32_t i = 0; i < header.count && i < kNamedEntries; ++i) {
        const std::string target = folder + "/" + kEntryNames[i];
        if (WriteEntry(container.Get(), offset, header.sizes[i], target, chunk)) {
            ++result.entriesWritten;
        }
        offset += header.sizes[i];
    }
    return result;
}

}  // namespace pelorn
