#include "console/TImageDraw.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <utility>

namespace console {

namespace {

constexpr int kBytesBgra = 4;

bool IsDrawableFormat(int format) {
    return format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_YUYV422 || format == AV_PIX_FMT_BGR24;
}

}  // namespace

TImageDraw::TImageDraw() : m_pSlot(av_frame_alloc()), m_pShown(av_frame_alloc()), m_pTaken(av_frame_alloc()) {}

TImageDraw::~TImageDraw() {
    Release();
    av_frame_free(&m_pSlot);
    av_frame_free(&m_pShown);
    av_frame_free(&m_pTaken);
}

int32_t TImageDraw::Init(IDrawWindow* window) {
    if (window == nullptr) return kInvalidArg;
    IDrawWindow* none = nullptr;
    m_pWindow.compare_exchange_strong(none, window);
    return 0;
}

int32_t TImageDraw::SetFormat(int width, int height, int pixelFormat) {
    if (pixelFormat < 0 || width <= 0 || height <= 0) return kInvalidArg;
    if (IsSize(width, height) && pixelFormat == GetFormat()) return 0;
    m_nWidth = width;
    m_nHeight = height;
    m_picture.assign(static_cast<size_t>(width) * height * kBytesBgra, 0);
    m_bPictureInPlace = false;
    av_frame_unref(m_pShown);
    m_nFormat.store(pixelFormat, std::memory_order_relaxed);
    return 0;
}

bool TImageDraw::IsSize(int width, int height) const { return width == m_nWidth && height == m_nHeight; }

void TImageDraw::Release() {
    m_pWindow.store(nullptr);
    {
        std::lock_guard<std::mutex> hold(m_slotLock);
        av_frame_unref(m_pSlot);
        m_bSlotFull = false;
    }
    av_frame_unref(m_pShown);
    m_bPictureInPlace = false;
    m_nFormat.store(-1, std::memory_order_relaxed);
}

int32_t TImageDraw::Draw(const AVFrame* frame, const TFrameNote& note) {
    IDrawWindow* window = m_pWindow.load();
    if (window == nullptr || GetFormat() < 0 || frame == nullptr || frame->data[0] == nullptr) return kFail;
    {
        std::lock_guard<std::mutex> hold(m_slotLock);
        if (m_bSlotFull) {
            av_frame_unref(m_pSlot);
            m_nReplaced.fetch_add(1, std::memory_order_relaxed);
        }
        // Every composed frame has its own buffer: a reference, no copy.
        m_bSlotFull = av_frame_ref(m_pSlot, frame) == 0;
        m_slotNote = note;
        if (!m_bSlotFull) return kFail;
    }
    if (!m_bRepaintPending.exchange(true)) window->RequestRepaint();
    return 0;
}

bool TImageDraw::SetPolled(bool polled) {
    m_bPolled = polled;
    // While polled the pending flag stays set, so Draw asks for nothing.
    m_bRepaintPending.store(polled);
    if (polled) return false;
    // A frame handed over before the flag was cleared asked for no repaint.
    std::lock_guard<std::mutex> hold(m_slotLock);
    return m_bSlotFull;
}

bool TImageDraw::Redraw() {
    if (!m_bPolled) m_bRepaintPending.store(false);
    {
        std::lock_guard<std::mutex> hold(m_slotLock);
        if (!m_bSlotFull) return false;
        av_frame_move_ref(m_pTaken, m_pSlot);
        m_shownNote = m_slotNote;
        m_bSlotFull = false;
    }
    // The shown frame's buffer may hold the last reference: it is let go
    // outside the lock the delivering thread takes.
    av_frame_unref(m_pShown);
    av_frame_move_ref(m_pShown, m_pTaken);
    m_bPictureInPlace = false;
    if (MakePicture()) return true;
    // A frame from before a restart to another size or format would be read
    // past its end at the configured size: it is not drawn.
    av_frame_unref(m_pShown);
    ++m_nRefused;
    return false;
}

bool TImageDraw::MakePicture() {
    const AVFrame& frame = *m_pShown;
    const int format = GetFormat();
    const bool formatFits = frame.format == format || (format == AV_PIX_FMT_BGRA && IsDrawableFormat(frame.format));
    if (!formatFits || !IsDrawableFormat(frame.format)) return false;
    if (std::max(frame.width, frame.height) != m_nWidth || std::min(frame.width, frame.height) != m_nHeight)
        return false;
    if (frame.width < frame.height) return PlacePortrait(frame);
    if (frame.format == AV_PIX_FMT_BGRA) {
        m_bPictureInPlace = true;
        return true;
    }
    return ConvertLandscape(frame, m_picture.data(), m_nWidth * kBytesBgra);
}

bool TImageDraw::ConvertLandscape(const AVFrame& frame, uint8_t* target, int stride) {
    switch (frame.format) {
        case AV_PIX_FMT_BGRA:
            libyuv::ARGBCopy(frame.data[0], frame.linesize[0], target, stride, frame.width, frame.height);
            return true;
        case AV_PIX_FMT_YUYV422:
            return libyuv::YUY2ToARGB(frame.data[0], frame.linesize[0], target, stride, frame.width,
                                      frame.height) == 0;
        case AV_PIX_FMT_BGR24:
            return libyuv::RGB24ToARGB(frame.data[0], frame.linesize[0], target, stride, frame.width,
                                       frame.height) == 0;
        default:
            return false;
    }
}

bool TImageDraw::PlacePortrait(const AVFrame& frame) {
    // A w x h portrait frame becomes (w * w / h) x w, centred in the h x w
    // picture (the left edge raised by one when odd).
    const int w = frame.width, h = frame.height;
    const int scaledWidth = w * w / h;
    int left = (h - scaledWidth) / 2;
    if (left % 2 != 0) ++left;
    const size_t portraitBytes = static_cast<size_t>(w) * h * kBytesBgra;
    if (m_portrait.size() != portraitBytes) m_portrait.resize(portraitBytes);
    if (!ConvertLandscape(frame, m_portrait.data(), w * kBytesBgra)) return false;
    const int stride = m_nWidth * kBytesBgra;
    libyuv::ARGBRect(m_picture.data(), stride, 0, 0, m_nWidth, m_nHeight, 0xFF000000u);
    return libyuv::ARGBScale(m_portrait.data(), w * kBytesBgra, w, h, m_picture.data() + left * kBytesBgra, stride,
                             std::min(scaledWidth, m_nWidth - left), m_nHeight, libyuv::kFilterBilinear) == 0;
}

TBgraView TImageDraw::Picture() const {
    if (m_bPictureInPlace)
        return {m_pShown->data[0], m_pShown->width, m_pShown->height, m_pShown->linesize[0]};
    if (m_picture.empty()) return {};
    return {m_picture.data(), m_nWidth, m_nHeight, m_nWidth * kBytesBgra};
}

bool TImageDraw::Stretch(uint8_t* target, int width, int height, int stride) const {
    const TBgraView picture = Picture();
    if (picture.data == nullptr || target == nullptr || width <= 0 || height <= 0) return false;
    return libyuv::ARGBScale(picture.data, picture.stride, picture.width, picture.height, target, stride, width,
                             height, libyuv::kFilterBilinear) == 0;
}

}  // namespace console
