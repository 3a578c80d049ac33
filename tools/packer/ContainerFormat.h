#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The module container "VexarRes.dll" (all integers 32-bit little-endian):
//   N | N entry sizes | the entries back to back, every byte bit-reversed.

namespace packer {

// The reader keeps the sizes in a fixed area of this many.
constexpr size_t kMaxEntries = 130;

// Bit i of the result is bit 7 - i of b (0x01 <-> 0x80, 0x0F <-> 0xF0).
uint8_t ReverseBits(uint8_t b);

// The container of the given entries, or an empty vector with `error` set
// (more than kMaxEntries entries, an entry of 4 GiB or more).
std::vector<uint8_t> PackContainer(const std::vector<std::vector<uint8_t>>& entries,
                                   std::string* error);

}  // namespace packer
