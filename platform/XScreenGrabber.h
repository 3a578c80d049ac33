#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DisplayBackend.h"

namespace platform {

enum class EXGrabMethod {
    Shm,    // MIT-SHM: the server writes into a shared segment
    Plain,  // XGetSubImage: the picture travels through the socket
};

enum class EXGrabResult {
    Grabbed,  // Pixels() holds the current picture
    Changed,  // the monitor moved, was resized or vanished: open it again
    Failed,   // an X error failed this grab; the next one may succeed
};

// Grabs one monitor's rectangle of the root window of an X server over a
// connection of its own. It opens only where the server's pictures are
// 32-bit BGRA (ZPixmap, masks ff0000/ff00/ff, least significant byte first)
// and grabs the monitor clipped to the root window, so a monitor that
// reaches outside the root is grabbed without a protocol error. RandR
// notifications tell it when the monitor has changed.
//
// Not thread-safe: one thread at a time, the caller locks.
class TXScreenGrabber {
public:
    // An empty display name means $DISPLAY.
    explicit TXScreenGrabber(EXGrabMethod method, std::string displayName = {});
    ~TXScreenGrabber();
    TXScreenGrabber(const TXScreenGrabber&) = delete;
    TXScreenGrabber& operator=(const TXScreenGrabber&) = delete;

    // Closes, then opens on the monitor of that name (as the display list
    // names it). False when the server, the monitor, the pixel format or the
    // method is not to be had.
    bool Open(const std::string& monitorName);
    void Close();
    bool IsOpen() const;

    // The grabbed rectangle on the root window, and the picture's size.
    TDisplayRect Rect() const;
    int Width() const;
    int Height() const;

    EXGrabResult Grab();
    // The latest picture: Height() rows of Stride() bytes, 4 bytes a pixel.
    const uint8_t* Pixels() const;
    int Stride() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> m_pImpl;
};

}  // namespace platform
