#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::cli {

enum class EAudioSource { kFile, kTone, kNone };

// What corvane-cli was asked to do; the recording options stand for the
// console's stored settings.
struct TCliOptions {
    std::string file;
    int width = 1280;
    int height = 720;
    int pixelFormat = 1;  // AVPixelFormat: 3 BGR24, 28 BGRA, 1 YUYV422
    int frameRate = 30;
    double seconds = 10;
    std::string recordDir;   // empty: the recordings folder
    uint32_t types = 1;      // FileExt bits: 1 mp4, 2 ts, 4 flv, 8 mkv
    int bitrateIndex = 2;    // into the recording and the push bit-rate tables
    int gop = 30;
    int alignMs = 0;
    std::vector<std::string> pushes;
    int pushWidth = 0;  // 0: the engine's output size
    int pushHeight = 0;
    EAudioSource audio = EAudioSource::kFile;
    bool virtualCamera = true;
    bool help = false;
};

// Reads the command line; false with `error` set on a bad argument.
bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& options, std::string& error);
const char* CliUsage();

}  // namespace corvane::cli
