#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "common/Utf.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/CSetVFmtDlg.h"
#include "console/DispatchEvent.h"
#include "console/VFmtSettings.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/SettingsStore.h"
#include "platform/Registry.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

namespace fs = std::filesystem;
using corvane::test::TFakeEngine;
using corvane::test::TFakePrompts;
using corvane::test::TJournal;

// Counts RestartVideo requests and keeps every dispatch from being handled.
class TRestartSpy final : public QObject {
public:
    int restarts = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != TDispatchEvent::kType)
            return false;
        if (static_cast<TDispatchEvent*>(event)->Code() == kRestartVideo)
            ++restarts;
        return true;
    }
};

std::string StoreBytes() {
    std::ifstream file(platform::RegistryHiveFile(platform::RegHive::LocalMachine),
                       std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct TStoredRecording {
    int16_t vaAlign = 0, bytesRate = 0, gop = 0;
    uint16_t fileExt = 0;
};

TStoredRecording ReadRecording() {
    TStoredRecording stored;
    ReadRecord(&stored.vaAlign, &stored.bytesRate, &stored.gop, &stored.fileExt);
    return stored;
}

// Each test gets its own store; the owner window counts the restarts.
class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() { corvane::test::OffscreenApp(); }

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "settings-dialog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        m_owner.installEventFilter(&m_spy);
    }
    void TearDown() override {
        m_pDialog.reset();
        QCoreApplication::sendPostedEvents(&m_owner);
        fs::remove_all(m_dir);
    }

    // Opens as button 1087 does, with the engine running this format.
    CSetVFmtDlg& Open(int16_t width = 1280, int16_t height = 720, int16_t format = 28,
                      int16_t fps = 30) {
        TFakeEngine engine(m_journal);
        engine.opened.push_back(TCapOpenParam::WithoutSources(width, height, format, fps));
        FillVFmtSettings(&m_settings, &engine, &m_owner);
        return Reopen();
    }
    CSetVFmtDlg& Reopen() {
        m_pDialog.reset();
        m_pDialog = std::make_unique<CSetVFmtDlg>(m_settings, m_prompts);
        return *m_pDialog;
    }

    template <typename T>
    T* Control(int id) const {
        return m_pDialog->findChild<T*>(QString::number(id));
    }
    QComboBox* List(int id) const { return Control<QComboBox>(id); }
    QLineEdit* Edit(int id) const { return Control<QLineEdit>(id); }
    void Press(int id) const { Control<QPushButton>(id)->click(); }
    int Restarts() {
        QCoreApplication::sendPostedEvents(&m_owner);
        return m_spy.restarts;
    }

    std::string m_dir;
    TJournal m_journal;
    TFakePrompts m_prompts;
    QObject m_owner;
    TRestartSpy m_spy;
    VFmtSettings m_settings;
    std::unique_ptr<CSetVFmtDlg> m_pDialog;
};

struct OpeningCase {
    const char* name;
    friend void PrintTo(const OpeningCase& c, std::ostream* os) { *os << c.name; }
    bool engineOpen;
    int16_t width, height, format, fps;
    const char* size;
    const char* frameRate;
    const char* colourFormat;
};

