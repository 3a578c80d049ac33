#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/AnsiCodePage.h"
#include "console/LayoutEditor.h"
#include "console/TDrawText.h"
#include "console/TImageDraw.h"
#include "engine/TCapLayout.h"

struct AVFrame;
class QMenu;
class QSocketNotifier;
class QTimer;

namespace console {

// The echo window: shows every composed frame, the statistics text over it
// and a red frame around the selected editable layer, and carries the
// layout editor on its picture surface "1072".
//
// Draw runs on the engine's output thread and only hands the frame over to
// the image drawer (with the statistics measured for it); converting,
// stamping the statistics into the window's own overlay and painting run on
// the user-interface thread, which owns everything else. Nothing is written
// into the engine's frame.
class CPreviewDlg final : public QWidget, private IDrawWindow {
    Q_OBJECT
public:
    static constexpr int kInfoCommand = 32778;
    static constexpr int kResetCommand = 32810;
    static constexpr int kSaveCommand = 32808;
    static constexpr int kSaveAsFirstCommand = 32821;
    static constexpr int kTemplateSlots = 6;

    // Menu commands are posted as WM_DISPATCH to `owner`.
    explicit CPreviewDlg(QWidget* owner = nullptr);
    ~CPreviewDlg() override;

    // The longer and the shorter output side and the output format (the
    // console configures BGR24 output as 28); nothing when unchanged.
    void Configure(int width, int height, int pixelFormat);
    // What the source delivers, for the statistics.
    void SetCaptureFormat(int width, int height, int pixelFormat);
    // Restarts the delay average and the frame-number check with the next frame.
    void ResetStatistics() { m_bResetStatistics.store(true); }

    void SetLayout(const TCapLayout& layout) { m_editor.TakeLayout(layout); }
    TCapLayout& CurrentLayout() { return m_editor.CurrentLayout(); }
    LayoutEditor& Editor() { return m_editor; }
    QWidget* Surface() const { return m_pSurface; }

    // Any thread.
    bool IsShown() const { return m_bShown.load(std::memory_order_relaxed); }
    bool InfoShown() const { return m_bInfo.load(std::memory_order_relaxed); }
    // The engine's output thread: measures the statistics and hands the
    // frame over; nothing while hidden.
    void Draw(const AVFrame* frame, int cameraInUse);

    // Full screen on the screen holding the window's centre, or back to the
    // remembered windowed rectangle.
    void SetFullScreen(bool on);
    bool IsFullScreen() const { return m_bFullScreen; }
    QRect WindowedRect() const { return m_windowedRect; }

    // Brings menu 132 up to date (check mark, greyed items, the save-as
    // slots) and returns it; RunCommand carries out one of its commands.
    QMenu* PrepareContextMenu();
    void RunCommand(int command);

    // What a wake-up or a poll does: takes the newest handed-over frame,
    // stamps its statistics and asks the surface to paint; false without one.
    bool TakeFrame();

    // The statistics text of the frame shown last (UTF-8).
    const QString& StatisticsText() const { return m_statistics; }
    int64_t PaintedFrames() const { return m_nPainted; }
    int64_t ReplacedFrames() const { return m_draw.ReplacedFrames(); }
    int64_t LostFrames() const { return m_nLost.load(std::memory_order_relaxed); }

    // Called on this thread with the work spent on each new frame shown
    // (taking, converting, stamping and painting it), in nanoseconds.
    void SetPaintObserver(std::function<void(int64_t)> observer) { m_paintObserver = std::move(observer); }

    // The surface's paint: the stretched picture, the overlay, the red frame.
    void PaintSurface(QWidget* surface);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    static constexpr int kRepaintEvent = 2025;

    void RequestRepaint() override;
    void CreateMenu();
    void PlaceWindowed();
    void OnWake();
    void Poll();
    void StampStatistics();
    QRect TextExtent() const;
    void ComposeClient(QImage& client);
    void BlendOverlay(QImage& client);
    void PaintRedFrame(QImage& client);
    void ShowContextMenu(const QPoint& globalPoint);

    QWidget* m_pSurface = nullptr;  // "1072"
    LayoutEditor m_editor;
    TImageDraw m_draw;
    IDrawText* m_pText = nullptr;
    QMenu* m_pMenu = nullptr;  // 132
    QMenu* m_pSaveAsMenu = nullptr;

    // Picture, text origin and text box (user-interface thread).
    int m_nPictureWidth = 1024, m_nPictureHeight = 576;
    int m_nTextX = 0, m_nTextY = 0;
    int m_nCaptureWidth = 0, m_nCaptureHeight = 0, m_nCaptureFormat = -1;

    std::atomic<bool> m_bShown{false};
    std::atomic<bool> m_bInfo{true};
    std::atomic<bool> m_bResetStatistics{false};
    std::atomic<bool> m_bRepaintPosted{false};
    std::atomic<int64_t> m_nLost{0};
    int m_nWakeFd = -1;  // written by the output thread, read by this one

    // The engine's output thread only.
    int64_t m_nDelaySum = 0, m_nDelayCount = 0, m_nLastSequence = -1;

    // User-interface thread only.
    QSocketNotifier* m_pWake = nullptr;
    QTimer* m_pPoll = nullptr;
    int m_nIdlePolls = 0;
    std::vector<uint8_t> m_overlay;  // BGRA premultiplied, the picture's size
    QRect m_overlayDirty;            // where the last text was stamped, picture pixels
    std::vector<uint8_t> m_overlayScaled;
    TAnsiCodec m_codec;
    std::string m_ansiText;
    QString m_statistics;
    QImage m_client;
    bool m_bFresh = false;
    int64_t m_nTakeNanos = 0;
    std::function<void(int64_t)> m_paintObserver;
    int64_t m_nPainted = 0;
    bool m_bFullScreen = false;
    QRect m_windowedRect;
    bool m_bModifier = false;
};

}  // namespace console
