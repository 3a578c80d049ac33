#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::cli {

// Where the recorded sound comes from.
enum class EAudioSource {
    kStored,  // the stored AudioDevName when it is listed, else none
    kDevice,  // the capture device named by --audio
    kFile,    // the media file's own audio, looped
    kTone,    // a 1 kHz tone
    kNone,
};

// What corvane-cli was asked to do. A setting left unset here comes from the
// console's settings store (or its default there).
struct TCliOptions {
    std::string file;
    std::optional<int> width;  // with height, from --size
    std::optional<int> height;
    std::optional<int> pixelFormat;  // AVPixelFormat: 3 BGR24, 28 BGRA, 1 YUYV422
    std::optional<int> frameRate;
    double seconds = 10;
    std::optional<std::string> recordDir;
    std::optional<uint32_t> types;           // FileExt bits: 1 mp4, 2 ts, 4 flv, 8 mkv
    std::optional<int> bitrateIndex;         // into the recording bit-rate table
    std::optional<int> pushBitrateIndex;     // into the push bit-rate table
    std::optional<int> gop;
    std::optional<int> alignMs;
    std::vector<std::string> pushes;         // empty: the stored addresses
    int pushWidth = 0;  // 0: the engine's output size
    int pushHeight = 0;
    EAudioSource audio = EAudioSource::kStored;
    std::string audioDevice;  // with kDevice
    int templateSlot = 0;
    bool listDevices = false;
    bool showSettings = false;
    bool virtualCamera = true;
    bool help = false;

    // Listing devices or settings needs no file and records nothing.
    bool OnlyPrints() const { return listDevices || showSettings; }
};

// Reads the command line; false with `error` set on a bad argument.
bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& options, std::string& error);
const char* CliUsage();

}  // namespace corvane::cli
