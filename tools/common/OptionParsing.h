#pragma once

// Values of the runners' command-line options.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// A whole decimal number within [minimum, maximum].
inline bool ParseInt(const char* text, long minimum, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= minimum && value <= maximum;
}

// "WxH", each side 2 to 32767.
inline bool ParseSize(const char* text, int& width, int& height) {
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

// The engine's output formats: bgr24, bgra, yuyv422 (AVPixelFormat 3, 28, 1).
inline bool ParseFormat(const char* text, int& pixelFormat) {
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

inline bool ParseSeconds(const char* text, double& seconds) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && seconds > 0 && seconds < 1e7;
}

// The walk of a runner's command line: one positional FILE, "--help" or
// "-h", the flags without a value named in `flags`, and "--name value"
// pairs. Each option goes to take(option, value, index): value is null for a
// flag, and take may consume further arguments by advancing index; it
// returns why the value is bad, or null. False with `error` set at the first
// bad argument; whether a file was named is the caller's to judge.
template <typename Take>
bool WalkOptions(int argc, const char* const* argv, const std::vector<std::string_view>& flags,
                 std::string& file, bool& help, std::string& error, Take take) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            help = true;
            return true;
        }
        const char* problem = nullptr;
        if (option.rfind("--", 0) != 0) {
            if (!file.empty()) problem = "only one file can be played";
            file = option;
        } else if (std::find(flags.begin(), flags.end(), option) != flags.end()) {
            problem = take(option, nullptr, i);
        } else if (i + 1 >= argc) {
            problem = "needs a value";
        } else {
            ++i;
            problem = take(option, argv[i], i);
        }
        if (problem != nullptr) {
            error = option + ": " + problem;
            return false;
        }
    }
    return true;
}

}  // namespace tools
