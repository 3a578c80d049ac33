#include "tools/vcam/TStreamSink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

size_t ChromaWidth(int width, int format) { return format == 1 ? (width + 1) / 2 : width; }

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
    if (format != 1 && format != 3 && format != 28) return EINVAL;
    m_nWidth = width;
    m_nHeight = height;
    m_nFormat = format;
    m_bMatchesStream = true;
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    const size_t chromaBytes = ChromaWidth(width, format) * height;
    m_frame.assign(kFrameMarkerBytes + lumaBytes + 2 * chromaBytes, 0);
    std::memcpy(m_frame.data(), kFrameMarker, kFrameMarkerBytes);
    if (format == 3) m_bgra.assign(lumaBytes * 4, 0);

    char header[128];
    const int length = std::snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C%s\n",
                                     width, height, m_nFramesPerSecond, format == 1 ? "422" : "444");
    return WriteAll(m_fd, reinterpret_cast<const uint8_t*>(header), static_cast<size_t>(length));
}

// libyuv names packed formats by their value as a little-endian word: its
// "ARGB" is B, G, R, A in memory (our BGRA), "RGB24" is B, G, R (our BGR24),
// "YUY2" is Y0 U Y1 V (our YUYV).
void TStreamSink::ConvertToPlanar(const uint8_t* pixels) {
    const int width = m_nWidth;
    const int height = m_nHeight;
    const int chromaWidth = static_cast<int>(ChromaWidth(width, m_nFormat));
    uint8_t* y = m_frame.data() + kFrameMarkerBytes;
    uint8_t* u = y + static_cast<size_t>(width) * height;
    uint8_t* v = u + static_cast<size_t>(chromaWidth) * height;
    if (m_nFormat == 1) {
        libyuv::YUY2ToI422(pixels, width * 2, y, width, u, chromaWidth, v, chromaWidth, width, height);
        return;
    }
    const uint8_t* bgra = pixels;
    if (m_nFormat == 3) {
        libyuv::RGB24ToARGB(pixels, width * 3, m_bgra.data(), width * 4, width, height);
        bgra = m_bgra.data();
    }
    libyuv::ARGBToI444(bgra, width * 4, y, width, u, width, v, width, width, height);
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
