#include "tools/play/TPlayOptions.h"

#include "tools/common/OptionParsing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace pelorn::play {
namespace {

using tools::ParseFormat;
using tools::ParseInt;
using tools::ParseSeconds;
using tools::ParseSize;

bool ParseLayout(const char* text, TLayoutChoice& layout) {
    if (text == nullptr) return false;
    if (std::strcmp(text, "fullscreen") == 0) {
        layout = TLayoutChoice::kFullScreen;
    } else if (std::strcmp(text, "dual") == 0) {
        layout = TLayoutChoice::kDual;
    } else if (std::strcmp(text, "custom") == 0) {
        layout = TLayoutChoice::kCustom;
    } else {
        return false;
    }
    return true;
}

bool ParseHex(const char* text, uint32_t& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 16);
    if (errno != 0 || *end != '\0' || text[0] == '-' ||
        parsed > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool ParseParam(const char* text, std::pair<int, int>& param) {
    const char* equals = text == nullptr ? nullptr : std::strchr(text, '=');
    if (equals == nullptr) return false;
    long index = 0;
    long value = 0;
    const std::string indexText(text, equals);
    if (!ParseInt(indexText.c_str(), 0, 15, index) ||
        !ParseInt(equals + 1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                  value)) {
        return false;
    }
    param = {static_cast<int>(index), static_cast<int>(value)};
    return true;
}


}  // namespace

bool ParseSizeArgument(const char* text, int& width, int& height) { return ParseSize(text, width, height); }

bool ParseScreenArgument(const char* text, int& screen) {
    long number = 0;
    if (!ParseInt(text, 0, 63, number)) return false;
    screen = static_cast<int>(number);
    return true;
}

bool ParseSecondsArgument(const char* text, double& seconds) { return ParseSeconds(text, seconds); }

bool ParseCountArgument(const char* text, int& count) {
    long number = 0;
    if (!ParseInt(text, 1, std::numeric_limits<int>::max(), number)) return false;
    count = static_cast<int>(number);
    return true;
}

const char* PlayUsage() {
    return "usage: pelorn-play FILE | --camera NAME|/dev/videoN | --camera-standin CAMERA\n"
           "                   [--size WxH] [--format bgr24|bgra|yuyv422] [--fps N]\n"
           "                   [--frames N | --seconds S] [--flags HEX] [--param INDEX=VALUE]...\n"
           "                   [--layout fullscreen|dual|custom] [--raw-out PATH]\n"
           "                   [--png-every N DIR] [--no-vcam] [--screen N]\n"
           "Plays FILE or a camera through the engine and prints one statistics line per\n"
           "second. CAMERA is NAME|WxH@FPS|FORMAT|URL: a stand-in camera NAME read through\n"
           "the FFmpeg input FORMAT from URL.\n"
           "Defaults: --size 1280x720 --format yuyv422 --fps 30 --seconds 10 --flags 80\n"
           "          --layout fullscreen.\n";
}

bool ParsePlayOptions(int argc, const char* const* argv, TPlayOptions& options,
                      std::string& error) {
    options = TPlayOptions{};
    bool framesGiven = false;
    bool secondsGiven = false;
    const auto take = [&](const std::string& option, const char* value, int& i) -> const char* {
        long number = 0;
        if (option == "--no-vcam") {
            options.virtualCamera = false;
        } else if (option == "--size") {
            if (!ParseSize(value, options.width, options.height)) return "expected WxH";
        } else if (option == "--format") {
            if (!ParseFormat(value, options.pixelFormat)) return "expected bgr24, bgra or yuyv422";
        } else if (option == "--fps") {
            if (!ParseInt(value, 1, 240, number)) return "expected 1 to 240";
            options.frameRate = static_cast<int>(number);
        } else if (option == "--frames") {
            if (!ParseInt(value, 1, std::numeric_limits<long>::max(), number)) {
                return "expected a positive count";
            }
            options.frames = number;
            framesGiven = true;
        } else if (option == "--seconds") {
            if (!ParseSeconds(value, options.seconds)) return "expected a positive duration";
            secondsGiven = true;
        } else if (option == "--flags") {
            if (!ParseHex(value, options.processFlags)) return "expected a hexadecimal value";
        } else if (option == "--param") {
            std::pair<int, int> param;
            if (!ParseParam(value, param)) return "expected INDEX=VALUE with INDEX 0 to 15";
            options.params.push_back(param);
        } else if (option == "--layout") {
            if (!ParseLayout(value, options.layout)) return "expected fullscreen, dual or custom";
        } else if (option == "--screen") {
            if (!ParseScreenArgument(value, options.screen)) return "expected a display index 0 to 63";
        } else if (option == "--camera") {
            options.camera = value;
        } else if (option == "--camera-standin") {
            options.cameraStandin = value;
            options.camera = options.cameraStandin.substr(0, options.cameraStandin.find('|'));
        } else if (option == "--raw-out") {
            options.rawOut = value;
        } else if (option == "--png-every") {
            if (!ParseInt(value, 1, std::numeric_limits<int>::max(), number)) {
                return "expected a positive frame interval";
            }
            if (i + 1 >= argc) return "needs a folder after the interval";
            options.pngEvery = static_cast<int>(number);
            options.pngDir = argv[++i];
        } else {
            return "unknown option";
        }
        return nullptr;
    };
    if (!tools::WalkOptions(argc, argv, {"--no-vcam"}, options.file, options.help, error, take))
        return false;
    if (options.help) return true;
    if (options.file.empty() == options.camera.empty()) {
        error = options.file.empty() ? "no file or camera to play" : "a file or a camera, not both";
        return false;
    }
    if (framesGiven && secondsGiven) {
        error = "--frames and --seconds exclude each other";
        return false;
    }
    if (!framesGiven && !secondsGiven) options.seconds = kDefaultSeconds;
    return true;
}

}  // namespace pelorn::play
