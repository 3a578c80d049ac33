#pragma once

#include <cstdint>
#include <string>

#include "engine/ICapMattEngine.h"

namespace pelorn {

// A capturer of one display into 32-bit BGRA pictures of a chosen size.
class ICapScreen {
public:
    virtual ~ICapScreen() = default;

    // Opens on the display of that name (as DisplayList names it); the size
    // and region are not used here. 0 on success.
    virtual int Open(const std::string& deviceName, int width, int height, const TCapRegion* region) = 0;
    // Output size (0 or less: the display's) and the inclusive rectangle of
    // the output that receives the picture (null: all of it). 0 on success;
    // a size above 1920 x 1080 is refused and the earlier size kept.
    virtual int SetSize(int width, int height, const TCapRegion* region) = 0;
    // Writes the current picture into `dst` (null: grab without copying);
    // returns the bytes of the display's picture, 0 when none was had.
    virtual int Capture(uint8_t* dst) = 0;
};

}  // namespace pelorn
