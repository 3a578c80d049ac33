#include "engine/compositor/TFrameOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace pelorn {
namespace {

constexpr size_t kMaxPixels = 1920 * 1080;

struct TFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

struct TCodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct TPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    bool ok = size > 0;
    if (ok) {
        bytes.resize(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        ok = std::fread(bytes.data(), 1, static_cast<size_t>(size), file) ==
             static_cast<size_t>(size);
        bytes.resize(static_cast<size_t>(size));
    }
    std::fclose(file);
    return ok;
}

// Decodes the one picture of a PNG or BMP file.
TFramePtr DecodePicture(const std::string& path, AVCodecID codecId) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, bytes))
        return nullptr;
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (codec == nullptr)
        return nullptr;
    std::unique_ptr<AVCodecContext, TCodecDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, TPacketDeleter> packet(av_packet_alloc());
    TFramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame || avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0)
        return nullptr;
    std::memcpy(packet->data, bytes.data(), bytes.size());
    if (avcodec_send_packet(context.get(), packet.get()) < 0)
        return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    if (avcodec_receive_frame(context.get(), frame.get()) < 0)
        return nullptr;
    if (frame->width < 1 || frame->height < 1)
        return nullptr;
    return frame;
}

// Whether the decoded picture carries an alpha channel (a palette counts when
// any of its entries is not opaque).
bool HasAlpha(const AVFrame& frame) {
    const AVPixFmtDescriptor* descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (descriptor == nullptr)
        return false;
    if (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA)
        return true;
    if (frame.format != AV_PIX_FMT_PAL8 || frame.data[1] == nullptr)
        return false;
    for (int i = 0; i < 256; ++i) {
        uint32_t entry;
        std::memcpy(&entry, frame.data[1] + i * 4, 4);
        if ((entry >> 24) != 0xFF)
            return true;
    }
    return false;
}

// Resamples (bilinearly, when the size differs) into a packed top-down picture.
bool Resample(const AVFrame& frame, AVPixelFormat format, int width, int height, uint8_t* out) {
    SwsContext* scaler =
        sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width,
                       height, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr)
        return false;
    uint8_t* planes[4] = {out, nullptr, nullptr, nullptr};
    int linesizes[4] = {width * (format == AV_PIX_FMT_BGRA ? 4 : 3), 0, 0, 0};
    const int rows =
        sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, linesizes);
    sws_freeContext(scaler);
    return rows == height;
}

// Bilinear sample of a BGRA picture at (x, y) in source pixel coordinates.
void SampleBgra(const uint8_t* picture, int width, int height, float x, float y, uint8_t* out) {
    x = std::clamp(x, 0.0f, static_cast<float>(width - 1));
    y = std::clamp(y, 0.0f, static_cast<float>(height - 1));
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, width - 1);
    const int y1 = std::min(y0 + 1, height - 1);
    const float fx = x - x0;
    const float fy = y - y0;
    const size_t stride = static_cast<size_t>(width) * 4;
    const uint8_t* p00 = picture + y0 * stride + x0 * 4;
    const uint8_t* p01 = picture + y0 * stride + x1 * 4;
    const uint8_t* p10 = picture + y1 * stride + x0 * 4;
    const uint8_t* p11 = picture + y1 * stride + x1 * 4;
    for (int c = 0; c < 4; ++c) {
        const float top = p00[c] + (p01[c] - p00[c]) * fx;
        const float bottom = p10[c] + (p11[c] - p10[c]) * fx;
        out[c] = static_cast<uint8_t>(top + (bottom - top) * fy + 0.5f);
    }
}

kernels::TRect Clip(kernels::TRect rect, int width, int height) {
    return {std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width - 1),
            std::min(rect.bottom, height - 1)};
}

}  // namespace

TFrameOverlay::TFrameOverlay() = default;
TFrameOverlay::~TFrameOverlay() = default;

void TFrameOverlay::Unload() {
    m_bLoaded = false;
    m_bPlaced = false;
    m_bLayerEmpty = true;
    m_strFramePath.clear();
    m_strBasePath.clear();
    m_rcLayer = m_rcInner = {0, 0, -1, -1};
}

