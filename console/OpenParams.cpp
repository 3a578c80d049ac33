#include "console/OpenParams.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "console/media/PixFmtName.h"
#include "console/services/SettingsStore.h"

namespace console {

namespace {

constexpr std::array<std::pair<int, int>, 8> kSizes{{
    {640, 480}, {480, 640}, {640, 360}, {360, 640}, {1280, 720}, {720, 1280}, {1920, 1080}, {1080, 1920}}};
constexpr std::array<int, 3> kPixelFormats{3, 28, 1};
constexpr std::array<int, 2> kFrameRates{30, 25};

template <typename TList, typename TValue>
bool Contains(const TList& list, const TValue& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string Format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

}  // namespace

TOutputFormat ReadOutputFormat() {
    int16_t width = 0, height = 0, fps = 0, pixelFormat = 0;
    ReadClient(&width, &height, &fps, &pixelFormat);
    return {width, height, pixelFormat, fps};
}

std::string CheckOutputFormat(const TOutputFormat& format) {
    if (!Contains(kSizes, std::make_pair(format.width, format.height)))
        return Format("指定的输出分辨率不被支持: %dx%d", format.width, format.height);
    if (!Contains(kPixelFormats, format.pixelFormat))
        return Format("指定的颜色空间(输出)不被支持: %s", PixFmtName(format.pixelFormat));
    if (!Contains(kFrameRates, format.frameRate)) return Format("指定的输出帧率不被支持: %d", format.frameRate);
    return {};
}

TCapOpenParam MakeOpenParam(int16_t mainKind, const std::string& mainName, int displayIndex,
                            const TOutputFormat& format, void* owner, common::IRtLog* log) {
    TCapOpenParam param;
    param.ownerWindow = owner;
    param.sources[0].kind = mainKind;
    param.sources[0].name = mainName;
    if (displayIndex >= 0) {
        param.sources[1].kind = kCapSourceScreen;
        param.sources[1].name = std::to_string(displayIndex);
        param.sources[1].region = {0, 0, format.width - 1, format.height - 1};
    } else {
        param.sources[1].kind = kCapSourceNone;
    }
    param.outWidth = static_cast<int16_t>(format.width);
    param.outHeight = static_cast<int16_t>(format.height);
    param.outFormat = static_cast<int16_t>(format.pixelFormat);
    param.outFrameRate = static_cast<int16_t>(format.frameRate);
    param.logSink = log;
    return param;
}

}  // namespace console
