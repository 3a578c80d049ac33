#pragma once

#include <memory>
#include <vector>

#include "platform/V4l2Output.h"
#include "tools/vcam/IFrameSink.h"
#include "tools/vcam/TPictureLayout.h"

namespace pelorn::vcam {

// --v4l2 /dev/videoN: a loopback device's output side, one write() per
// frame, the format set again whenever the picture changes. Takes pictures
// of LayoutOf(format, width, height) in any format of TPictureLayout.h.
class TV4l2Sink final : public IFrameSink {
public:
    explicit TV4l2Sink(std::unique_ptr<platform::TV4l2Output> output) : m_pOutput(std::move(output)) {}

    // 0, EINVAL for a format V4L2 is not fed with here, or SetFormat's error.
    int Configure(int width, int height, int format) override;
    int Write(const uint8_t* pixels, size_t size) override;

    const platform::TV4l2OutputFormat& Format() const { return m_pOutput->Format(); }

private:
    std::unique_ptr<platform::TV4l2Output> m_pOutput;
    bool m_bConfigured = false;
    TPictureLayout m_packed;  // what Write is given
    TPictureLayout m_device;  // what the device reads, with its line length
    // The frame laid out with the device's line length, when that differs
    // from the packed one; allocated once per format.
    std::vector<uint8_t> m_padded;
};

}  // namespace pelorn::vcam