class SettingsOpeningTest : public SettingsDialogTest,
                            public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(SettingsOpeningTest, ListsShowTheEnginesFormatOrTheDefaults) {
    const OpeningCase& c = GetParam();
    TFakeEngine engine(m_journal);
    if (c.engineOpen)
        engine.opened.push_back(TCapOpenParam::WithoutSources(c.width, c.height, c.format, c.fps));
    FillVFmtSettings(&m_settings, &engine, &m_owner);
    Reopen();
    EXPECT_EQ(List(1000)->currentText().toStdString(), c.size);
    EXPECT_EQ(List(1089)->currentText().toStdString(), c.frameRate);
    EXPECT_EQ(List(1088)->currentText().toStdString(), c.colourFormat);
    EXPECT_TRUE(m_prompts.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Engine, SettingsOpeningTest,
    ::testing::Values(
        OpeningCase{"Running720p", true, 1280, 720, 28, 30, "1280x720", "30", "ARGB32"},
        OpeningCase{"Portrait", true, 360, 640, 3, 25, "(竖屏) 360x640", "25", "RGB24"},
        OpeningCase{"NotOpen", false, 0, 0, 0, 0, "640x360", "25", "YUY2"},
        OpeningCase{"OutsideTheLists", true, 800, 600, 0, 50, "640x360", "25", "YUY2"}),
    [](const auto& info) { return std::string(info.param.name); });

// A GOP between the entries shows the nearer one and no file type shows
// ".MP4"; applying stores what is shown.
TEST_F(SettingsDialogTest, StoredRecordingValuesOutsideTheControlsAreStoredAsShown) {
    ASSERT_TRUE(WriteRecord(0, 2, 120, 0));
    Open();
    EXPECT_EQ(List(1091)->currentText(), QStringLiteral("100"));
    EXPECT_TRUE(Control<QCheckBox>(3005)->isChecked());
    Press(1080);
    EXPECT_EQ(ReadRecording().gop, 100);
    EXPECT_EQ(ReadRecording().fileExt, 1);
}

TEST_F(SettingsDialogTest, AnOffsetBeyondFiveSecondsIsStoredAndShownClamped) {
    Open();
    Edit(1090)->clear();
    QTest::keyClicks(Edit(1090), QStringLiteral("-7000"));
    Press(1080);
    EXPECT_EQ(ReadRecording().vaAlign, -7000);
    Open();
    EXPECT_EQ(Edit(1090)->text(), QStringLiteral("-5000"));
}

TEST_F(SettingsDialogTest, TheOffsetEditTakesSixteenBitNumbersOnly) {
    Open();
    Edit(1090)->clear();
    QTest::keyClicks(Edit(1090), QStringLiteral("40000x"));
    EXPECT_EQ(Edit(1090)->text(), QStringLiteral("4000"));
    Edit(1090)->clear();
    QTest::keyClicks(Edit(1090), QStringLiteral("-32768"));
    EXPECT_EQ(Edit(1090)->text(), QStringLiteral("-32768"));
}

TEST_F(SettingsDialogTest, OkWithOnlyANewBitRateStoresItWithoutReopeningTheSources) {
    Open();
    QSignalSpy accepted(m_pDialog.get(), &QDialog::accepted);
    List(1097)->setCurrentIndex(5);
    Control<QCheckBox>(3007)->setChecked(true);
    Press(1);
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(ReadRecording().bytesRate, 5);
    EXPECT_EQ(ReadRecording().fileExt, 1 + 4);
    EXPECT_EQ(Restarts(), 0);
}

TEST_F(SettingsDialogTest, ANewSizeIsStoredAndEveryApplyReopensTheSources) {
    Open();
    List(1000)->setCurrentIndex(6);
    Press(1080);
    Press(1);
    EXPECT_EQ(Restarts(), 2);
    int16_t width, height, fps, format;
    ReadClient(&width, &height, &fps, &format);
    EXPECT_EQ((std::array{width, height, fps, format}),
              (std::array<int16_t, 4>{1920, 1080, 30, 28}));
}

TEST_F(SettingsDialogTest, AddressesAreStoredTrimmedWithTheirRemarks) {
    Open();
    Edit(3016)->setText(QStringLiteral("  rtmp://127.0.0.1:1935/live/a  "));
    Edit(3019)->setText(QStringLiteral("主播"));
    Edit(3018)->setText(QStringLiteral("udp://[::1]:1234"));
    Press(1080);
    int16_t rate = 0;
    char16_t addresses[kRtmpTargets][kRtmpAddrUnits], names[kRtmpTargets][kRtmpNameUnits];
    ReadRtmp(&rate, addresses, names);
    EXPECT_EQ(std::u16string(addresses[0]), u"rtmp://127.0.0.1:1935/live/a");
    EXPECT_EQ(std::u16string(names[0]), u"主播");
    EXPECT_EQ(std::u16string(addresses[2]), u"udp://[::1]:1234");
    EXPECT_TRUE(m_prompts.texts.empty());
}

struct RefusedCase {
    const char* name;
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
    std::function<void(VFmtSettings&)> opening;  // what the record holds when the dialog opens
    int target;                                  // 0..2, or -1 for no address typed
    const char* address;
    const char* remark;
    std::string message;
};

class SettingsRefusedTest : public SettingsDialogTest,
                            public ::testing::WithParamInterface<RefusedCase> {};

// The size changes too, so a refused Apply that still went on would post.
TEST_P(SettingsRefusedTest, ARefusedValueIsNamedAndNothingIsStoredOrPosted) {
    const RefusedCase& c = GetParam();
    ASSERT_TRUE(WriteRecord(0, 3, 100, 1));
    Open();
    if (c.opening)
        c.opening(m_settings);
    Reopen();
    if (c.target >= 0) {
        Edit(3016 + c.target)->setText(QString::fromUtf8(c.address));
        Edit(3019 + c.target)->setText(QString::fromUtf8(c.remark));
    }
    List(1000)->setCurrentIndex(6);
    const std::string before = StoreBytes();
    ASSERT_FALSE(before.empty());
    Press(1);
    EXPECT_EQ(m_prompts.texts, (std::vector<std::string>{c.message}));
    EXPECT_EQ(StoreBytes(), before);
    EXPECT_EQ(Restarts(), 0);
}

constexpr char kBadAddress[] = "无效：只支持 rtmp:// 或 udp:// 地址";

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsRefusedTest,
    ::testing::Values(
        RefusedCase{"OtherScheme",
                    {},
                    0,
                    "http://127.0.0.1/live",
                    "",
                    std::string("推流地址1") + kBadAddress},
        RefusedCase{"NoHost", {}, 1, "rtmp:///live", "", std::string("推流地址2") + kBadAddress},
        RefusedCase{"PortOnly", {}, 2, " udp://:1234 ", "", std::string("推流地址3") + kBadAddress},
        RefusedCase{
            "RemarkWithoutAddress", {}, 1, "  ", "备用", "推流地址2为空，请填写地址或删除备注"},
        RefusedCase{"UnwritableFolder", [](VFmtSettings& s) { s.recordFolder = u"/proc"; }, -1, "",
                    "", "录制文件夹不存在或不可写入：/proc"},
        RefusedCase{"MissingFolder",
                    [](VFmtSettings& s) { s.recordFolder = u"/proc/no-such-folder"; }, -1, "", "",
                    "录制文件夹不存在或不可写入：/proc/no-such-folder"},
        RefusedCase{"RecordBitRateUnselected", [](VFmtSettings& s) { s.recordBitRateIndex = -1; },
                    -1, "", "", "您选择的设置不在可选范围内"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsDialogTest, AFailedStoreWriteIsReportedAndNothingIsPosted) {
    Open();
    // Nothing can be created under /proc, not even by root.
    setenv("XDG_CONFIG_HOME", "/proc/quindle-no-store", 1);
    QSignalSpy accepted(m_pDialog.get(), &QDialog::accepted);
    List(1000)->setCurrentIndex(6);
    Press(1);
    EXPECT_EQ(m_prompts.texts, (std::vector<std::string>{"设置保存失败"}));
    EXPECT_EQ(accepted.count(), 0) << "the dialog stays open with what was entered";
    EXPECT_EQ(Restarts(), 0);
}

class SettingsSelectionTest : public SettingsDialogTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(SettingsSelectionTest, ASelectionOutsideTheListReturnsToTheStoredEntry) {
    ASSERT_TRUE(WriteRecord(0, 4, 100, 1));
    ASSERT_TRUE(WriteRtmp(1, std::array<std::u16string_view, 3>{}.data(),
                          std::array<std::u16string_view, 3>{}.data()));
    Open();
    QComboBox* list = List(GetParam());
    const int stored = list->currentIndex();
    list->setCurrentIndex(-1);
    EXPECT_EQ(list->currentIndex(), stored);
    EXPECT_EQ(m_prompts.texts, (std::vector<std::string>{"您选择的设置不在可选范围内"}));
}

INSTANTIATE_TEST_SUITE_P(Lists, SettingsSelectionTest, ::testing::Values(1000, 1094, 1097));

struct EditLimitCase {
    int id;
    int units;
    friend void PrintTo(const EditLimitCase& c, std::ostream* os) { *os << c.id; }
};

class SettingsEditLimitTest : public SettingsDialogTest,
                              public ::testing::WithParamInterface<EditLimitCase> {};

TEST_P(SettingsEditLimitTest, AnEditTakesWhatItsFieldHolds) {
    Open();
    QTest::keyClicks(Edit(GetParam().id), QString(300, QLatin1Char('a')));
    EXPECT_EQ(Edit(GetParam().id)->text().size(), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Fields, SettingsEditLimitTest,
                         ::testing::Values(EditLimitCase{3016, 259}, EditLimitCase{3021, 31}),
                         [](const auto& info) { return std::to_string(info.param.id); });

TEST_F(SettingsDialogTest, TheChosenFolderIsShownTrimmedAndACancelIsNamed) {
    m_settings.recordFolder = u"/srv/old";
    Reopen();
    m_prompts.chosenFolder = "  " + m_dir + "  ";
    Press(1081);
    EXPECT_EQ(m_prompts.texts, (std::vector<std::string>{"请选择录制文件夹："}));
    EXPECT_EQ(m_prompts.folderStarts, (std::vector<std::string>{"/srv/old"}));
    EXPECT_EQ(Edit(1093)->text().toStdString(), m_dir);
    m_prompts.chosenFolder.clear();
    Press(1081);
    EXPECT_EQ(m_prompts.texts.back(), "无效的目录，请重新选择");
    EXPECT_EQ(Edit(1093)->text().toStdString(), m_dir);
    Press(1080);
    char16_t stored[kRtmpAddrUnits] = {};
    ASSERT_EQ(ReadString(stored, sizeof stored, "RecordPath", "Record"), 1);
    EXPECT_EQ(common::Utf16ToUtf8(stored), m_dir);
}

TEST_F(SettingsDialogTest, AnUnsetPictureFormatIsNamedAtInitialisation) {
    m_settings.sizeIndex = -1;
    Reopen();
    EXPECT_EQ(m_prompts.texts, (std::vector<std::string>{"对话框初始化失败: 缺省格式没有指定"}));
}

// Indices the lists cannot show leave them unselected; Apply names each and
// goes on with the default entry.
TEST_F(SettingsDialogTest, UnselectedPictureListsAreNamedAndGetTheirDefaults) {
    m_settings.formatIndex = 5;
    m_settings.frameRateIndex = 4;
    m_settings.sizeIndex = 9;
    Reopen();
    Press(1080);
    EXPECT_EQ(m_prompts.texts,
              (std::vector<std::string>{"设备颜色格式不在可选范围内", "设备帧率不在可选范围内",
                                        "您选择的设置不在可选范围内"}));
    EXPECT_EQ(List(1088)->currentText(), QStringLiteral("YUY2"));
    EXPECT_EQ(List(1089)->currentText(), QStringLiteral("25"));
    EXPECT_EQ(List(1000)->currentText(), QStringLiteral("640x360"));
}

// Button 1087 of the main dialog opens the settings with the engine's format.
TEST_F(SettingsDialogTest, TheMainDialogsButtonOpensTheSettingsModally) {
    TTrackedPrompts tracked(m_prompts);
    corvane::test::TFakeBinding binding(m_journal);
    binding.engine.opened.push_back(TCapOpenParam::WithoutSources(1280, 720, 28, 30));
    TDlgOptions options;
    options.listDevices = [](TDShowDeviceList* list) { *list = {}; };
    CRoriDaziZevoDlg main(nullptr, binding, tracked, options);
    main.installEventFilter(&m_spy);
    std::string shownSize;
    QTimer::singleShot(0, [&] {
        // Runs inside the settings dialog's own event loop.
        auto* settings = main.findChild<CSetVFmtDlg*>();
        auto* sizes = settings->findChild<QComboBox*>(QStringLiteral("1000"));
        shownSize = sizes->currentText().toStdString();
        sizes->setCurrentIndex(0);
        settings->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    main.findChild<QPushButton*>(QStringLiteral("1087"))->click();
    QCoreApplication::sendPostedEvents(&main);
    EXPECT_EQ(shownSize, "1280x720");
    EXPECT_EQ(m_spy.restarts, 1);
    main.removeEventFilter(&m_spy);
}

TEST_F(SettingsDialogTest, ClosingTheMainDialogClosesTheSettings) {
    TTrackedPrompts tracked(m_prompts);
    corvane::test::TFakeBinding binding(m_journal);
    TDlgOptions options;
    options.listDevices = [](TDShowDeviceList* list) { *list = {}; };
    CRoriDaziZevoDlg main(nullptr, binding, tracked, options);
    bool settingsWereOpen = false;
    QTimer::singleShot(0, [&] {
        settingsWereOpen = main.findChild<CSetVFmtDlg*>() != nullptr;
        main.RequestClose();
    });
    main.findChild<QPushButton*>(QStringLiteral("1087"))->click();
    EXPECT_TRUE(settingsWereOpen);
    EXPECT_TRUE(main.HasEnded());
}

}  // namespace
}  // namespace console
