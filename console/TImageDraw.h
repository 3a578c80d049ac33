#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct AVFrame;

namespace console {

// The window an image drawer shows its frames in.
class IDrawWindow {
public:
    virtual ~IDrawWindow() = default;
    // Any thread, at most once until the window's thread has taken the
    // frame: asks for one queued repaint. Must not wait for that thread.
    virtual void RequestRepaint() = 0;
};

// What the frame's deliverer knew about it when it handed it over.
struct TFrameNote {
    int32_t delayMs = 0;
    int32_t averageDelayMs = 0;
    int32_t cameraInUse = 0;
};

// A BGRA picture: B, G, R, A bytes per pixel, rows of `stride` bytes.
struct TBgraView {
    const uint8_t* data = nullptr;
    int width = 0, height = 0, stride = 0;
};

// Shows composed frames in a window. Draw runs on the thread delivering
// frames and only hands the frame over; everything else runs on the
// window's thread.
class IImageDraw {
public:
    virtual ~IImageDraw() = default;
    // 0, also when already initialised.
    virtual int32_t Init(IDrawWindow* window) = 0;
    // The picture's landscape size and pixel format (28 BGRA, 1 YUY2, 3
    // BGR24); E_INVALIDARG for a negative format or size.
    virtual int32_t SetFormat(int width, int height, int pixelFormat) = 0;
    virtual bool IsSize(int width, int height) const = 0;
    virtual int GetFormat() const = 0;
    virtual void Release() = 0;
    // Keeps a reference to the frame for the window's thread; E_FAIL when
    // not ready or without a picture.
    virtual int32_t Draw(const AVFrame* frame, const TFrameNote& note) = 0;
    // Window's thread: takes the newest handed-over frame and makes it the
    // shown picture. False when there was none or it does not fit the format.
    virtual bool Redraw() = 0;
    virtual bool IsReady() const = 0;
};

// The image drawer. The hand-over slot holds one frame: a frame not yet
// taken is replaced (and counted), so a busy window skips frames instead of
// queueing them, and one repaint is asked for while none is pending. The
// lock guards the slot's swap only.
class TImageDraw final : public IImageDraw {
public:
    static constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
    static constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);

    TImageDraw();
    ~TImageDraw() override;
    TImageDraw(const TImageDraw&) = delete;
    TImageDraw& operator=(const TImageDraw&) = delete;

    int32_t Init(IDrawWindow* window) override;
    int32_t SetFormat(int width, int height, int pixelFormat) override;
    bool IsSize(int width, int height) const override;
    int GetFormat() const override { return m_nFormat.load(std::memory_order_relaxed); }
    void Release() override;
    int32_t Draw(const AVFrame* frame, const TFrameNote& note) override;
    bool Redraw() override;
    bool IsReady() const override { return m_pWindow.load() != nullptr; }

    // Window's thread. While the window polls (calls Redraw on a timer of
    // its own), Draw asks for no repaint: a wake-up from the delivering
    // thread lets the woken window thread take the core from it on a busy
    // machine. Leaving polling returns true when a frame waits, which the
    // window must then take.
    bool SetPolled(bool polled);

    // Window's thread, after Redraw: the shown frame, its note, and its
    // picture in BGRA at the configured landscape size (a portrait frame
    // scaled into its centred band, black beside it).
    const AVFrame* Shown() const { return m_pShown; }
    const TFrameNote& ShownNote() const { return m_shownNote; }
    TBgraView Picture() const;
    // Scales the picture onto `target` (bilinear).
    bool Stretch(uint8_t* target, int width, int height, int stride) const;

    int64_t ReplacedFrames() const { return m_nReplaced.load(std::memory_order_relaxed); }
    int64_t RefusedFrames() const { return m_nRefused; }

private:
    bool MakePicture();
    bool ConvertLandscape(const AVFrame& frame, uint8_t* target, int stride);
    bool PlacePortrait(const AVFrame& frame);

    std::atomic<IDrawWindow*> m_pWindow{nullptr};
    std::atomic<int> m_nFormat{-1};
    int m_nWidth = 0, m_nHeight = 0;

    std::mutex m_slotLock;
    AVFrame* m_pSlot = nullptr;  // guarded by m_slotLock
    TFrameNote m_slotNote;       // guarded by m_slotLock
    bool m_bSlotFull = false;    // guarded by m_slotLock
    std::atomic<bool> m_bRepaintPending{false};
    bool m_bPolled = false;  // window's thread
    std::atomic<int64_t> m_nReplaced{0};

    // Window's thread only.
    AVFrame* m_pShown = nullptr;
    AVFrame* m_pTaken = nullptr;  // between the slot and m_pShown, always empty outside Redraw
    TFrameNote m_shownNote;
    std::vector<uint8_t> m_picture;   // BGRA, m_nWidth x m_nHeight
    std::vector<uint8_t> m_portrait;  // BGRA of a portrait frame before scaling into its band
    bool m_bPictureInPlace = false;   // a BGRA landscape frame is shown from its own buffer
    int64_t m_nRefused = 0;
};

}  // namespace console
