#include "tests/support/XvfbSupport.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace quindle::test {
namespace {

int Spawn(const std::string& program, std::vector<std::string> args, posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), actions, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

TXvfb::TXvfb(std::vector<std::string> serverArgs) {
    const std::string xvfb = FindProgram("Xvfb");
    int ready[2];
    if (xvfb.empty() || pipe(ready) != 0) return;
    // -noreset: a server that resets when its last client leaves refuses
    // connections meanwhile and forgets its monitors and drawings.
    std::vector<std::string> args = {xvfb, "-displayfd", std::to_string(ready[1]), "-nolisten", "tcp", "-noreset"};
    args.insert(args.end(), serverArgs.begin(), serverArgs.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    m_pid = Spawn(xvfb, args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    // Xvfb writes its display number once it accepts clients; end of file
    // means it did not start.
    std::string number;
    char c = 0;
    while (m_pid > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (!number.empty()) m_strDisplay = ":" + number;
}

TXvfb::~TXvfb() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
}

TXvfb& TXvfb::Shared() {
    static TXvfb server({"-screen", "0", "1920x1080x24"});
    if (server.Running()) setenv("DISPLAY", server.Display().c_str(), 1);
    return server;
}

bool TXvfb::Xrandr(const std::vector<std::string>& args) const {
    const std::string xrandr = FindProgram("xrandr");
    if (xrandr.empty() || !Running()) return false;
    std::vector<std::string> argv = {xrandr, "-display", m_strDisplay};
    argv.insert(argv.end(), args.begin(), args.end());
    const int pid = Spawn(xrandr, argv, nullptr);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TXvfb::SetMonitor(const std::string& name, const TMonitorRect& rect, const std::string& output) const {
    // The server refuses to redefine a monitor in place.
    const std::string bare = name[0] == '*' ? name.substr(1) : name;
    Xrandr({"--delmonitor", bare});
    const std::string geometry = std::to_string(rect.width) + "/" + std::to_string(rect.width * 254 / 960) + "x" +
                                 std::to_string(rect.height) + "/" + std::to_string(rect.height * 286 / 1080) +
                                 "+" + std::to_string(rect.x) + "+" + std::to_string(rect.y);
    return Xrandr({"--setmonitor", name, geometry, output});
}

bool TXvfb::SplitIntoTwoMonitors() const {
    return SetMonitor("*LEFT", {0, 0, 960, 1080}, "screen") && SetMonitor("RIGHT", {960, 0, 960, 1080});
}

uint32_t KnownColour(int monitor, int quadrant) {
    static const uint32_t kColours[8] = {0xC00000, 0x00C000, 0x0000C0, 0xC0C000,
                                         0x00C0C0, 0xC000C0, 0x804020, 0x406080};
    return kColours[(monitor * 4 + quadrant) % 8];
}

bool TXvfb::PaintKnownPicture(const std::vector<TMonitorRect>& monitors) const {
    ::Display* display = XOpenDisplay(m_strDisplay.c_str());
    if (display == nullptr) return false;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const Pixmap pixmap = XCreatePixmap(display, root, DisplayWidth(display, screen),
                                        DisplayHeight(display, screen), DefaultDepth(display, screen));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XSetForeground(display, gc, 0);
    XFillRectangle(display, pixmap, gc, 0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen));
    for (size_t m = 0; m < monitors.size(); ++m) {
        const TMonitorRect& r = monitors[m];
        const int halfW = r.width / 2, halfH = r.height / 2;
        for (int q = 0; q < 4; ++q) {
            const int x = r.x + (q % 2) * halfW, y = r.y + (q / 2) * halfH;
            const int w = q % 2 ? r.width - halfW : halfW, h = q / 2 ? r.height - halfH : halfH;
            XSetForeground(display, gc, KnownColour(static_cast<int>(m), q));
            XFillRectangle(display, pixmap, gc, x, y, w, h);
        }
        XSetForeground(display, gc, kMarkerColour);
        XFillRectangle(display, pixmap, gc, r.x, r.y, kMarkerSize, kMarkerSize);
    }
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
    XFreeGC(display, gc);
    XFreePixmap(display, pixmap);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

}  // namespace quindle::test

// Qt's X11 platform, where a test runs it on this server, reaches the
// session bus through libdbus, which keeps a buffer until the process ends;
// the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
