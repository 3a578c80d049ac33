#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pelorn::play {

enum class TLayoutChoice { kFullScreen, kDual, kCustom };

// What pelorn-play was asked to do.
struct TPlayOptions {
    std::string file;
    std::string camera;         // card name or /dev/videoN, played instead of a file
    std::string cameraStandin;  // QUINDLE_CAMERA_STANDIN for a stand-in camera
    int width = 1280;
    int height = 720;
    int pixelFormat = 1;  // AVPixelFormat: 3 BGR24, 28 BGRA, 1 YUYV422
    int frameRate = 30;
    int64_t frames = 0;   // stop after this many composed frames; 0: no limit
    double seconds = 0;   // stop after this much wall-clock time; 0: no limit
    uint32_t processFlags = 0x80;
    std::vector<std::pair<int, int>> params;  // index, value, in the given order
    TLayoutChoice layout = TLayoutChoice::kFullScreen;
    std::string rawOut;
    int pngEvery = 0;  // 0: no snapshots
    std::string pngDir;
    bool virtualCamera = true;
    int screen = -1;  // display index behind the presenter; -1: none
    bool help = false;
};

// Reads the command line; false with `error` set on a bad argument. Without
// --frames or --seconds the run lasts kDefaultSeconds.
bool ParsePlayOptions(int argc, const char* const* argv, TPlayOptions& options,
                      std::string& error);
const char* PlayUsage();

// Argument readers shared with pelorn-bufplay; false on a malformed value.
bool ParseSizeArgument(const char* text, int& width, int& height);
bool ParseScreenArgument(const char* text, int& screen);
bool ParseSecondsArgument(const char* text, double& seconds);
bool ParseCountArgument(const char* text, int& count);

constexpr double kDefaultSeconds = 10;

}  // namespace pelorn::play
