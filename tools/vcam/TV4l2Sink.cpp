#include "tools/vcam/TV4l2Sink.h"

#include <cerrno>
#include <cstring>

namespace pelorn::vcam {
namespace {

bool PackingFor(int format, platform::TV4l2Packing* packing) {
    switch (format) {
        case 1: *packing = platform::TV4l2Packing::Yuyv; return true;
        case 3: *packing = platform::TV4l2Packing::Bgr24; return true;
        case 28: *packing = platform::TV4l2Packing::Bgra; return true;
        default: return false;
    }
}

}  // namespace

int TV4l2Sink::Configure(int width, int height, int format) {
    m_bConfigured = false;
    platform::TV4l2Packing packing;
    if (width <= 0 || height <= 0 || !PackingFor(format, &packing)) return EINVAL;
    if (int error = m_pOutput->SetFormat(width, height, packing)) return error;
    const platform::TV4l2OutputFormat& agreed = m_pOutput->Format();
    m_nPackedLine = static_cast<size_t>(width) * platform::TV4l2Output::BytesPerPixel(packing);
    if (agreed.bytesPerLine == m_nPackedLine && agreed.sizeImage == m_nPackedLine * height) {
        m_padded.clear();
    } else {
        m_padded.assign(agreed.sizeImage, 0);
    }
    m_bConfigured = true;
    return 0;
}

int TV4l2Sink::Write(const uint8_t* pixels, size_t size) {
    if (!m_bConfigured) return EAGAIN;
    const platform::TV4l2OutputFormat& agreed = m_pOutput->Format();
    if (size != m_nPackedLine * agreed.height) return EAGAIN;
    if (m_padded.empty()) return m_pOutput->WriteFrame(pixels, size);
    for (uint32_t row = 0; row < agreed.height; ++row) {
        std::memcpy(m_padded.data() + static_cast<size_t>(row) * agreed.bytesPerLine,
                    pixels + row * m_nPackedLine, m_nPackedLine);
    }
    return m_pOutput->WriteFrame(m_padded.data(), m_padded.size());
}

}  // namespace pelorn::vcam
