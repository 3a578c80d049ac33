#include "console/CPreviewDlg.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <cstdio>

#include "console/AnsiCodePage.h"
#include "console/DispatchEvent.h"
#include "console/services/SettingsStore.h"
#include "platform/PerfCounter.h"

namespace console {

namespace {

constexpr int kOverlayFormat = 28;  // BGRA
constexpr uint32_t kTextColour = 0xFFFFFF;
constexpr int kLineGap = 15;
constexpr int kRedFrameThickness = 3;  // client pixels
constexpr uint32_t kRedArgb = 0xFFFF0000u;
constexpr int kStoredSaveAsItems = 9;
constexpr int kPollMs = 4;
constexpr int kIdlePollsBeforeWake = 25;  // 100 ms without a frame
constexpr char kStatisticsFormat[] =
    "采集分辨率: %dx%d\r输出分辨率: %dx%d\r实际帧率: %2.2f\r颜色空间: %s(采集)\r颜色空间: %s(输出)\r"
    "当前延时: %2dms\r平均延时: %2dms\r当前帧号: %d\r关键耗时: %d\n\rVCam状态: %s\n\r右键菜单关闭提示信息\r";

// The picture surface "1072"; the window paints it.
class TEchoSurface final : public QWidget {
public:
    explicit TEchoSurface(CPreviewDlg* window) : QWidget(window), m_pWindow(window) {
        setObjectName(QStringLiteral("1072"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent*) override { m_pWindow->PaintSurface(this); }

private:
    CPreviewDlg* m_pWindow;
};

const char* PixelFormatName(int format) {
    const char* name = format >= 0 ? av_get_pix_fmt_name(static_cast<AVPixelFormat>(format)) : nullptr;
    return name != nullptr ? name : "";
}

// Maps a picture coordinate to the client, rounded to nearest.
int ToClient(int value, int client, int picture) {
    return static_cast<int>(static_cast<double>(value) * client / std::max(picture, 1) + 0.5);
}

QString LayoutName(const TCapLayout& layout) {
    const size_t units = std::find(std::begin(layout.Name), std::end(layout.Name), u'\0') - std::begin(layout.Name);
    return QString::fromStdU16String(std::u16string(layout.Name, units));
}

}  // namespace

CPreviewDlg::CPreviewDlg(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("131"));
    m_pSurface = new TEchoSurface(this);
    m_pSurface->installEventFilter(this);
    m_pText = CreateInstance_IDrawText();
    CreateMenu();
    // Posting a Qt event takes a lock the user-interface thread holds while
    // it handles posted events, so on a busy machine the output thread would
    // wait for it; an eventfd write takes none. Without a descriptor the
    // repaint is posted.
    m_nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_nWakeFd >= 0) {
        m_pWake = new QSocketNotifier(m_nWakeFd, QSocketNotifier::Read, this);
        connect(m_pWake, &QSocketNotifier::activated, this, [this] { OnWake(); });
    }
    // Once frames flow the window polls for them: the delivering thread
    // then never wakes this one (see TImageDraw::SetPolled).
    m_pPoll = new QTimer(this);
    m_pPoll->setTimerType(Qt::PreciseTimer);
    m_pPoll->setInterval(kPollMs);
    connect(m_pPoll, &QTimer::timeout, this, [this] { Poll(); });
    m_draw.Init(this);
    const int width = m_nPictureWidth, height = m_nPictureHeight;
    m_nPictureWidth = 0;
    Configure(width, height, kOverlayFormat);
    m_editor.Attach(m_pSurface);
    PlaceWindowed();
}

CPreviewDlg::~CPreviewDlg() {
    m_draw.Release();
    ReleaseInstance_IDrawText(&m_pText);
    delete m_pWake;
    if (m_nWakeFd >= 0) ::close(m_nWakeFd);
}

void CPreviewDlg::CreateMenu() {
    m_pMenu = new QMenu(this);
    m_pMenu->setObjectName(QStringLiteral("132"));
    auto add = [this](QMenu* menu, const char* text, int command) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::number(command));
        action->setData(command);
        return action;
    };
    QAction* info = add(m_pMenu, "调试信息", kInfoCommand);
    info->setCheckable(true);
    info->setChecked(true);
    add(m_pMenu, "重置布局", kResetCommand);
    add(m_pMenu, "保存布局", kSaveCommand);
    m_pSaveAsMenu = m_pMenu->addMenu(QString::fromUtf8("另存布局为..."));
}

