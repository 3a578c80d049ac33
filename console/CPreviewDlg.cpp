#include "console/CPreviewDlg.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <libyuv/scale_argb.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPainter>
#include <QSocketNotifier>

namespace console {

CPreviewDlg::CPreviewDlg(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("131"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_pOffered = av_frame_alloc();
    m_pShown = av_frame_alloc();
    resize(640, 360);
    // Posting a Qt event takes a lock the user-interface thread holds while
    // it handles posted events, so on a busy machine the output thread would
    // wait for it; an eventfd write takes none. Without a descriptor the
    // repaint is posted.
    m_nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_nWakeFd >= 0) {
        m_pWake = new QSocketNotifier(m_nWakeFd, QSocketNotifier::Read, this);
        connect(m_pWake, &QSocketNotifier::activated, this, [this] { OnWake(); });
    }
}

CPreviewDlg::~CPreviewDlg() {
    av_frame_free(&m_pOffered);
    av_frame_free(&m_pShown);
    sws_freeContext(m_pScaler);
    delete m_pWake;
    if (m_nWakeFd >= 0) ::close(m_nWakeFd);
}

void CPreviewDlg::Configure(int width, int height, int pixelFormat) {
    m_nPictureWidth = width;
    m_nPictureHeight = height;
    m_nPictureFormat = pixelFormat;
    sws_freeContext(m_pScaler);
    m_pScaler = nullptr;
}

void CPreviewDlg::Offer(const AVFrame* frame) {
    {
        std::lock_guard<std::mutex> hold(m_slotLock);
        if (m_bOfferedFull) {
            av_frame_unref(m_pOffered);
            m_nReplaced.fetch_add(1, std::memory_order_relaxed);
        }
        m_bOfferedFull = av_frame_ref(m_pOffered, frame) == 0;
    }
    if (m_bRepaintPosted.exchange(true)) return;
    const uint64_t one = 1;
    if (m_nWakeFd < 0 || ::write(m_nWakeFd, &one, sizeof one) != sizeof one)
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kRepaintEvent)));
}

bool CPreviewDlg::event(QEvent* event) {
    if (event->type() != static_cast<QEvent::Type>(kRepaintEvent)) return QWidget::event(event);
    Repaint();
    return true;
}

void CPreviewDlg::OnWake() {
    uint64_t count = 0;
    if (::read(m_nWakeFd, &count, sizeof count) != sizeof count) return;
    Repaint();
}

void CPreviewDlg::Repaint() {
    m_bRepaintPosted.store(false);
    TakeAndScale();
    update();
}

void CPreviewDlg::TakeAndScale() {
    // The shown frame's buffer may be the last reference: it is freed
    // before the lock the output thread takes.
    av_frame_unref(m_pShown);
    {
        std::lock_guard<std::mutex> hold(m_slotLock);
        if (!m_bOfferedFull) return;
        av_frame_move_ref(m_pShown, m_pOffered);
        m_bOfferedFull = false;
    }
    const QSize target = size().isEmpty() ? QSize(m_nPictureWidth, m_nPictureHeight) : size();
    if (m_image.size() != target) m_image = QImage(target, QImage::Format_RGB32);
    if (ScaleInto(m_image)) ++m_nPainted;
}

bool CPreviewDlg::ScaleInto(QImage& image) {
    const AVFrame& frame = *m_pShown;
    if (frame.width <= 0 || frame.height <= 0 || frame.data[0] == nullptr) return false;
    // QImage's RGB32 is B, G, R, X in memory on little-endian machines, the
    // composed frame's byte order. libyuv scales a 1080p frame in a fraction
    // of a millisecond; libswscale's bilinear filter took 13-24 ms and its
    // fast one 6 ms, time the user-interface thread and, on two busy cores,
    // the engine's output thread waking it could not spare at 30 frames/s.
    if (frame.format == AV_PIX_FMT_BGRA && frame.linesize[0] >= frame.width * 4)
        return libyuv::ARGBScale(frame.data[0], frame.linesize[0], frame.width, frame.height, image.bits(),
                                 static_cast<int>(image.bytesPerLine()), image.width(), image.height(),
                                 libyuv::kFilterBilinear) == 0;
    // Other formats convert while they scale.
    m_pScaler = sws_getCachedContext(m_pScaler, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                     image.width(), image.height(), AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr,
                                     nullptr, nullptr);
    if (m_pScaler == nullptr) return false;
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    return sws_scale(m_pScaler, frame.data, frame.linesize, 0, frame.height, planes, strides) > 0;
}

void CPreviewDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(rect(), m_image);
    // The layers' outlines, mapped from the layout's reference size.
    if (m_layout.MaxWidth <= 0 || m_layout.MaxHeight <= 0) return;
    painter.setPen(Qt::red);
    const double sx = double(width()) / m_layout.MaxWidth, sy = double(height()) / m_layout.MaxHeight;
    for (int i = 0; i < std::clamp(m_layout.LayerCnt, 0, TCapLayout::kMaxLayers); ++i) {
        const TCapLayer& layer = m_layout.layers[i];
        if (layer.Id != TCapLayer::kPresenter) continue;
        painter.drawRect(QRectF(QPointF(layer.Position[0].x * sx, layer.Position[0].y * sy),
                                QPointF(layer.Position[2].x * sx, layer.Position[2].y * sy)));
    }
}

void CPreviewDlg::showEvent(QShowEvent* event) {
    m_bShown.store(true);
    QWidget::showEvent(event);
}

void CPreviewDlg::hideEvent(QHideEvent* event) {
    m_bShown.store(false);
    QWidget::hideEvent(event);
}

}  // namespace console
