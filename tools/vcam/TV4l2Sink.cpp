#include "tools/vcam/TV4l2Sink.h"

#include <cerrno>
#include <cstring>

namespace pelorn::vcam {
namespace {

bool PackingFor(int format, platform::TV4l2Packing* packing) {
    switch (format) {
        case kAvYuyv422: *packing = platform::TV4l2Packing::Yuyv; return true;
        case kAvBgr24: *packing = platform::TV4l2Packing::Bgr24; return true;
        case kAvBgra: *packing = platform::TV4l2Packing::Bgra; return true;
        case kAvYuv420p: *packing = platform::TV4l2Packing::I420; return true;
        case kAvNv12: *packing = platform::TV4l2Packing::Nv12; return true;
        case kAvRgb24: *packing = platform::TV4l2Packing::Rgb24; return true;
        default: return false;
    }
}

bool SameLayout(const TPictureLayout& a, const TPictureLayout& b) {
    if (a.planeCount != b.planeCount || a.bytes != b.bytes) return false;
    for (int plane = 0; plane < a.planeCount; ++plane) {
        if (a.stride[plane] != b.stride[plane] || a.offset[plane] != b.offset[plane]) return false;
    }
    return true;
}

}  // namespace

int TV4l2Sink::Configure(int width, int height, int format) {
    m_bConfigured = false;
    platform::TV4l2Packing packing;
    if (width <= 0 || height <= 0 || !PackingFor(format, &packing)) return EINVAL;
    if (int error = m_pOutput->SetFormat(width, height, packing)) return error;
    const platform::TV4l2OutputFormat& agreed = m_pOutput->Format();
    m_packed = LayoutOf(format, width, height);
    m_device = LayoutOf(format, width, height, agreed.bytesPerLine);
    m_device.bytes = agreed.sizeImage;
    if (SameLayout(m_packed, m_device)) {
        m_padded.clear();
    } else {
        m_padded.assign(agreed.sizeImage, 0);
    }
    m_bConfigured = true;
    return 0;
}

int TV4l2Sink::Write(const uint8_t* pixels, size_t size) {
    if (!m_bConfigured) return EAGAIN;
    if (size != m_packed.bytes) return EAGAIN;
    if (m_padded.empty()) return m_pOutput->WriteFrame(pixels, size);
    for (int plane = 0; plane < m_packed.planeCount; ++plane) {
        for (int row = 0; row < m_packed.rows[plane]; ++row) {
            std::memcpy(m_padded.data() + m_device.offset[plane] + row * m_device.stride[plane],
                        pixels + m_packed.offset[plane] + row * m_packed.stride[plane],
                        m_packed.rowBytes[plane]);
        }
    }
    return m_pOutput->WriteFrame(m_padded.data(), m_padded.size());
}

}  // namespace pelorn::vcam
