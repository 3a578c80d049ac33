#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace console {

// Bits of the FileExt setting, in the order the file names are made.
enum : uint32_t {
    kFileExtMp4 = 1,
    kFileExtTs = 2,
    kFileExtFlv = 4,
    kFileExtMkv = 8,
};

// Bit rates in bit/s for the BytesRate (recording) and RTMP ByteRate (push)
// indexes 0..5; ((kbit x 1024) / 1000) x 1024 with truncating division.
// Out-of-range indexes give the nearest end of the table.
int32_t RecordBitRate(int index);
int32_t PushBitRate(int index);

// "<folder>/TRec_<year>.<month>.<day>.<hour>.<minute>.<second>_" for the local
// time `when`, then one name per FileExt bit: ".mp4", ".ts", ".flv", ".mkv".
// An empty folder is the recordings folder.
std::vector<std::string> RecordFileNames(const std::string& folder, uint32_t fileExt,
                                         std::time_t when);

}  // namespace console
