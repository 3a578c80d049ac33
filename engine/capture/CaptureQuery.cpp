#include "engine/capture/CaptureQuery.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace pelorn {
namespace {

using platform::kIntervalUnits;
using platform::TCaptureMode;

constexpr int kNeverNearest = 999999;

enum : int {
    kModeNone = 0,
    kModeExact = 1,
    kModeExchanged = 2,
    kModeNearSmaller = 4,
    kModeNearLarger = 8,
    kModePortraitBit = 2,  // 4 -> 6, 8 -> 10
};

const TCaptureMode* FindSize(const std::vector<TCaptureMode>& modes, int width, int height) {
    for (const TCaptureMode& mode : modes)
        if (mode.width == width && mode.height == height) return &mode;
    return nullptr;
}

// The first mode nearest to the request (compared the other way round for a
// portrait or square one).
const TCaptureMode* FindNearest(const std::vector<TCaptureMode>& modes, int width, int height) {
    const TCaptureMode* nearest = nullptr;
    int best = kNeverNearest;
    for (const TCaptureMode& mode : modes) {
        const int distance = width > height ? std::abs(mode.width - width) + std::abs(mode.height - height)
                                            : std::abs(mode.height - width) + std::abs(mode.width - height);
        if (distance < best) {
            best = distance;
            nearest = &mode;
        }
    }
    return nearest;
}

int ChooseSize(const std::vector<TCaptureMode>& modes, int width, int height, int16_t* outWidth,
               int16_t* outHeight) {
    if (const TCaptureMode* exact = FindSize(modes, width, height)) {
        *outWidth = static_cast<int16_t>(exact->width);
        *outHeight = static_cast<int16_t>(exact->height);
        return kModeExact;
    }
    if (const TCaptureMode* exchanged = FindSize(modes, height, width)) {
        *outWidth = static_cast<int16_t>(exchanged->width);
        *outHeight = static_cast<int16_t>(exchanged->height);
        return kModeExchanged;
    }
    const TCaptureMode* nearest = FindNearest(modes, width, height);
    if (nearest == nullptr) return kModeNone;
    *outWidth = static_cast<int16_t>(nearest->width);
    *outHeight = static_cast<int16_t>(nearest->height);
    const bool larger = int64_t{*outWidth} * *outHeight > int64_t{width} * height;
    return (larger ? kModeNearLarger : kModeNearSmaller) | (width > height ? 0 : kModePortraitBit);
}

// The mode of the chosen size whose interval is nearest to `target`; the
// later one of equals.
const TCaptureMode* ChooseRateMode(const std::vector<TCaptureMode>& modes, int width, int height,
                                   int64_t target) {
    const TCaptureMode* chosen = nullptr;
    int64_t best = 0;
    for (const TCaptureMode& mode : modes) {
        if (mode.width != width || mode.height != height) continue;
        const int64_t distance = std::llabs(mode.avgTimePerFrame - target);
        if (chosen == nullptr || distance <= best) {
            chosen = &mode;
            best = distance;
        }
    }
    return chosen;
}

int RateOfInterval(int64_t interval) {
    return static_cast<int>(static_cast<double>(kIntervalUnits) / static_cast<double>(interval) + 0.5);
}

int ChooseRate(const TCaptureMode& mode, int rate, int64_t target) {
    // A mode without a listed interval cannot say what it runs at.
    if (mode.avgTimePerFrame <= 0 || mode.minInterval <= 0 || mode.maxInterval <= 0) return rate;
    const int native = RateOfInterval(mode.avgTimePerFrame);
    const int lowest = RateOfInterval(mode.maxInterval);
    const int highest = RateOfInterval(mode.minInterval);
    if (rate == native) return rate;
    if (rate < lowest) return lowest;
    if (rate > highest) return highest;
    return mode.AcceptsInterval(target) ? rate : native;
}

}  // namespace

std::unique_ptr<TCapturePin> FindCapturePin(const char* friendlyName) {
    if (friendlyName == nullptr) return nullptr;
    const bool byPath = std::strncmp(friendlyName, "/dev/video", 10) == 0;
    std::unique_ptr<TCapturePin> pin;
    platform::WalkCaptureNodes(
        [&](const platform::TCaptureNode& node, std::unique_ptr<platform::IV4l2Device>& device) {
            if ((byPath ? node.path : node.cardName) != friendlyName) return false;
            pin = std::make_unique<TCapturePin>(TCapturePin{node, std::move(device)});
            return true;
        });
    return pin;
}

int QueryCaptureMode(const char* friendlyName, int16_t width, int16_t height, int16_t frameRate,
                     int16_t* outWidth, int16_t* outHeight, int16_t* outFrameRate,
                     int32_t* outPixelRequest) {
    const std::unique_ptr<TCapturePin> pin = FindCapturePin(friendlyName);
    if (!pin) return kModeNone;
    const std::vector<TCaptureMode> modes = platform::ReadCaptureModes(*pin->device, width, height);

    int mode = ChooseSize(modes, width, height, outWidth, outHeight);
    // A rate of 0 or less has no interval to aim at.
    if (frameRate <= 0) return kModeNone;
    const int64_t target = static_cast<int64_t>(static_cast<float>(kIntervalUnits) / frameRate + 0.5f);
    const TCaptureMode* chosen = ChooseRateMode(modes, *outWidth, *outHeight, target);
    if (mode == kModeNone || chosen == nullptr) {
        *outFrameRate = frameRate;
        return kModeNone;
    }
    *outFrameRate = static_cast<int16_t>(ChooseRate(*chosen, frameRate, target));
    if (outPixelRequest != nullptr) *outPixelRequest = chosen->pixelRequest;
    return mode;
}

}  // namespace pelorn
