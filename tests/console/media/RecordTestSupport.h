#pragma once

// Recorders as the tests make them: the colour-conversion module copied into
// the test's own folder under a name of its own (its holder deletes the file
// when it unloads it, and a loaded module's file must not be overwritten).

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/media/RecordParams.h"
#include "console/media/TRecord.h"
#include "tests/console/media/MediaTestSupport.h"

namespace mediatest {

inline std::unique_ptr<console::TRecord> MakeRecorder(const TTempFolder& folder) {
    static std::atomic<int> copies{0};
    const std::string module = folder / ("Gxrl" + std::to_string(copies++) + ".dat");
    std::filesystem::copy_file(GXRL_MODULE_PATH, module);
    return std::make_unique<console::TRecord>(module);
}

// H.264 at the source's size from NV12 (or `format`), gop 30, 1 Mbit/s.
inline console::RecordParams VideoParams(int width, int height, int fps = 30,
                                         int format = AV_PIX_FMT_NV12) {
    console::RecordParams params{};
    params.videoCodecId = console::kVideoCodecH264;
    params.width = static_cast<int16_t>(width);
    params.height = static_cast<int16_t>(height);
    params.fps = static_cast<int16_t>(fps);
    params.videoBitRate = 1000000;
    params.gop = 30;
    params.srcVideo = {static_cast<int16_t>(width), static_cast<int16_t>(height),
                       static_cast<int16_t>(format), static_cast<int16_t>(fps), 0, 0};
    return params;
}

inline void AddAudio(console::RecordParams& params, int channels = 2, int sampleRate = 48000) {
    params.audioCodecId = console::kAudioCodecAac;
    params.sampleRate = sampleRate;
    params.channels = channels;
    params.audioBitRate = 128000;
    params.srcAudio = {AV_SAMPLE_FMT_S16, sampleRate, static_cast<int16_t>(channels), {}};
}

inline int32_t OpenRecorder(console::IRecord& recorder, const std::vector<std::string>& outputs,
                            const console::RecordParams& params) {
    std::vector<const char*> pointers;
    for (const auto& output : outputs) pointers.push_back(output.c_str());
    return recorder.Open(pointers.data(), static_cast<int>(pointers.size()), &params);
}

}  // namespace mediatest
