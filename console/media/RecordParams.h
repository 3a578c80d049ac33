#pragma once

#include <cstdint>

#include "console/media/TAudioSrcFormat.h"
#include "engine/ICapMattEngine.h"

namespace console {

// The parameters of IRecord::Open; callers zero-fill it before use.
struct RecordParams {
    int32_t videoCodecId;  // 27 (H.264); 0 = no video
    int16_t width;
    int16_t height;
    int16_t fps;
    int16_t avAlignMs;  // added to every video timestamp
    int32_t videoBitRate;
    int16_t gop;
    TCapVideoFormat srcVideo;
    int32_t audioCodecId;  // 86018 (AAC); 0 = no audio
    int32_t sampleRate;
    int32_t channels;
    int32_t audioBitRate;
    TAudioSrcFormat srcAudio;
};

constexpr int32_t kVideoCodecH264 = 27;
constexpr int32_t kAudioCodecAac = 86018;

}  // namespace console
