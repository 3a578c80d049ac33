#include "tools/play/TPlayOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace pelorn::play {
namespace {

bool ParseInt(const char* text, long minimum, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= minimum && value <= maximum;
}

bool ParseSize(const char* text, int& width, int& height) {
    const char* x = text == nullptr ? nullptr : std::strchr(text, 'x');
    if (x == nullptr) return false;
    long w = 0;
    long h = 0;
    const std::string widthText(text, x);
    if (!ParseInt(widthText.c_str(), 2, 32767, w) || !ParseInt(x + 1, 2, 32767, h)) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool ParseFormat(const char* text, int& pixelFormat) {
    if (text == nullptr) return false;
    if (std::strcmp(text, "bgr24") == 0) {
        pixelFormat = 3;
    } else if (std::strcmp(text, "bgra") == 0) {
        pixelFormat = 28;
    } else if (std::strcmp(text, "yuyv422") == 0) {
        pixelFormat = 1;
    } else {
        return false;
    }
    return true;
}

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

bool ParseSeconds(const char* text, double& seconds) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && seconds > 0 && seconds < 1e7;
}

}  // namespace

const char* PlayUsage() {
    return "usage: pelorn-play FILE | --camera NAME|/dev/videoN | --camera-standin SPEC\n"
           "                   [--size WxH] [--format bgr24|bgra|yuyv422] [--fps N]\n"
           "                   [--frames N | --seconds S] [--flags HEX] [--param INDEX=VALUE]...\n"
           "                   [--layout fullscreen|dual|custom] [--raw-out PATH]\n"
           "                   [--png-every N DIR] [--no-vcam]\n"
           "Plays FILE or a camera through the engine and prints one statistics line per\n"
           "second. SPEC is NAME|WxH@FPS|FORMAT|URL: a stand-in camera NAME read through\n"
           "the FFmpeg input FORMAT from URL.\n"
           "Defaults: --size 1280x720 --format yuyv422 --fps 30 --seconds 10 --flags 80\n"
           "          --layout fullscreen.\n";
}

bool ParsePlayOptions(int argc, const char* const* argv, TPlayOptions& options,
                      std::string& error) {
    options = TPlayOptions{};
    bool framesGiven = false;
    bool secondsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto bad = [&](const char* what) {
            error = option + ": " + what;
            return false;
        };
        if (option == "--help" || option == "-h") {
            options.help = true;
            return true;
        }
        if (option.rfind("--", 0) != 0) {
            if (!options.file.empty()) return bad("only one file can be played");
            options.file = option;
            continue;
        }
        if (option == "--no-vcam") {
            options.virtualCamera = false;
            continue;
        }
        if (value == nullptr) return bad("needs a value");
        ++i;
        long number = 0;
        if (option == "--size") {
            if (!ParseSize(value, options.width, options.height)) return bad("expected WxH");
        } else if (option == "--format") {
            if (!ParseFormat(value, options.pixelFormat)) {
                return bad("expected bgr24, bgra or yuyv422");
            }
        } else if (option == "--fps") {
            if (!ParseInt(value, 1, 240, number)) return bad("expected 1 to 240");
            options.frameRate = static_cast<int>(number);
        } else if (option == "--frames") {
            if (!ParseInt(value, 1, std::numeric_limits<long>::max(), number)) {
                return bad("expected a positive count");
            }
            options.frames = number;
            framesGiven = true;
        } else if (option == "--seconds") {
            if (!ParseSeconds(value, options.seconds)) return bad("expected a positive duration");
            secondsGiven = true;
        } else if (option == "--flags") {
            if (!ParseHex(value, options.processFlags)) return bad("expected a hexadecimal value");
        } else if (option == "--param") {
            std::pair<int, int> param;
            if (!ParseParam(value, param)) return bad("expected INDEX=VALUE with INDEX 0 to 15");
            options.params.push_back(param);
        } else if (option == "--layout") {
            if (!ParseLayout(value, options.layout)) {
                return bad("expected fullscreen, dual or custom");
            }
        } else if (option == "--camera") {
            options.camera = value;
        } else if (option == "--camera-standin") {
            options.cameraStandin = value;
            options.camera = options.cameraStandin.substr(0, options.cameraStandin.find('|'));
        } else if (option == "--raw-out") {
            options.rawOut = value;
        } else if (option == "--png-every") {
            if (!ParseInt(value, 1, std::numeric_limits<int>::max(), number)) {
                return bad("expected a positive frame interval");
            }
            if (i + 1 >= argc) return bad("needs a folder after the interval");
            options.pngEvery = static_cast<int>(number);
            options.pngDir = argv[++i];
        } else {
            return bad("unknown option");
        }
    }
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