void CPreviewDlg::PlaceWindowed() {
    // A third of the desktop each way, centred on it, hidden.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize client(desktop.width() / 3, desktop.height() / 3);
    const QRect placed(desktop.center() - QPoint(client.width() / 2, client.height() / 2), client);
    setGeometry(placed);
    m_windowedRect = placed;
    m_pSurface->setGeometry(rect());
}

void CPreviewDlg::Configure(int width, int height, int pixelFormat) {
    if (width <= 0 || height <= 0) return;
    if (width == m_nPictureWidth && height == m_nPictureHeight && m_draw.GetFormat() == pixelFormat) return;
    m_draw.SetFormat(width, height, pixelFormat);
    m_nPictureWidth = width;
    m_nPictureHeight = height;
    m_pText->Setup(width * 20 / 1920, height * 50 / 1080, kOverlayFormat, width, height, kTextColour, kLineGap);
    m_nTextX = width * 30 / 1920;
    m_nTextY = height * 30 / 1080;
    m_overlay.assign(static_cast<size_t>(width) * height * 4, 0);
    m_overlayDirty = QRect();
    m_editor.SetReferenceSize(width, height);
}

void CPreviewDlg::SetCaptureFormat(int width, int height, int pixelFormat) {
    m_nCaptureWidth = width;
    m_nCaptureHeight = height;
    m_nCaptureFormat = pixelFormat;
}

void CPreviewDlg::Draw(const AVFrame* frame, int cameraInUse) {
    if (frame == nullptr || !IsShown()) return;
    if (m_bResetStatistics.exchange(false)) {
        m_nDelaySum = 0;
        m_nDelayCount = 0;
        m_nLastSequence = -1;
    }
    TFrameNote note;
    note.cameraInUse = cameraInUse;
    if (InfoShown()) {
        // pkt_duration carries the arrival time in microseconds.
        note.delayMs = static_cast<int16_t>((av_gettime_relative() - frame->pkt_duration) / 1000);
        m_nDelaySum += note.delayMs;
        ++m_nDelayCount;
        note.averageDelayMs = static_cast<int16_t>(m_nDelaySum / m_nDelayCount);
        const int64_t sequence = frame->pkt_size;
        if (m_nLastSequence >= 0 && sequence != m_nLastSequence + 1) m_nLost.fetch_add(1, std::memory_order_relaxed);
        m_nLastSequence = sequence;
    }
    m_draw.Draw(frame, note);
}

void CPreviewDlg::RequestRepaint() {
    const uint64_t one = 1;
    if (m_nWakeFd < 0 || ::write(m_nWakeFd, &one, sizeof one) != sizeof one)
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kRepaintEvent)));
}

bool CPreviewDlg::event(QEvent* event) {
    if (event->type() != static_cast<QEvent::Type>(kRepaintEvent)) return QWidget::event(event);
    TakeFrame();
    return true;
}

void CPreviewDlg::OnWake() {
    uint64_t count = 0;
    if (::read(m_nWakeFd, &count, sizeof count) != sizeof count) return;
    TakeFrame();
}

bool CPreviewDlg::TakeFrame() {
    const int64_t start = platform::PerfCounter::Now();
    if (!m_draw.Redraw()) return false;
    StampStatistics();
    m_nTakeNanos = platform::PerfCounter::Now() - start;
    m_bFresh = true;
    m_pSurface->update();
    if (!m_pPoll->isActive()) {
        m_draw.SetPolled(true);
        m_pPoll->start();
    }
    m_nIdlePolls = 0;
    return true;
}

