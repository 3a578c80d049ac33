#pragma once

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/TCapLayout.h"

struct AVFrame;
struct SwsContext;
class QSocketNotifier;

namespace console {

// The echo window: shows the composed frames and the current layout.
//
// The engine's output thread offers each frame; the window keeps a reference
// to the newest one in a one-frame slot (an unpainted frame is replaced, so a
// busy user-interface thread skips frames instead of queueing them) and posts
// one repaint request while none is pending, without a lock the
// user-interface thread holds. Everything else is the user-interface
// thread's.
class CPreviewDlg final : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewDlg(QWidget* owner = nullptr);
    ~CPreviewDlg() override;

    // The picture's size and pixel format; drops the scaler, which is made
    // again for the next frame.
    void Configure(int width, int height, int pixelFormat);
    void SetLayout(const TCapLayout& layout) { m_layout = layout; }
    TCapLayout& CurrentLayout() { return m_layout; }

    // Any thread.
    bool IsShown() const { return m_bShown.load(std::memory_order_relaxed); }
    void Offer(const AVFrame* frame);

    int64_t PaintedFrames() const { return m_nPainted; }
    int64_t ReplacedFrames() const { return m_nReplaced.load(); }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int kRepaintEvent = 2025;

    void OnWake();
    void Repaint();
    void TakeAndScale();
    // Scales the shown frame into `image`; false when it cannot.
    bool ScaleInto(QImage& image);

    TCapLayout m_layout{};
    int m_nPictureWidth = 1280, m_nPictureHeight = 720, m_nPictureFormat = 28;
    std::atomic<bool> m_bShown{false};

    std::mutex m_slotLock;  // the slot between the output thread and this one
    AVFrame* m_pOffered = nullptr;
    bool m_bOfferedFull = false;
    std::atomic<bool> m_bRepaintPosted{false};
    int m_nWakeFd = -1;  // written by the output thread, read by this one
    std::atomic<int64_t> m_nReplaced{0};

    // User-interface thread only.
    AVFrame* m_pShown = nullptr;
    SwsContext* m_pScaler = nullptr;
    QSocketNotifier* m_pWake = nullptr;
    QImage m_image;
    int64_t m_nPainted = 0;
};

}  // namespace console
