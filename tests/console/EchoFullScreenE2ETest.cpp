// The echo window's full screen on an X server split into two monitors:
// it covers the monitor holding its centre and comes back to where it was.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "console/CPreviewDlg.h"
#include "tests/console/CorvaneTestSupport.h"
#include "tests/support/XvfbSupport.h"

namespace console {
namespace {

struct TMonitorCase {
    const char* name;
    QPoint centre;
    QRect covered;
};

class EchoFullScreenTest : public ::testing::TestWithParam<TMonitorCase> {
protected:
    static void SetUpTestSuite() {
        // Qt reads the monitors when the application starts.
        auto& xvfb = quindle::test::TXvfb::Shared();
        s_bTwoMonitors = xvfb.Running() && xvfb.SplitIntoTwoMonitors();
        if (s_bTwoMonitors) corvane::test::TQtAppEnvironment::App("xcb");
    }
    static inline bool s_bTwoMonitors = false;
};

TEST_P(EchoFullScreenTest, CoversTheMonitorHoldingItsCentreAndComesBack) {
    ASSERT_TRUE(s_bTwoMonitors);
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    CPreviewDlg window;
    QRect windowed(QPoint(0, 0), QSize(400, 300));
    windowed.moveCenter(GetParam().centre);
    window.setGeometry(windowed);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect before = window.geometry();

    window.SetFullScreen(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.geometry() == GetParam().covered; }, 5000));
    EXPECT_EQ(window.Surface()->size(), GetParam().covered.size());
    window.SetFullScreen(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.geometry() == before; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Monitors, EchoFullScreenTest,
                         ::testing::Values(TMonitorCase{"Left", {300, 500}, {0, 0, 960, 1080}},
                                           TMonitorCase{"Right", {1500, 500}, {960, 0, 960, 1080}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace console
