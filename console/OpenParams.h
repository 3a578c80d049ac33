#pragma once

#include <string>

#include "engine/ICapMattEngine.h"

namespace console {

// The output format the console asks of the engine.
struct TOutputFormat {
    int width;
    int height;
    int pixelFormat;
    int frameRate;
};

// The stored output format, with its defaults.
TOutputFormat ReadOutputFormat();

// The message of the first check the format fails, or empty when the engine
// supports it.
std::string CheckOutputFormat(const TOutputFormat& format);

// The open parameters for a main source (a camera or a media file) over the
// display of that index; a negative index opens no display.
TCapOpenParam MakeOpenParam(int16_t mainKind, const std::string& mainName, int displayIndex,
                            const TOutputFormat& format, void* owner, common::IRtLog* log);

}  // namespace console
