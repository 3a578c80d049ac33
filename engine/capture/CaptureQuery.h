#pragma once

#include <cstdint>
#include <memory>

#include "platform/CaptureDevices.h"

namespace pelorn {

// A camera's capture node, opened for its capability ioctls.
struct TCapturePin {
    platform::TCaptureNode node;
    std::unique_ptr<platform::IV4l2Device> device;
};

// The first capture node whose card name equals `friendlyName` byte for
// byte; a name "/dev/videoN" selects that node. Null when none matches.
std::unique_ptr<TCapturePin> FindCapturePin(const char* friendlyName);

// The camera's capture size and rate that best serve a width x height output
// at frameRate, and the scaling mode that gets there (0 when the camera has
// no usable mode). The outputs keep what the caller put there when the
// query gives up; `outPixelRequest` (may be null) receives the chosen mode's
// pixel request (platform::kMjpegRequest or an AVPixelFormat).
int QueryCaptureMode(const char* friendlyName, int16_t width, int16_t height, int16_t frameRate,
                     int16_t* outWidth, int16_t* outHeight, int16_t* outFrameRate,
                     int32_t* outPixelRequest = nullptr);

}  // namespace pelorn