void CPreviewDlg::Poll() {
    if (TakeFrame() || ++m_nIdlePolls < kIdlePollsBeforeWake) return;
    // Frames stopped: back to being woken by the next one.
    m_pPoll->stop();
    if (m_draw.SetPolled(false)) TakeFrame();
}

void CPreviewDlg::StampStatistics() {
    if (!m_overlayDirty.isEmpty()) {
        libyuv::ARGBRect(m_overlay.data(), m_nPictureWidth * 4, m_overlayDirty.x(), m_overlayDirty.y(),
                         m_overlayDirty.width(), m_overlayDirty.height(), 0);
        m_overlayDirty = QRect();
    }
    if (!InfoShown()) return;
    const AVFrame& frame = *m_draw.Shown();
    const TFrameNote& note = m_draw.ShownNote();
    char text[1024];
    std::snprintf(text, sizeof text, kStatisticsFormat, m_nCaptureWidth, m_nCaptureHeight, frame.width, frame.height,
                  static_cast<double>(frame.pkt_dts) / 100.0, PixelFormatName(m_nCaptureFormat),
                  PixelFormatName(frame.format), note.delayMs, note.averageDelayMs,
                  static_cast<int>(static_cast<int16_t>(frame.pkt_size)),
                  static_cast<int>(static_cast<int16_t>(frame.pkt_pos)), note.cameraInUse != 0 ? "已启动" : "未启动");
    m_statistics = QString::fromUtf8(text);
    if (!m_codec.ToAnsi(text, &m_ansiText)) return;
    const TDrawRect box{m_nTextX, m_nTextY, m_nPictureWidth - 1, m_nPictureHeight - 1};
    m_pText->DrawLines(m_overlay.data(), m_ansiText.c_str(), box);
    m_overlayDirty = TextExtent().intersected(QRect(0, 0, m_nPictureWidth, m_nPictureHeight));
}

QRect CPreviewDlg::TextExtent() const {
    // The bands DrawLines may have drawn: one per non-empty line, each
    // (length + 2) characters wide.
    int lines = 0;
    size_t longest = 0;
    size_t start = 0;
    while (start < m_ansiText.size()) {
        size_t end = m_ansiText.find_first_of("\r\n", start);
        if (end == std::string::npos) end = m_ansiText.size();
        if (end > start) {
            ++lines;
            longest = std::max(longest, end - start);
        }
        start = end + 1;
    }
    const int charWidth = std::max(m_nPictureWidth * 20 / 1920, 1);
    const int band = std::max(m_nPictureHeight * 50 / 1080, 1) + kLineGap;
    return QRect(m_nTextX, m_nTextY, static_cast<int>(longest + 2) * charWidth, lines * band);
}

void CPreviewDlg::PaintSurface(QWidget* surface) {
    const int64_t start = platform::PerfCounter::Now();
    QPainter painter(surface);
    const QSize size = surface->size();
    if (size.isEmpty()) return;
    if (m_client.size() != size) m_client = QImage(size, QImage::Format_ARGB32_Premultiplied);
    ComposeClient(m_client);
    painter.drawImage(0, 0, m_client);
    if (m_bFresh) {
        m_bFresh = false;
        ++m_nPainted;
        if (m_paintObserver) m_paintObserver(m_nTakeNanos + platform::PerfCounter::Now() - start);
    }
}

void CPreviewDlg::ComposeClient(QImage& client) {
    if (!m_draw.Stretch(client.bits(), client.width(), client.height(), static_cast<int>(client.bytesPerLine()))) {
        client.fill(Qt::black);
        return;
    }
    BlendOverlay(client);
    PaintRedFrame(client);
}

