// The upgrade offer and the download dialog under Qt's offscreen platform,
// against a scripted upgrade service on 127.0.0.1.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "console/UpgradeCheck.h"
#include "console/UpvaneDlg.h"
#include "console/services/SettingsStore.h"
#include "tests/ChildProcess.h"
#include "tests/console/upgrade/ScriptedHttpServer.h"

// Qt is not built with the thread sanitizer: the synchronisation inside its
// own thread pool is invisible to it. Our worker's hand-overs stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}

namespace {

using console::RunUpgradeCheck;
using console::UpvaneDlg;

namespace fs = std::filesystem;
using upgradetest::Answer;

const QString kLinkFailure = QString::fromUtf8("通讯链路故障, 升级失败");

std::string RecordBytes(uint8_t scheme, const std::string& address) {
    console::UpgradePackageRecord record{};
    record.scheme = scheme;
    std::memcpy(record.address, address.data(), std::min(address.size(), sizeof record.address));
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string InfoBytes(uint32_t newest, uint32_t oldest) {
    std::string bytes;
    for (uint32_t value : {newest, oldest})
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(value >> shift & 0xff);
    return bytes;
}

class UpgradeDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "upvane_dialog_tests";
        static char* argv[] = {name, nullptr};
        static QApplication application(argc, argv);
    }
    void SetUp() override {
        m_exeDir = fs::path(std::getenv("HOME")) / "exe";
        fs::create_directories(m_exeDir);
    }

    UpvaneDlg::TShowBox RecordBox() {
        return [this](const QString& text) { m_boxes.push_back(text); };
    }
    UpvaneDlg::TOptions Options() {
        UpvaneDlg::TOptions options;
        options.startPackage = [this](const fs::path& package) {
            m_started.push_back(package);
            return true;
        };
        return options;
    }
    std::unique_ptr<UpvaneDlg> MakeDialog(console::TUpgradeServiceOptions service = {},
                                          UpvaneDlg::TOptions options = {}) {
        if (!options.startPackage) options.startPackage = Options().startPackage;
        return std::make_unique<UpvaneDlg>(console::TUpgradeService(m_server.Url(), service), 1, m_exeDir,
                                           RecordBox(), options);
    }
    void ServePackageAt(const std::string& path) {
        m_server.Serve("/package/1", Answer(200, RecordBytes(0, "127.0.0.1:" + std::to_string(m_server.Port()) + path)));
    }
    fs::path Package() const { return m_exeDir / "QndlSetup.exe"; }
    void ExpectNoPackageStarted() const {
        EXPECT_FALSE(fs::exists(Package()));
        EXPECT_FALSE(fs::exists(console::PartialPath(Package())));
        EXPECT_TRUE(m_started.empty());
    }

    upgradetest::TScriptedHttpServer m_server;
    fs::path m_exeDir;
    std::vector<QString> m_boxes;
    std::vector<fs::path> m_started;
};

TEST_F(UpgradeDialogTest, DownloadsWithoutLengthAndStartsThePackage) {
    ServePackageAt("/p");
    m_server.Serve("/p", Answer(200, std::string(50000, 's'), false));
    auto dialog = MakeDialog();
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("下载升级包"));

    EXPECT_EQ(dialog->exec(), UpvaneDlg::kEndCode);

    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(testsupport::ReadWholeFile(Package().string()), std::string(50000, 's'));
    EXPECT_EQ(m_started, std::vector<fs::path>{Package()});
    const auto* bar = dialog->findChild<QProgressBar*>("3004");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->maximum(), 1000);
    EXPECT_EQ(bar->value(), 1000);
}

TEST_F(UpgradeDialogTest, RecordWithoutTerminatorIsALinkFailure) {
    m_server.Serve("/package/1", Answer(200, RecordBytes(0, std::string(63, 'a'))));
    EXPECT_EQ(MakeDialog()->exec(), UpvaneDlg::kEndCode);
    EXPECT_EQ(m_boxes, std::vector<QString>{kLinkFailure});
    ExpectNoPackageStarted();
}

