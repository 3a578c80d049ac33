#pragma once

#include <cstdint>

namespace console {

// The captured audio's format as the captor reports it and the recorder
// embeds it.
struct TAudioSrcFormat {
    int32_t sampleFormat;  // AVSampleFormat
    int32_t sampleRate;
    int16_t channels;
    int16_t reserved[3];
};
static_assert(sizeof(TAudioSrcFormat) == 16);

}  // namespace console
