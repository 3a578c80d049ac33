#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelorn {

// Writes the run-time modules out of their container. The container holds a
// little-endian 32-bit entry count N, N 32-bit sizes, then the entries' bytes
// back to back, every byte stored with its bit order reversed. Entry 0 becomes
// "Gxrl.dat", entry 1 "TBeautySkin.dat"; later entries have no name and are
// not written.
class ModuleExtractor {
public:
    static constexpr const char* kContainerName = "VexarRes.dll";
    static constexpr size_t kChunkBytes = 1048576;
    // The header has room for this many sizes; a larger count is cut to it.
    static constexpr uint32_t kMaxEntries = 130;

    struct TResult {
        bool containerOpened = false;
        int entriesWritten = 0;  // output files that were written (also partly)
    };

    // "VexarRes.dll" beside the running program, into ModuleFolder().
    static TResult ExtractInstalled();
    // The container at `containerPath` into `folder`, which is created when
    // missing. Each file is written beside its final name and renamed over
    // it, so a module that this process still has loaded keeps its image.
    static TResult Extract(const std::string& containerPath, const std::string& folder);

    // The container's path: the folder of the running program's executable.
    static std::string InstalledContainerPath();

    // Byte b becomes the byte whose bit i is bit 7 - i of b; in place.
    static void ReverseBits(uint8_t* bytes, size_t count);
};

}  // namespace pelorn