bool TFrameOverlay::Load(const std::string& framePath, const std::string& basePath, int width,
                         int height) {
    if (m_bLoaded && framePath == m_strFramePath && basePath == m_strBasePath &&
        width == m_nWidth && height == m_nHeight) {
        return true;
    }
    Unload();
    if (width < 1 || height < 1 || static_cast<size_t>(width) * height > kMaxPixels)
        return false;

    TFramePtr frame = DecodePicture(framePath, AV_CODEC_ID_PNG);
    TFramePtr base = DecodePicture(basePath, AV_CODEC_ID_BMP);
    if (!frame || !base || !HasAlpha(*frame))
        return false;

    if (!m_pFrame) {
        m_pFrame = std::make_unique_for_overwrite<uint8_t[]>(kMaxPixels * 4);
        m_pBase = std::make_unique_for_overwrite<uint8_t[]>(kMaxPixels * 3);
        m_pPlacedFrame = std::make_unique<uint8_t[]>(kMaxPixels * 3);
        m_pPlacedAlpha = std::make_unique<uint8_t[]>(kMaxPixels);
    }
    if (!Resample(*frame, AV_PIX_FMT_BGRA, width, height, m_pFrame.get()) ||
        !Resample(*base, AV_PIX_FMT_BGR24, width, height, m_pBase.get())) {
        return false;
    }
    m_nWidth = width;
    m_nHeight = height;
    m_strFramePath = framePath;
    m_strBasePath = basePath;
    m_bLoaded = true;
    return true;
}

void TFrameOverlay::Place(const TCapLayer& layer) {
    if (!m_bLoaded)
        return;
    const TCapPoint& first = layer.Position[0];
    const TCapPoint& third = layer.Position[2];
    if (m_bPlaced && first.x == m_lastFirst.x && first.y == m_lastFirst.y &&
        third.x == m_lastThird.x && third.y == m_lastThird.y && layer.BrdAdjust == m_nLastBorder) {
        return;
    }
    m_bPlaced = true;
    m_lastFirst = first;
    m_lastThird = third;
    m_nLastBorder = layer.BrdAdjust;

    const size_t pixels = static_cast<size_t>(m_nWidth) * m_nHeight;
    std::memset(m_pPlacedFrame.get(), 0, pixels * 3);
    std::memset(m_pPlacedAlpha.get(), 0, pixels);
    m_rcLayer = m_rcInner = {0, 0, -1, -1};
    const kernels::TRect rect{first.x, first.y, third.x, third.y};
    m_bLayerEmpty = rect.right <= rect.left || rect.bottom <= rect.top;
    if (m_bLayerEmpty)
        return;

    // The frame picture scaled to the layer's size; only the part inside the
    // frame is sampled, so a rectangle reaching out of it is cut off there.
    const double rectWidth = static_cast<double>(rect.right) - rect.left + 1;
    const double rectHeight = static_cast<double>(rect.bottom) - rect.top + 1;
    const float stepX = static_cast<float>(m_nWidth / rectWidth);
    const float stepY = static_cast<float>(m_nHeight / rectHeight);
    m_rcLayer = Clip(rect, m_nWidth, m_nHeight);
    for (int y = m_rcLayer.top; y <= m_rcLayer.bottom; ++y) {
        const float sourceY = (static_cast<float>(y - rect.top) + 0.5f) * stepY - 0.5f;
        for (int x = m_rcLayer.left; x <= m_rcLayer.right; ++x) {
            const float sourceX = (static_cast<float>(x - rect.left) + 0.5f) * stepX - 0.5f;
            uint8_t bgra[4];
            SampleBgra(m_pFrame.get(), m_nWidth, m_nHeight, sourceX, sourceY, bgra);
            const size_t at = static_cast<size_t>(y) * m_nWidth + x;
            std::memcpy(m_pPlacedFrame.get() + at * 3, bgra, 3);
            m_pPlacedAlpha[at] = bgra[3];
        }
    }

    const int borderX = 2 * layer.BrdAdjust;
    const int borderY = static_cast<int>(
        std::lround(2.0 * layer.BrdAdjust * m_nHeight / static_cast<double>(m_nWidth)));
    m_rcInner =
        Clip({rect.left + borderX, rect.top + borderY, rect.right - borderX, rect.bottom - borderY},
             m_nWidth, m_nHeight);
}

}  // namespace pelorn
