#include "platform/XDisplayBackend.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/DebugOutput.h"
#include "platform/GammaResample.h"
#include "platform/XErrorTrap.h"

namespace platform {
namespace {

// What a context stands for: the output, looked up again on every use.
struct TOutputContext {
    std::string outputName;
};

// Errors of one operation: what an earlier operation left on the connection
// is discarded first, so only this operation's requests are judged.
class TErrorScope {
public:
    explicit TErrorScope(Display* display) : m_pDisplay(display) { SyncAndTakeXError(display); }

    // True when no protocol error arrived since the scope began.
    bool Clean() const { return SyncAndTakeXError(m_pDisplay) == 0; }

private:
    Display* m_pDisplay;
};

// Xlib's default I/O error handlers end the process when the server goes
// away. Ours only report it: the connection is marked lost, and every later
// request on it returns at once without touching the socket.
int ReportIOError(Display*) {
    DebugOutput("X server connection lost\n");
    return 0;
}

void MarkConnectionLost(Display*, void* lost) {
    static_cast<std::atomic<bool>*>(lost)->store(true);
}

void InstallIOErrorHandlerOnce() {
    static std::once_flag once;
    std::call_once(once, [] { XSetIOErrorHandler(&ReportIOError); });
}

class TScreenResources {
public:
    explicit TScreenResources(Display* display)
        : m_pResources(XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))) {}
    ~TScreenResources() {
        if (m_pResources != nullptr) XRRFreeScreenResources(m_pResources);
    }
    TScreenResources(const TScreenResources&) = delete;
    TScreenResources& operator=(const TScreenResources&) = delete;
    XRRScreenResources* Get() const { return m_pResources; }

private:
    XRRScreenResources* m_pResources;
};

std::string OutputName(Display* display, XRRScreenResources* resources, RROutput output) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
    if (info == nullptr) return {};
    std::string name(info->name, info->nameLen);
    XRRFreeOutputInfo(info);
    return name;
}

std::string MonitorName(Display* display, XRRScreenResources* resources,
                        const XRRMonitorInfo& monitor) {
    if (monitor.noutput > 0 && resources != nullptr) {
        std::string name = OutputName(display, resources, monitor.outputs[0]);
        if (!name.empty()) return name;
    }
    char* atom = XGetAtomName(display, monitor.name);
    if (atom == nullptr) return {};
    std::string name(atom);
    XFree(atom);
    return name;
}

// The CRTC that drives the named output, or None.
RRCrtc CrtcOfOutput(Display* display, const std::string& outputName) {
    TScreenResources resources(display);
    if (resources.Get() == nullptr) return None;
    for (int i = 0; i < resources.Get()->noutput; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(display, resources.Get(), resources.Get()->outputs[i]);
        if (info == nullptr) continue;
        const bool match = outputName == std::string(info->name, info->nameLen);
        const RRCrtc crtc = info->crtc;
        XRRFreeOutputInfo(info);
        if (match) return crtc;
    }
    return None;
}

const std::string& ContextOutput(uintptr_t context) {
    return reinterpret_cast<const TOutputContext*>(context)->outputName;
}

// The CRTC behind a context's output and the length of its gamma ramps;
// None when the output has no CRTC or the CRTC no usable ramp.
struct TCrtcGamma {
    RRCrtc crtc = None;
    int size = 0;
};

TCrtcGamma GammaOfContext(Display* display, uintptr_t context) {
    const RRCrtc crtc = CrtcOfOutput(display, ContextOutput(context));
    if (crtc == None) return {};
    const int size = XRRGetCrtcGammaSize(display, crtc);
    if (size < 2) return {};
    return {crtc, size};
}

}  // namespace

