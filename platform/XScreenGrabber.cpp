#include "platform/XScreenGrabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/XDisplayBackend.h"
#include "platform/XErrorTrap.h"

namespace platform {
namespace {

bool IsBgra(const XImage* image) {
    return image->format == ZPixmap && image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
           image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff;
}

TDisplayRect Clip(TDisplayRect rect, int rootWidth, int rootHeight) {
    rect.left = std::max(rect.left, 0);
    rect.top = std::max(rect.top, 0);
    rect.right = std::min(rect.right, rootWidth);
    rect.bottom = std::min(rect.bottom, rootHeight);
    if (rect.right <= rect.left || rect.bottom <= rect.top) return {};
    return rect;
}

bool FindMonitor(const std::string& displayName, const std::string& monitorName, TDisplayRect& rect) {
    for (const TDisplayInfo& info : TXDisplayBackend(displayName).EnumerateDisplays()) {
        if (info.deviceName != monitorName) continue;
        rect = info.monitor;
        return true;
    }
    return false;
}

bool IsEmpty(const TDisplayRect& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

bool operator==(const TDisplayRect& a, const TDisplayRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

struct TXScreenGrabber::TImpl {
    EXGrabMethod method;
    std::string displayName;
    std::string monitorName;
    Display* display = nullptr;
    Window root = None;
    int randrEventBase = 0;
    Atom monitorAtom = None;  // how this connection names the monitor
    TDisplayRect rect;
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    std::vector<uint8_t> plainPixels;  // the kept image's bits on the plain path

    bool Connect();
    bool MakeShmImage(Visual* visual, int depth);
    bool MakePlainImage(Visual* visual, int depth);
    TDisplayRect RootRect() const;
    Atom MonitorAtom(const TDisplayRect& unclipped) const;
    TDisplayRect CurrentRect() const;
    bool MonitorChanged();
    void Release();
};

bool TXScreenGrabber::TImpl::Connect() {
    InstallXErrorTrap();
    display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (display == nullptr) return false;
    root = DefaultRootWindow(display);
    int errorBase = 0;
    if (!XRRQueryExtension(display, &randrEventBase, &errorBase)) return false;
    XRRSelectInput(display, root,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    return SyncAndTakeXError(display) == 0;
}

bool TXScreenGrabber::TImpl::MakeShmImage(Visual* visual, int depth) {
    if (!XShmQueryExtension(display)) return false;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    image = XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &shm, width, height);
    if (image == nullptr || !IsBgra(image)) return false;
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (shm.shmid < 0) return false;
    void* address = shmat(shm.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(shm.shmid, IPC_RMID, nullptr);
        shm.shmid = -1;
        return false;
    }
    shm.shmaddr = image->data = static_cast<char*>(address);
    shm.readOnly = False;
    const bool attached = XShmAttach(display, &shm) && SyncAndTakeXError(display) == 0;
    // Once both sides are attached the segment goes when the last one leaves.
    shmctl(shm.shmid, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(shm.shmaddr);
        shm.shmaddr = nullptr;
        image->data = nullptr;
        shm.shmid = -1;
    }
    return attached;
}

bool TXScreenGrabber::TImpl::MakePlainImage(Visual* visual, int depth) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    image = XCreateImage(display, visual, depth, ZPixmap, 0, nullptr, width, height, 32, 0);
    if (image == nullptr || !IsBgra(image)) return false;
    plainPixels.assign(static_cast<size_t>(image->bytes_per_line) * height, 0);
    image->data = reinterpret_cast<char*>(plainPixels.data());
    return true;
}

TDisplayRect TXScreenGrabber::TImpl::RootRect() const {
    const int screen = DefaultScreen(display);
    return {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

// The display list names a monitor by its first output; this connection
// follows it by its atom, found by its rectangle.
Atom TXScreenGrabber::TImpl::MonitorAtom(const TDisplayRect& unclipped) const {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    Atom atom = None;
    for (int i = 0; monitors != nullptr && i < count && atom == None; ++i) {
        const XRRMonitorInfo& m = monitors[i];
        if (m.x == unclipped.left && m.y == unclipped.top && m.x + m.width == unclipped.right &&
            m.y + m.height == unclipped.bottom) {
            atom = m.name;
        }
    }
    if (monitors != nullptr) XRRFreeMonitors(monitors);
    return atom;
}

// The monitor's rectangle now, clipped to the root; empty when it is gone.
TDisplayRect TXScreenGrabber::TImpl::CurrentRect() const {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    TDisplayRect current;
    const TDisplayRect rootRect = RootRect();
    for (int i = 0; monitors != nullptr && i < count; ++i) {
        const XRRMonitorInfo& m = monitors[i];
        if (m.name != monitorAtom) continue;
        current = Clip({m.x, m.y, m.x + m.width, m.y + m.height}, rootRect.right, rootRect.bottom);
        break;
    }
    if (monitors != nullptr) XRRFreeMonitors(monitors);
    return current;
}

// RandR notices keep the root's size current; a monitor defined by a client
// sends none, so the monitor list is asked on every grab (one round trip).
bool TXScreenGrabber::TImpl::MonitorChanged() {
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        XRRUpdateConfiguration(&event);
    }
    return !(CurrentRect() == rect);
}

void TXScreenGrabber::TImpl::Release() {
    if (image != nullptr) {
        if (shm.shmaddr != nullptr) XShmDetach(display, &shm);
        if (method == EXGrabMethod::Plain) image->data = nullptr;  // plainPixels owns the bits
        XDestroyImage(image);
        image = nullptr;
    }
    if (display != nullptr) {
        SyncAndTakeXError(display);
        ForgetXErrors(display);
        XCloseDisplay(display);
        display = nullptr;
    }
    if (shm.shmaddr != nullptr) shmdt(shm.shmaddr);
    shm = XShmSegmentInfo{};
    plainPixels.clear();
    plainPixels.shrink_to_fit();
    rect = {};
    monitorAtom = None;
}

TXScreenGrabber::TXScreenGrabber(EXGrabMethod method, std::string displayName)
    : m_pImpl(std::make_unique<TImpl>()) {
    m_pImpl->method = method;
    m_pImpl->displayName = std::move(displayName);
}

TXScreenGrabber::~TXScreenGrabber() { Close(); }

bool TXScreenGrabber::Open(const std::string& monitorName) {
    Close();
    TImpl& impl = *m_pImpl;
    impl.monitorName = monitorName;
    if (!impl.Connect()) {
        Close();
        return false;
    }
    XWindowAttributes attributes;
    TDisplayRect unclipped;
    if (!XGetWindowAttributes(impl.display, impl.root, &attributes) ||
        !FindMonitor(impl.displayName, monitorName, unclipped)) {
        Close();
        return false;
    }
    impl.monitorAtom = impl.MonitorAtom(unclipped);
    impl.rect = Clip(unclipped, attributes.width, attributes.height);
    const bool made = impl.monitorAtom != None && !IsEmpty(impl.rect) &&
                      (impl.method == EXGrabMethod::Shm ? impl.MakeShmImage(attributes.visual, attributes.depth)
                                                        : impl.MakePlainImage(attributes.visual, attributes.depth));
    if (!made) Close();
    return made;
}

void TXScreenGrabber::Close() { m_pImpl->Release(); }

bool TXScreenGrabber::IsOpen() const { return m_pImpl->image != nullptr; }

TDisplayRect TXScreenGrabber::Rect() const { return m_pImpl->rect; }
int TXScreenGrabber::Width() const { return m_pImpl->rect.right - m_pImpl->rect.left; }
int TXScreenGrabber::Height() const { return m_pImpl->rect.bottom - m_pImpl->rect.top; }

EXGrabResult TXScreenGrabber::Grab() {
    TImpl& impl = *m_pImpl;
    if (impl.image == nullptr) return EXGrabResult::Failed;
    if (impl.MonitorChanged()) return EXGrabResult::Changed;
    bool sent = false;
    if (impl.method == EXGrabMethod::Shm) {
        sent = XShmGetImage(impl.display, impl.root, impl.image, impl.rect.left, impl.rect.top, AllPlanes);
    } else {
        sent = XGetSubImage(impl.display, impl.root, impl.rect.left, impl.rect.top, Width(), Height(),
                            AllPlanes, ZPixmap, impl.image, 0, 0) != nullptr;
    }
    const bool clean = SyncAndTakeXError(impl.display) == 0;
    return sent && clean ? EXGrabResult::Grabbed : EXGrabResult::Failed;
}

const uint8_t* TXScreenGrabber::Pixels() const {
    return m_pImpl->image != nullptr ? reinterpret_cast<const uint8_t*>(m_pImpl->image->data) : nullptr;
}

int TXScreenGrabber::Stride() const { return m_pImpl->image != nullptr ? m_pImpl->image->bytes_per_line : 0; }

}  // namespace platform
