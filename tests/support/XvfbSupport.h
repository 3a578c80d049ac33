#pragma once

// A real X server for tests: one Xvfb for the test process, on a display
// number it picks itself (-displayfd), with $DISPLAY pointing at it, and the
// helpers that shape its monitors and paint a picture the tests know.

#include <cstdint>
#include <string>
#include <vector>

namespace quindle::test {

struct TMonitorRect {
    int x, y, width, height;
};

class TXvfb {
public:
    // Starts Xvfb with these server arguments (-displayfd, -nolisten tcp and
    // -noreset are added). Running() tells whether it came up.
    explicit TXvfb(std::vector<std::string> serverArgs);
    ~TXvfb();
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    // The process's server, 1920x1080 at depth 24, started on
    // first use; $DISPLAY names it from then on. Stopped at exit.
    static TXvfb& Shared();

    bool Running() const { return !m_strDisplay.empty(); }
    const std::string& Display() const { return m_strDisplay; }

    // Runs xrandr against this server; true when it exits with 0.
    bool Xrandr(const std::vector<std::string>& args) const;
    // Defines (or redefines) a monitor at 254 pixels per inch, on the
    // output of that name or on "none".
    bool SetMonitor(const std::string& name, const TMonitorRect& rect, const std::string& output = "none") const;
    // Replaces the server's monitor by two halves of 960 x 1080: "screen"
    // (LEFT, primary) and "RIGHT".
    bool SplitIntoTwoMonitors() const;
    // Sets the root window's background: per monitor four quadrants of
    // KnownColour(monitor, quadrant) and a marker square at its top left.
    bool PaintKnownPicture(const std::vector<TMonitorRect>& monitors) const;

private:
    int m_pid = 0;
    std::string m_strDisplay;
};

constexpr int kMarkerSize = 16;
constexpr uint32_t kMarkerColour = 0xFFFFFF;
// 0xRRGGBB of quadrant 0 (top left), 1 (top right), 2 (bottom left) or
// 3 (bottom right) of monitor 0 or 1.
uint32_t KnownColour(int monitor, int quadrant);

// The path of a program on $PATH, or empty.
std::string FindProgram(const std::string& name);

}  // namespace quindle::test