TEST_F(UpgradeDialogTest, BodyCutShortFailsAndStartsNothing) {
    ServePackageAt("/p");
    m_server.Serve("/p", upgradetest::Short(1000, std::string(500, 'c'), false));
    EXPECT_EQ(MakeDialog()->exec(), UpvaneDlg::kEndCode);
    EXPECT_EQ(m_boxes, std::vector<QString>{QString::fromUtf8("下载失败\n") + QString::fromStdString(Package())});
    ExpectNoPackageStarted();
}

class UpgradeCancelTest : public UpgradeDialogTest, public testing::WithParamInterface<const char*> {};

// No limit would end the stall: only the cancel can.
TEST_P(UpgradeCancelTest, CancelDuringAStallEndsQuietly) {
    ServePackageAt("/p");
    m_server.Serve(GetParam(), upgradetest::Short(100000, "s", true));
    console::TUpgradeServiceOptions service;
    service.limits.totalTimeout_ms = 0;
    service.limits.lowSpeedTime_s = 3600;
    UpvaneDlg::TOptions options;
    options.download.limits.lowSpeedTime_s = 3600;
    auto dialog = MakeDialog(service, options);
    dialog->show();
    ASSERT_TRUE(testsupport::WaitFor([&] {
        QApplication::processEvents();
        return m_server.Stalls() == 1;
    }));

    dialog->findChild<QPushButton*>("2")->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), UpvaneDlg::kEndCode);
    dialog.reset();  // waits for the cancelled worker
    QApplication::processEvents();
    EXPECT_TRUE(m_boxes.empty());
    ExpectNoPackageStarted();
}

INSTANTIATE_TEST_SUITE_P(Stalls, UpgradeCancelTest, testing::Values("/package/1", "/p"),
                         [](const auto& info) { return std::string(std::string_view(info.param) == "/p" ? "Package" : "Record"); });

TEST(UpvaneBarTest, HoldsTheBaseWithoutATotal) {
    EXPECT_EQ(UpvaneDlg::BarPosition(5000, 0, 0.1), 100);
    EXPECT_EQ(UpvaneDlg::BarPosition(50, 100, 0.1), 550);
}

struct TCheckCase {
    const char* name;
    uint32_t newest;
    uint32_t oldest;
    bool answerYes;
    bool asked;
    int result;
};

class UpgradeCheckTest : public UpgradeDialogTest, public testing::WithParamInterface<TCheckCase> {};

// An upgrade here ends in the link failure: the service has no package.
TEST_P(UpgradeCheckTest, OffersByVersion) {
    const TCheckCase& c = GetParam();
    console::WriteString(QString::fromStdString(m_server.Url("/")).toStdU16String(), "UpgradeUrl", "");
    m_server.Serve("/info", Answer(200, InfoBytes(c.newest, c.oldest)));
    std::vector<QString> questions;
    auto ask = [&](const QString& text) {
        questions.push_back(text);
        return c.answerYes;
    };

    EXPECT_EQ(RunUpgradeCheck(m_exeDir, ask, RecordBox()), c.result);

    EXPECT_EQ(questions, c.asked ? std::vector<QString>{QString::fromUtf8("发现新版本，是否升级？")}
                                 : std::vector<QString>{});
    EXPECT_EQ(m_boxes, c.result == 1 ? std::vector<QString>{kLinkFailure} : std::vector<QString>{});
}

INSTANTIATE_TEST_SUITE_P(Versions, UpgradeCheckTest,
                         testing::Values(TCheckCase{"NothingNewer", 0x01000005, 0, true, false, 0},
                                         TCheckCase{"NewerDeclined", 0x01000006, 0x01000005, false, true, 0},
                                         TCheckCase{"NewerAccepted", 0x01000006, 0x01000005, true, true, 1},
                                         TCheckCase{"NoLongerAllowed", 0x01000006, 0x01000006, false, false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeDialogTest, NoServiceMeansNoRequest) {
    bool asked = false;
    EXPECT_EQ(RunUpgradeCheck(m_exeDir, [&](const QString&) { return asked = true; }, RecordBox()), 0);
    EXPECT_FALSE(asked);
    EXPECT_EQ(m_server.Requests(), 0);
}

}  // namespace
