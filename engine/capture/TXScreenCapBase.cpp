#include "engine/capture/TXScreenCapBase.h"

#include <algorithm>
#include <cstring>

namespace pelorn {

TXScreenCapBase::TXScreenCapBase(platform::EXGrabMethod method, std::string displayName,
                                 std::string converterPath)
    : m_grabber(method, std::move(displayName)),
      m_pConverter(converterPath.empty() ? std::make_unique<BrenvikDLL>()
                                         : std::make_unique<BrenvikDLL>(std::move(converterPath))) {
    if (m_pConverter->CreateScaler(m_scaler.Receive(), 3, 3) != 0) m_scaler.Reset();
}

int TXScreenCapBase::Open(const std::string& deviceName, int, int, const TCapRegion*) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_strDeviceName = deviceName;
    m_nOutWidth = m_nOutHeight = 0;
    m_requested = {};
    if (!m_scaler) return 1;
    return m_grabber.Open(deviceName) ? 0 : 1;
}

int TXScreenCapBase::SetSize(int width, int height, const TCapRegion* region) {
    std::lock_guard<std::mutex> guard(m_lock);
    TSize requested{width, height, region != nullptr, region != nullptr ? *region : TCapRegion{}};
    if (!m_grabber.IsOpen()) return 1;
    if (!ApplySize(requested)) return 1;
    m_requested = requested;
    return 0;
}

// Under the lock. The rectangle is clipped to the output, so the scaler never
// writes outside the caller's buffer.
bool TXScreenCapBase::ApplySize(const TSize& requested) {
    const int width = requested.width > 0 ? requested.width : m_grabber.Width();
    const int height = requested.height > 0 ? requested.height : m_grabber.Height();
    if (width > kMaxWidth || height > kMaxHeight) return false;
    TCapRegion rect = requested.hasRegion ? requested.region : TCapRegion{0, 0, width - 1, height - 1};
    rect.left = std::max(rect.left, 0);
    rect.top = std::max(rect.top, 0);
    rect.right = std::min(rect.right, width - 1);
    rect.bottom = std::min(rect.bottom, height - 1);
    if (rect.right < rect.left || rect.bottom < rect.top) return false;
    const int rectWidth = rect.right - rect.left + 1, rectHeight = rect.bottom - rect.top + 1;
    if (m_scaler->Configure(rectWidth, rectHeight, m_grabber.Width(), m_grabber.Height(), kPixCodeBgra) != 0) {
        return false;
    }
    m_nOutWidth = width;
    m_nOutHeight = height;
    m_rect = rect;
    m_bScaled = !(rectWidth == m_grabber.Width() && rectHeight == m_grabber.Height() && rectWidth == width &&
                  rectHeight == height);
    return true;
}

// Under the lock: the monitor moved or was resized; open it again and put the
// stored size back.
bool TXScreenCapBase::ReopenChanged() {
    if (!m_grabber.Open(m_strDeviceName)) return false;
    return m_nOutWidth == 0 || ApplySize(m_requested);
}

int TXScreenCapBase::Capture(uint8_t* dst) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_grabber.IsOpen()) return 0;
    platform::EXGrabResult result = m_grabber.Grab();
    if (result == platform::EXGrabResult::Changed) {
        if (!ReopenChanged()) return 0;
        result = m_grabber.Grab();
    }
    if (result != platform::EXGrabResult::Grabbed) return 0;
    if (dst != nullptr && m_nOutWidth > 0) WritePicture(dst);
    return m_grabber.Width() * m_grabber.Height() * 4;
}

void TXScreenCapBase::WritePicture(uint8_t* dst) {
    const int dstStride = m_nOutWidth * 4;
    const uint8_t* src = m_grabber.Pixels();
    const int srcStride = m_grabber.Stride();
    if (!m_bScaled) {
        for (int y = 0; y < m_nOutHeight; ++y) {
            std::memcpy(dst + static_cast<size_t>(y) * dstStride, src + static_cast<size_t>(y) * srcStride,
                        dstStride);
        }
        return;
    }
    uint8_t* const dstPlanes[] = {dst + static_cast<size_t>(m_rect.top) * dstStride + m_rect.left * 4};
    const int32_t dstLinesizes[] = {dstStride};
    const uint8_t* const srcPlanes[] = {src};
    const int32_t srcLinesizes[] = {srcStride};
    m_scaler->Run(dstPlanes, dstLinesizes, srcPlanes, srcLinesizes);
}

}  // namespace pelorn
