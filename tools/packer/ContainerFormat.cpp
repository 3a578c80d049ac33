#include "tools/packer/ContainerFormat.h"

#include <array>
#include <limits>

namespace packer {

namespace {

constexpr std::array<uint8_t, 256> MakeReversedTable() {
    std::array<uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int reversed = 0;
        for (int bit = 0; bit < 8; ++bit) reversed |= ((b >> bit) & 1) << (7 - bit);
        table[b] = static_cast<uint8_t>(reversed);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kReversed = MakeReversedTable();

void AppendLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

uint8_t ReverseBits(uint8_t b) { return kReversed[b]; }

std::vector<uint8_t> PackContainer(const std::vector<std::vector<uint8_t>>& entries,
                                   std::string* error) {
    if (entries.size() > kMaxEntries) {
        *error = "at most " + std::to_string(kMaxEntries) + " entries fit the container";
        return {};
    }
    size_t total = 4 + 4 * entries.size();
    for (const std::vector<uint8_t>& entry : entries) {
        if (entry.size() > std::numeric_limits<uint32_t>::max()) {
            *error = "an entry of 4 GiB or more does not fit the container";
            return {};
        }
        total += entry.size();
    }
    std::vector<uint8_t> out;
    out.reserve(total);
    AppendLittleEndian32(out, static_cast<uint32_t>(entries.size()));
    for (const std::vector<uint8_t>& entry : entries) {
        AppendLittleEndian32(out, static_cast<uint32_t>(entry.size()));
    }
    for (const std::vector<uint8_t>& entry : entries) {
        for (uint8_t b : entry) out.push_back(ReverseBits(b));
    }
    return out;
}

}  // namespace packer