// The backend's connection. It stays open for the backend's lifetime: a
// server that resets when its last client leaves (Xvfb, an X server without a
// display manager) would otherwise reset between two operations, dropping the
// gamma ramp just written and refusing a connection made while it resets.
class TXDisplayBackend::TConnection {
public:
    explicit TConnection(const std::string& name)
        : m_pDisplay(XOpenDisplay(name.empty() ? nullptr : name.c_str())) {
        if (m_pDisplay == nullptr) return;
        XSetIOErrorExitHandler(m_pDisplay, &MarkConnectionLost, &m_bLost);
        m_bMonitors = QueryMonitors();
    }
    ~TConnection() {
        if (m_pDisplay == nullptr) return;
        ForgetXErrors(m_pDisplay);
        XCloseDisplay(m_pDisplay);
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    Display* Get() const { return m_pDisplay; }
    // Open, not lost, and speaking RandR 1.5 or later (monitors).
    bool Usable() const { return m_pDisplay != nullptr && m_bMonitors && !m_bLost; }

private:
    bool QueryMonitors() const {
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        if (!XRRQueryExtension(m_pDisplay, &eventBase, &errorBase)) return false;
        if (!XRRQueryVersion(m_pDisplay, &major, &minor)) return false;
        return major > 1 || (major == 1 && minor >= 5);
    }

    Display* m_pDisplay;
    bool m_bMonitors = false;
    std::atomic<bool> m_bLost{false};
};

TXDisplayBackend::TXDisplayBackend(std::string displayName)
    : m_strDisplayName(std::move(displayName)) {
    InstallXErrorTrap();
    InstallIOErrorHandlerOnce();
}

TXDisplayBackend::~TXDisplayBackend() = default;

Display* TXDisplayBackend::Connect() {
    if (m_pConnection != nullptr && m_pConnection->Usable()) return m_pConnection->Get();
    m_pConnection.reset();
    auto connection = std::make_unique<TConnection>(m_strDisplayName);
    if (!connection->Usable()) return nullptr;
    m_pConnection = std::move(connection);
    return m_pConnection->Get();
}

std::vector<TDisplayInfo> TXDisplayBackend::EnumerateDisplays() {
    std::vector<TDisplayInfo> displays;
    std::lock_guard<std::mutex> guard(m_lock);
    Display* display = Connect();
    if (display == nullptr) return displays;
    TErrorScope errors(display);
    TScreenResources resources(display);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    if (monitors == nullptr) return displays;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors[i];
        TDisplayInfo info;
        info.deviceName = MonitorName(display, resources.Get(), monitor);
        info.monitor = {monitor.x, monitor.y, monitor.x + monitor.width, monitor.y + monitor.height};
        info.primary = monitor.primary != 0;
        displays.push_back(std::move(info));
    }
    XRRFreeMonitors(monitors);
    if (!errors.Clean()) displays.clear();
    return displays;
}

uintptr_t TXDisplayBackend::OpenContext(const std::string& deviceName) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Display* display = Connect();
        if (display == nullptr) return 0;
        TErrorScope errors(display);
        if (CrtcOfOutput(display, deviceName) == None || !errors.Clean()) return 0;
    }
    return reinterpret_cast<uintptr_t>(new TOutputContext{deviceName});
}

void TXDisplayBackend::CloseContext(uintptr_t context) {
    delete reinterpret_cast<TOutputContext*>(context);
}

bool TXDisplayBackend::GetGammaRamp(uintptr_t context, TGammaRamp& ramp) {
    if (context == 0) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    Display* display = Connect();
    if (display == nullptr) return false;
    TErrorScope errors(display);
    const TCrtcGamma target = GammaOfContext(display, context);
    if (target.crtc == None) return false;
    XRRCrtcGamma* gamma = XRRGetCrtcGamma(display, target.crtc);
    if (gamma == nullptr) return false;
    const bool complete = gamma->size == target.size;
    if (complete) {
        const uint16_t* channels[] = {gamma->red, gamma->green, gamma->blue};
        for (int c = 0; c < 3; ++c) {
            ResampleGammaChannel(channels[c], target.size, &ramp[c * kGammaEntries], kGammaEntries);
        }
    }
    XRRFreeGamma(gamma);
    return complete && errors.Clean();
}

bool TXDisplayBackend::SetGammaRamp(uintptr_t context, const TGammaRamp& ramp) {
    if (context == 0) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    Display* display = Connect();
    if (display == nullptr) return false;
    TErrorScope errors(display);
    const TCrtcGamma target = GammaOfContext(display, context);
    if (target.crtc == None) return false;
    XRRCrtcGamma* gamma = XRRAllocGamma(target.size);
    if (gamma == nullptr) return false;
    uint16_t* channels[] = {gamma->red, gamma->green, gamma->blue};
    for (int c = 0; c < 3; ++c) {
        ResampleGammaChannel(&ramp[c * kGammaEntries], kGammaEntries, channels[c], target.size);
    }
    XRRSetCrtcGamma(display, target.crtc, gamma);
    XRRFreeGamma(gamma);
    return errors.Clean();
}

}  // namespace platform
