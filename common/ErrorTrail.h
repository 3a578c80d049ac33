#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

// The process-wide error text, newest message first. It lives in a 2048-byte
// shared block named "Global\%x" after the main executable's load address, so
// every module of the process that carries this code appends to the same text
// without calling each other. The block holds one NUL-terminated UTF-16
// string of at most 1023 units; every addition cuts the result to that,
// dropping the oldest text. When the block cannot be mapped every operation
// does nothing.
//
// The trail is diagnostic only: additions from two threads at once may
// interleave or lose text, never corrupt memory.
class ErrorTrail {
public:
    static constexpr size_t kBlockBytes = 2048;
    static constexpr size_t kMaxUnits = kBlockBytes / 2 - 1;

    // Called at static initialisation and at exit; safe to call again.
    static bool Open();
    static void Close();
    static bool IsOpen();
    static std::string MappingName();

    // "%s\r%s": the message, then the earlier trail.
    static void Add(std::string_view text);
    // "%s, hr: %x\r%s".
    static void AddHr(std::string_view text, int32_t code);
    // "%s, ret: %d\r%s".
    static void AddRet(std::string_view text, int code);

    // Copies the trail out and clears it.
    static std::string Take();
    // Copies the trail out and leaves it.
    static std::string Peek();
};

}  // namespace common