void CPreviewDlg::BlendOverlay(QImage& client) {
    if (m_overlayDirty.isEmpty() || m_nPictureWidth <= 0 || m_nPictureHeight <= 0) return;
    // The overlay is scaled as the picture is; only its stamped part.
    const int left = m_overlayDirty.x() * client.width() / m_nPictureWidth;
    const int top = m_overlayDirty.y() * client.height() / m_nPictureHeight;
    const int right = (m_overlayDirty.right() + 1) * client.width() / m_nPictureWidth;
    const int bottom = (m_overlayDirty.bottom() + 1) * client.height() / m_nPictureHeight;
    const int width = right - left, height = bottom - top;
    if (width <= 0 || height <= 0) return;
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    if (m_overlayScaled.size() < bytes) m_overlayScaled.resize(bytes);
    const int stride = m_nPictureWidth * 4;
    const uint8_t* source = m_overlay.data() + static_cast<size_t>(m_overlayDirty.y()) * stride + m_overlayDirty.x() * 4;
    libyuv::ARGBScale(source, stride, m_overlayDirty.width(), m_overlayDirty.height(), m_overlayScaled.data(),
                      width * 4, width, height, libyuv::kFilterBilinear);
    uint8_t* target = client.bits() + static_cast<size_t>(top) * client.bytesPerLine() + left * 4;
    const int targetStride = static_cast<int>(client.bytesPerLine());
    // The overlay is premultiplied: target = overlay + target * (1 - alpha).
    libyuv::ARGBBlend(m_overlayScaled.data(), width * 4, target, targetStride, target, targetStride, width, height);
}

void CPreviewDlg::PaintRedFrame(QImage& client) {
    const TCapLayer* layer = m_editor.SelectedEditable();
    if (layer == nullptr) return;
    const int cw = client.width(), ch = client.height();
    const QRect framed(QPoint(ToClient(layer->Position[0].x, cw, m_nPictureWidth),
                              ToClient(layer->Position[0].y, ch, m_nPictureHeight)),
                       QPoint(ToClient(layer->Position[2].x, cw, m_nPictureWidth),
                              ToClient(layer->Position[2].y, ch, m_nPictureHeight)));
    const int t = kRedFrameThickness;
    const QRect lines[] = {QRect(framed.left(), framed.top(), framed.width(), t),
                           QRect(framed.left(), framed.bottom() - t + 1, framed.width(), t),
                           QRect(framed.left(), framed.top(), t, framed.height()),
                           QRect(framed.right() - t + 1, framed.top(), t, framed.height())};
    const QRect clientRect(0, 0, cw, ch);
    for (const QRect& line : lines) {
        const QRect clipped = line.intersected(clientRect);
        if (clipped.isEmpty()) continue;
        libyuv::ARGBRect(client.bits(), static_cast<int>(client.bytesPerLine()), clipped.x(), clipped.y(),
                         clipped.width(), clipped.height(), kRedArgb);
    }
}

QMenu* CPreviewDlg::PrepareContextMenu() {
    const bool builtIn = CurrentLayout().BuildIn != 0;
    for (QAction* action : m_pMenu->actions()) {
        const int command = action->data().toInt();
        if (command == kResetCommand || command == kSaveCommand) action->setEnabled(!builtIn);
        if (command == kInfoCommand) action->setChecked(InfoShown());
    }
    // The stored menu holds "模板1".."模板9": the first six stand for the
    // slots; a built-in slot is left out, the others show their names.
    m_pSaveAsMenu->clear();
    for (int item = 0; item < kStoredSaveAsItems; ++item) {
        QAction* action = m_pSaveAsMenu->addAction(QString::fromUtf8("模板%1").arg(item + 1));
        action->setObjectName(QString::number(kSaveAsFirstCommand + item));
        action->setData(kSaveAsFirstCommand + item);
    }
    QList<QAction*> items = m_pSaveAsMenu->actions();
    for (int item = kStoredSaveAsItems - 1; item >= kTemplateSlots; --item) m_pSaveAsMenu->removeAction(items[item]);
    for (int slot = kTemplateSlots - 1; slot >= 0; --slot) {
        TCapLayout header{};
        if (LoadTemplate(&header, slot, false) != 1) header = DefaultTemplate(slot);
        if (header.BuildIn != 0)
            m_pSaveAsMenu->removeAction(items[slot]);
        else
            items[slot]->setText(LayoutName(header));
    }
    for (int item = kStoredSaveAsItems - 1; item >= 0; --item) {
        if (!m_pSaveAsMenu->actions().contains(items[item])) delete items[item];
    }
    return m_pMenu;
}

