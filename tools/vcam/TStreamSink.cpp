#include "tools/vcam/TStreamSink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

namespace pelorn::vcam {
namespace {

constexpr char kFrameMarker[] = "FRAME\n";
constexpr size_t kFrameMarkerBytes = sizeof kFrameMarker - 1;

int WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

// The planes of a y4m frame: 4:2:2 for YUYV, 4:2:0 for I420 and NV12, 4:4:4
// for the RGB formats; rows packed.
TPictureLayout Y4mPlanes(int format, int width, int height) {
    if (format == kAvYuv420p || format == kAvNv12) return LayoutOf(kAvYuv420p, width, height);
    if (LayoutOf(format, width, height).planeCount != 1) return {};
    const size_t chromaWidth = format == kAvYuyv422 ? (width + 1) / 2 : width;
    TPictureLayout layout;
    layout.planeCount = 3;
    for (int plane = 0; plane < 3; ++plane) {
        layout.rowBytes[plane] = layout.stride[plane] = plane == 0 ? width : chromaWidth;
        layout.rows[plane] = height;
        layout.offset[plane] = layout.bytes;
        layout.bytes += layout.stride[plane] * height;
    }
    return layout;
}

const char* Y4mColourSpace(int format) {
    switch (format) {
        case kAvYuyv422: return "422";
        case kAvYuv420p:
        case kAvNv12: return "420jpeg";
        default: return "444";
    }
}

}  // namespace

TStreamSink::TStreamSink(int fd, bool ownsFd, TStreamKind kind, int framesPerSecond)
    : m_fd(fd), m_bOwnsFd(ownsFd), m_kind(kind), m_nFramesPerSecond(framesPerSecond) {}

TStreamSink::~TStreamSink() {
    if (m_bOwnsFd && m_fd >= 0) ::close(m_fd);
}

int TStreamSink::Configure(int width, int height, int format) {
    if (m_kind == TStreamKind::Raw) return 0;
    if (m_nFormat < 0) return StartY4m(width, height, format);
    m_bMatchesStream = width == m_nWidth && height == m_nHeight && format == m_nFormat;
    return 0;
}

int TStreamSink::StartY4m(int width, int height, int format) {
    m_planes = Y4mPlanes(format, width, height);
    if (m_planes.planeCount == 0) return EINVAL;
    m_nWidth = width;
    m_nHeight = height;
    m_nFormat = format;
    m_bMatchesStream = true;
    m_frame.assign(kFrameMarkerBytes + m_planes.bytes, 0);
    std::memcpy(m_frame.data(), kFrameMarker, kFrameMarkerBytes);
    if (format == kAvBgr24 || format == kAvRgb24) m_bgra.assign(static_cast<size_t>(width) * height * 4, 0);

    char header[128];
    const int length = std::snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C%s\n",
                                     width, height, m_nFramesPerSecond, Y4mColourSpace(format));
    return WriteAll(m_fd, reinterpret_cast<const uint8_t*>(header), static_cast<size_t>(length));
}

// libyuv names packed formats by their value as a little-endian word: its
// "ARGB" is B, G, R, A in memory (our BGRA), "RGB24" is B, G, R (our BGR24),
// "RAW" is R, G, B (our RGB24), "YUY2" is Y0 U Y1 V (our YUYV).
void TStreamSink::ConvertToPlanar(const uint8_t* pixels) {
    const int width = m_nWidth;
    const int height = m_nHeight;
    uint8_t* planes[kMaxPlanes];
    int32_t strides[kMaxPlanes];
    PlanePointers(m_planes, m_frame.data() + kFrameMarkerBytes, planes, strides);
    switch (m_nFormat) {
        case kAvYuyv422:
            libyuv::YUY2ToI422(pixels, static_cast<int>(LayoutOf(kAvYuyv422, width, height).stride[0]), planes[0], strides[0], planes[1], strides[1],
                               planes[2], strides[2], width, height);
            return;
        case kAvYuv420p:
            std::memcpy(planes[0], pixels, m_planes.bytes);
            return;
        case kAvNv12: {
            const TPictureLayout nv12 = LayoutOf(kAvNv12, width, height);
            libyuv::NV12ToI420(pixels, static_cast<int>(nv12.stride[0]), pixels + nv12.offset[1],
                               static_cast<int>(nv12.stride[1]), planes[0], strides[0], planes[1],
                               strides[1], planes[2], strides[2], width, height);
            return;
        }
        default:
            break;
    }
    const uint8_t* bgra = pixels;
    if (m_nFormat == kAvBgr24) {
        libyuv::RGB24ToARGB(pixels, width * 3, m_bgra.data(), width * 4, width, height);
        bgra = m_bgra.data();
    } else if (m_nFormat == kAvRgb24) {
        libyuv::RAWToARGB(pixels, width * 3, m_bgra.data(), width * 4, width, height);
        bgra = m_bgra.data();
    }
    libyuv::ARGBToI444(bgra, width * 4, planes[0], strides[0], planes[1], strides[1], planes[2],
                       strides[2], width, height);
}

int TStreamSink::Write(const uint8_t* pixels, size_t size) {
    if (m_kind == TStreamKind::Raw) return WriteAll(m_fd, pixels, size);
    if (!m_bMatchesStream) {
        ++m_nSkipped;
        return 0;
    }
    ConvertToPlanar(pixels);
    return WriteAll(m_fd, m_frame.data(), m_frame.size());
}

}  // namespace pelorn::vcam
