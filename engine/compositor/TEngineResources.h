#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelorn {

// The engine's linked-in resources: "FD" 4003 and 4004 (class tables) and
// "AG" 4002 (the angle table), each a 32-bit little-endian length n followed
// by n bytes of one zlib stream.
class TEngineResources {
public:
    enum class Id { kClassTable4003, kClassTable4004, kAngleTable4002 };

    // The resource's bytes (length and stream); empty when not linked in.
    static std::span<const uint8_t> Find(Id id);

    // Inflates `resource` into `table` of `tableBytes`. Inflation stops when
    // the table is full, so a stream that expands further fills the table
    // with its beginning. False when the length runs past the resource, the
    // stream is damaged, or it ends before the table is full.
    static bool Inflate(std::span<const uint8_t> resource, uint8_t* table, size_t tableBytes);
};

}  // namespace pelorn
