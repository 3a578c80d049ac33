#pragma once

#include <memory>
#include <vector>

#include "platform/V4l2Output.h"
#include "tools/vcam/IFrameSink.h"

namespace pelorn::vcam {

// --v4l2 /dev/videoN: a loopback device's output side, one write() per
// frame, the format set again whenever the picture changes.
class TV4l2Sink final : public IFrameSink {
public:
    explicit TV4l2Sink(std::unique_ptr<platform::TV4l2Output> output) : m_pOutput(std::move(output)) {}

    int Configure(int width, int height, int format) override;
    int Write(const uint8_t* pixels, size_t size) override;

    const platform::TV4l2OutputFormat& Format() const { return m_pOutput->Format(); }

private:
    std::unique_ptr<platform::TV4l2Output> m_pOutput;
    bool m_bConfigured = false;
    size_t m_nPackedLine = 0;
    // The frame laid out with the device's line length, when that is longer
    // than a packed line; allocated once per format.
    std::vector<uint8_t> m_padded;
};

}  // namespace pelorn::vcam
