#include "platform/XErrorTrap.h"

#include <X11/Xlib.h>

#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

std::mutex g_recordLock;
std::unordered_map<Display*, int>& Records() {
    static std::unordered_map<Display*, int> records;
    return records;
}

// Runs inside Xlib with the connection's lock held: it records and returns,
// and makes no request of its own.
int RecordXError(Display* display, XErrorEvent* event) {
    std::lock_guard<std::mutex> guard(g_recordLock);
    int& code = Records()[display];
    if (code == 0) code = event->error_code;
    return 0;
}

}  // namespace

void InstallXErrorTrap() {
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(&RecordXError); });
}

void ForgetXErrors(Display* display) {
    std::lock_guard<std::mutex> guard(g_recordLock);
    Records().erase(display);
}

int SyncAndTakeXError(Display* display) {
    XSync(display, False);
    std::lock_guard<std::mutex> guard(g_recordLock);
    const auto found = Records().find(display);
    if (found == Records().end()) return 0;
    const int code = found->second;
    Records().erase(found);
    return code;
}

}  // namespace platform
