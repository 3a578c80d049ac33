#include "engine/compositor/TEngineResources.h"

#include <zlib.h>

#include <climits>

// The blobs themselves are assembled in by ResourceBlobs.cpp.
extern "C" {
extern const uint8_t pelorn_res_fd4003_begin[];
extern const uint8_t pelorn_res_fd4003_end[];
extern const uint8_t pelorn_res_fd4004_begin[];
extern const uint8_t pelorn_res_fd4004_end[];
extern const uint8_t pelorn_res_ag4002_begin[];
extern const uint8_t pelorn_res_ag4002_end[];
}

namespace pelorn {
namespace {

std::span<const uint8_t> Between(const uint8_t* begin, const uint8_t* end) {
    return {begin, static_cast<size_t>(end - begin)};
}

}  // namespace

std::span<const uint8_t> TEngineResources::Find(Id id) {
    switch (id) {
        case Id::kClassTable4003:
            return Between(pelorn_res_fd4003_begin, pelorn_res_fd4003_end);
        case Id::kClassTable4004:
            return Between(pelorn_res_fd4004_begin, pelorn_res_fd4004_end);
        case Id::kAngleTable4002:
            return Between(pelorn_res_ag4002_begin, pelorn_res_ag4002_end);
    }
    return {};
}

bool TEngineResources::Inflate(std::span<const uint8_t> resource, uint8_t* table,
                               size_t tableBytes) {
    if (resource.size() < 4 || table == nullptr || tableBytes > ULONG_MAX)
        return false;
    const uint32_t streamBytes = uint32_t{resource[0]} | uint32_t{resource[1]} << 8 |
                                 uint32_t{resource[2]} << 16 | uint32_t{resource[3]} << 24;
    if (streamBytes > resource.size() - 4)
        return false;

    uLongf written = tableBytes;
    const int result = uncompress(table, &written, resource.data() + 4, streamBytes);
    // Z_BUF_ERROR with a full table: the stream goes on past the table's end.
    if (result == Z_OK)
        return written == tableBytes;
    return result == Z_BUF_ERROR && written == tableBytes;
}

}  // namespace pelorn