void CPreviewDlg::RunCommand(int command) {
    QObject* target = parent();
    if (command == kInfoCommand) {
        m_bInfo.store(!InfoShown());
        m_pMenu->actions().front()->setChecked(InfoShown());
        return;
    }
    if (target == nullptr) return;
    if (command == kResetCommand) PostDispatch(target, kResetLayout, 0);
    if (command == kSaveCommand) PostDispatch(target, kSaveLayout, 0);
    if (command >= kSaveAsFirstCommand && command < kSaveAsFirstCommand + kTemplateSlots)
        PostDispatch(target, kSaveLayoutAs, command - kSaveAsFirstCommand);
}

void CPreviewDlg::ShowContextMenu(const QPoint& globalPoint) {
    QAction* chosen = PrepareContextMenu()->exec(globalPoint);
    if (chosen != nullptr) RunCommand(chosen->data().toInt());
}

void CPreviewDlg::SetFullScreen(bool on) {
    if (on == m_bFullScreen) {
        show();
        return;
    }
    if (on) {
        m_windowedRect = geometry();
        const QScreen* screen = QGuiApplication::screenAt(m_windowedRect.center());
        if (screen == nullptr && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().front();
        m_bFullScreen = true;
        setWindowFlag(Qt::FramelessWindowHint, true);
        if (screen != nullptr) setGeometry(screen->geometry());
    } else {
        m_bFullScreen = false;
        setWindowFlag(Qt::FramelessWindowHint, false);
        setGeometry(m_windowedRect);
    }
    show();
    m_pSurface->setGeometry(rect());
}

void CPreviewDlg::showEvent(QShowEvent* event) {
    m_bShown.store(true);
    QWidget::showEvent(event);
}

void CPreviewDlg::hideEvent(QHideEvent* event) {
    m_bShown.store(false);
    QWidget::hideEvent(event);
}

void CPreviewDlg::resizeEvent(QResizeEvent* event) {
    m_pSurface->setGeometry(rect());
    if (!m_bFullScreen && isVisible()) m_windowedRect = geometry();
    QWidget::resizeEvent(event);
}

void CPreviewDlg::moveEvent(QMoveEvent* event) {
    if (!m_bFullScreen && isVisible()) m_windowedRect = geometry();
    QWidget::moveEvent(event);
}

void CPreviewDlg::closeEvent(QCloseEvent* event) {
    // Closing leaves full screen, or hides the window; it lives on.
    event->ignore();
    if (m_bFullScreen)
        SetFullScreen(false);
    else
        hide();
}

void CPreviewDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            SetFullScreen(true);
            return;
        case Qt::Key_Escape:
            if (m_bFullScreen)
                SetFullScreen(false);
            else
                hide();
            return;
        case Qt::Key_Shift:
        case Qt::Key_Control:
            m_bModifier = true;
            m_pSurface->setCursor(Qt::CrossCursor);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void CPreviewDlg::keyReleaseEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Shift || event->key() == Qt::Key_Control) && m_bModifier &&
        (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) == 0) {
        m_bModifier = false;
        m_pSurface->unsetCursor();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

bool CPreviewDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_pSurface) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        SetFullScreen(true);
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        ShowContextMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace console
