// One console per session, through the application object itself: a later
// start reaches the running console over its socket, and a folder where no
// lock or socket can be made does not keep the console from running.

#include <gtest/gtest.h>

#include <QTimer>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoApp.h"
#include "console/media/TEnumDShowDevices.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

namespace fs = std::filesystem;
using corvane::test::TFakeBinding;
using corvane::test::TFakePrompts;
using corvane::test::TJournal;

constexpr int kGiveUpMs = 20000;

class CorvaneInstanceTest : public ::testing::Test {
protected:
    CorvaneInstanceTest() { corvane::test::OffscreenApp(); }

    void SetUp() override {
        char pattern[] = "/tmp/corvane-instance-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_strFolder = pattern;
    }
    void TearDown() override { fs::remove_all(m_strFolder); }

    CRoriDaziZevoApp::TOptions Options(const std::string& instanceFolder) {
        CRoriDaziZevoApp::TOptions options;
        options.instanceFolder = instanceFolder;
        options.dialog.listDevices = [](TDShowDeviceList* list) { *list = {}; };
        options.makeBinding = [this] { return std::make_unique<TFakeBinding>(m_journal); };
        return options;
    }

    // Runs the console until `step` returns true; `step` is called from its
    // event loop every few milliseconds once the main dialog is shown. The
    // console is closed then, or after kGiveUpMs whatever happened.
    static int RunUntil(CRoriDaziZevoApp& app, const std::function<bool(CRoriDaziZevoDlg&)>& step) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            CRoriDaziZevoDlg* dialog = app.MainDialog();
            if (dialog == nullptr || !dialog->isVisible() || !step(*dialog)) return;
            poll.stop();
            dialog->RequestClose();
        });
        poll.start(5);
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [&] {
            if (app.MainDialog() != nullptr) app.MainDialog()->RequestClose();
        });
        giveUp.start(kGiveUpMs);
        return app.InitInstance();
    }

    std::string m_strFolder;
    TJournal m_journal;
    TFakePrompts m_prompts;
};

TEST_F(CorvaneInstanceTest, LaterStartReachesTheRunningConsoleOverItsSocket) {
    CRoriDaziZevoApp first(m_prompts, Options(m_strFolder));
    std::vector<std::string> shownBySecond;
    bool secondStarted = false, previewShownAgain = false;
    const int status = RunUntil(first, [&](CRoriDaziZevoDlg& dialog) {
        if (!secondStarted) {
            secondStarted = true;
            dialog.Preview()->hide();
            TFakePrompts secondPrompts;
            CRoriDaziZevoApp second(secondPrompts, Options(m_strFolder));
            EXPECT_EQ(second.InitInstance(), 0);
            EXPECT_EQ(second.MainDialog(), nullptr) << "the later start ends without a dialog";
            shownBySecond = secondPrompts.texts;
            return false;
        }
        previewShownAgain = dialog.Preview()->isVisible();
        return previewShownAgain;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(shownBySecond, std::vector<std::string>{"Quindle控制面板已经启动"});
    EXPECT_TRUE(previewShownAgain) << "code 2 shows the running console's windows";
}

TEST_F(CorvaneInstanceTest, FolderWithoutLockOrSocketStillRunsTheConsole) {
    // A regular file where the folder should be: no lock, no socket, root or not.
    const std::string blocker = m_strFolder + "/not-a-folder";
    std::ofstream(blocker) << "x";
    CRoriDaziZevoApp app(m_prompts, Options(blocker + "/Quindle"));
    bool ran = false;
    EXPECT_EQ(RunUntil(app, [&](CRoriDaziZevoDlg&) { return ran = true; }), 0);
    EXPECT_TRUE(ran);
    for (const std::string& text : m_prompts.texts) EXPECT_NE(text, "Quindle控制面板已经启动");
}

}  // namespace
}  // namespace console
