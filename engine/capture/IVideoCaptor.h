#pragma once

#include <cstdint>
#include <string>

#include "engine/ICapMattEngine.h"

struct AVStream;

namespace pelorn {

// What a camera is opened with.
struct TCamOpenParam {
    std::string deviceName;  // the card name, or a node path "/dev/videoN"
    int32_t width = 0;       // 0 or less requests no size
    int32_t height = 0;
    int32_t frameRate = 0;     // 0 or less requests no rate
    int32_t pixelFormat = -1;  // AVPixelFormat; -1 any, -2 the MJPEG stream
    InputFrameCallback callback = nullptr;
    int32_t lowLatency = 0;
    void* user = nullptr;
};

// A camera delivering its pictures to an input callback on a reader thread.
class IVideoCaptor {
public:
    // 1 once the camera has delivered a first picture of the requested size;
    // 0 with the reason in front of the error trail. `actual` (may be null)
    // receives the delivered format.
    virtual int Open(TCamOpenParam* param, TCapVideoFormat* actual) = 0;
    // Starts the reader unless one exists or nothing is open; 1.
    virtual int Start() = 0;
    // Stops the reader and closes the camera.
    virtual void Stop() = 0;
    // 0 nothing open, 2 a reader was started, 1 open but not started.
    virtual int GetState() = 0;
    // As GetState; when open, `out` (may be null) receives the delivered format.
    virtual int GetFormat(TCapVideoFormat* out) = 0;
    // The open video stream, or null.
    virtual AVStream* GetStream() = 0;
    // The delivered format when this device is open with this request, else null.
    virtual TCapVideoFormat* MatchOpen(const char* deviceName, TCapVideoFormat* request) = 0;

protected:
    ~IVideoCaptor() = default;
};

}  // namespace pelorn
