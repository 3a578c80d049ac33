#include <gtest/gtest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cstring>
#include <memory>
#include <thread>

#include "common/ErrorTrail.h"
#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/DispatchEvent.h"
#include "console/OpenParams.h"
#include "console/TEngineBinding.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/SettingsStore.h"
#include "platform/MessageBox.h"
#include "tests/media/PulseTestSupport.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

using corvane::test::MakePicture;
using corvane::test::TCountingRecorder;
using corvane::test::TFakeBinding;
using corvane::test::TFakePrompts;
using corvane::test::TJournal;

// Records every WM_DISPATCH delivered to the dialog, in order.
class TDispatchSpy final : public QObject {
public:
    std::vector<std::pair<int, int64_t>> seen;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == TDispatchEvent::kType) {
            const auto* dispatch = static_cast<TDispatchEvent*>(event);
            seen.emplace_back(dispatch->Code(), dispatch->Argument());
        }
        return false;
    }
};

void ListDevices(TDShowDeviceList* list, std::vector<std::string> video, std::vector<std::string> audio) {
    std::memset(list, 0, sizeof *list);
    for (const std::string& name : video) {
        std::strncpy(list->videoNames[list->videoCount], name.c_str(), TDShowDeviceList::kNameBytes - 1);
        std::snprintf(list->videoAltNames[list->videoCount], TDShowDeviceList::kNameBytes, "/dev/video%d",
                      list->videoCount);
        ++list->videoCount;
    }
    for (const std::string& name : audio) {
        std::strncpy(list->audioNames[list->audioCount++], name.c_str(), TDShowDeviceList::kNameBytes - 1);
    }
}

class CorvaneDialogTest : public ::testing::Test {
protected:
    CorvaneDialogTest() { corvane::test::OffscreenApp(); }

    void SetUp() override {
        common::ErrorTrail::Take();
        WriteClient(1280, 720, 30, 1);
    }

    CRoriDaziZevoDlg& MakeDialog(bool withEngine = true, TDlgOptions options = {}) {
        m_pBinding = std::make_unique<TFakeBinding>(m_journal, withEngine);
        if (!options.listDevices) options.listDevices = [](TDShowDeviceList* list) { ListDevices(list, {}, {}); };
        m_pDialog = std::make_unique<CRoriDaziZevoDlg>(nullptr, *m_pBinding, m_tracked, std::move(options));
        m_pDialog->installEventFilter(&m_spy);
        return *m_pDialog;
    }

    static void RunPosted() { QCoreApplication::sendPostedEvents(); }

    TJournal m_journal;
    TFakePrompts m_prompts;
    TTrackedPrompts m_tracked{m_prompts};
    TDispatchSpy m_spy;
    std::unique_ptr<TFakeBinding> m_pBinding;
    std::unique_ptr<CRoriDaziZevoDlg> m_pDialog;
};

TEST_F(CorvaneDialogTest, StartUpPostsCameraStateThenAudioThenVideo) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    RunPosted();
    const std::vector<std::pair<int, int64_t>> expected{{kCameraInUse, 0}, {kRestartAudio, 0}, {kRestartVideo, 0}};
    EXPECT_EQ(m_spy.seen, expected);
    EXPECT_EQ(m_pBinding->engine.layouts, 1) << "template 0 goes to the engine at start";
    ASSERT_FALSE(m_prompts.texts.empty());
    EXPECT_EQ(m_prompts.texts[0].rfind("RestartAudio: Audio dev name is empty", 0), 0u);
}

TEST_F(CorvaneDialogTest, WithoutEngineTheDialogEndsAfterTheMessage) {
    CRoriDaziZevoDlg& dialog = MakeDialog(false);
    EXPECT_FALSE(dialog.OnInitDialog());
    EXPECT_EQ(m_prompts.texts, std::vector<std::string>{"引擎初始化失败"});
    EXPECT_TRUE(dialog.HasEnded());
}

TEST_F(CorvaneDialogTest, PlacedAboveTheBottomRightCornerWithoutTheDebugPanel) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    const QRect desktop = QGuiApplication::primaryScreen()->geometry();
    const QRect outer = dialog.frameGeometry();
    EXPECT_EQ(dialog.height(), dialog.TemplateSize().height() - 110);
    EXPECT_EQ(outer.x() + outer.width(), desktop.x() + desktop.width());
    EXPECT_EQ(outer.y() + outer.height(), desktop.y() + desktop.height() - 50);
}

TEST_F(CorvaneDialogTest, FramesReachRecordersUntilTheExitSequenceBegins) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    RunPosted();
    TCountingRecorder live(&m_journal, "live"), file(&m_journal, "file");
    dialog.Recorders().live.Put(&live, &TCountingRecorder::KeepForTest);
    dialog.Recorders().file.Put(&file, &TCountingRecorder::KeepForTest);
    AVFrame* frame = MakePicture();
    m_spy.seen.clear();

    m_pBinding->Deliver(frame, 1);
    RunPosted();
    EXPECT_EQ(live.videoPushes, 1);
    EXPECT_EQ(file.videoPushes, 1);
    EXPECT_EQ(m_spy.seen, (std::vector<std::pair<int, int64_t>>{{kCameraInUse, 1}}));
    EXPECT_EQ(dialog.LastCameraInUse(), 1);
    EXPECT_FALSE(dialog.findChild<QPushButton*>("1087")->isEnabled());

    m_pBinding->lateFrame = frame;  // arrives while the engine is being released
    m_spy.seen.clear();
    dialog.OnCancel();
    m_pBinding->Deliver(frame, 0);
    RunPosted();
    EXPECT_TRUE(m_spy.seen.empty());
    EXPECT_EQ(live.videoPushes + file.videoPushes, 2);
    EXPECT_EQ(live.pushesAfterClose + file.pushesAfterClose, 0);
    av_frame_free(&frame);
}

TEST_F(CorvaneDialogTest, ExitSequenceFinishesBothRecordersBeforeTheEngineAndEndsTheLog) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    TCountingRecorder live(&m_journal, "live"), file(&m_journal, "file");
    dialog.Recorders().live.Put(&live, &TCountingRecorder::KeepForTest);
    dialog.Recorders().file.Put(&file, &TCountingRecorder::KeepForTest);

    dialog.OnCancel();
    EXPECT_EQ(m_journal.Entries(), (std::vector<std::string>{"file closed", "live closed", "engine released"}));
    EXPECT_EQ(ProcessRtLog(), nullptr);
    EXPECT_EQ(dialog.Preview(), nullptr);
    EXPECT_TRUE(dialog.HasEnded());
}

TEST_F(CorvaneDialogTest, CloseDuringAMessageBoxRunsOnceTheBoxReturns) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    bool closingWhileShown = true;
    m_prompts.whileShown = [&] {
        dialog.RequestClose();
        closingWhileShown = dialog.IsClosing();
    };
    RunPosted();  // the empty audio list and the cancelled chooser each show a box
    EXPECT_FALSE(closingWhileShown);
    QCoreApplication::sendPostedEvents(&dialog, QEvent::MetaCall);
    EXPECT_TRUE(dialog.HasEnded());
}

TEST_F(CorvaneDialogTest, EnterIsIgnoredAndEscapeRunsTheExitSequence) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog.IsClosing());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.HasEnded());
    EXPECT_EQ(m_journal.Entries().back(), "engine released");
}

TEST_F(CorvaneDialogTest, OwnVirtualCameraIsNotListedAndEntriesKeepTheirDevice) {
    TDlgOptions options;
    options.listDevices = [](TDShowDeviceList* list) { ListDevices(list, {"Desk", "qUINDLE", "Room"}, {"Mic"}); };
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    const auto* list = dialog.findChild<QComboBox*>("1017");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(1), "Room");
    EXPECT_EQ(list->itemData(1).toInt(), 2);
    EXPECT_EQ(list->itemText(2), "视频文件...");
}

TEST_F(CorvaneDialogTest, CancelledFileChoiceOpensNothingAndShowsTheTrail) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    common::ErrorTrail::Add("earlier failure");
    dialog.OnDispatchMsg(kRestartVideo, 0);
    EXPECT_TRUE(m_pBinding->engine.opened.empty());
    ASSERT_EQ(m_prompts.texts.size(), 2u);
    EXPECT_EQ(m_prompts.texts[0], CRoriDaziZevoDlg::kMediaFileFilter);
    EXPECT_EQ(m_prompts.texts[1].rfind("earlier failure", 0), 0u);
}

TEST_F(CorvaneDialogTest, SourceRequestDuringTheFileChoiceIsRefused) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    m_prompts.chosenFile = "/clip.mp4";
    m_prompts.whileChoosing = [&] { dialog.OnDispatchMsg(kRestartVideo, 0); };
    dialog.OnDispatchMsg(kRestartVideo, 0);
    EXPECT_EQ(m_pBinding->engine.opened.size(), 1u);
    EXPECT_EQ(m_prompts.texts.size(), 2u) << "one chooser, then the refused request's box";
}

TEST_F(CorvaneDialogTest, FailedEngineOpenShowsTheFailure) {
    TDlgOptions options;
    options.mediaFile = "/clip.mp4";
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    m_pBinding->engine.openResult = 1;
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.OnDispatchMsg(kRestartVideo, 0);
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0].rfind("引擎初始化失败", 0), 0u);
    EXPECT_TRUE(m_pBinding->engine.processFlags.empty());
}

TEST_F(CorvaneDialogTest, AudioInputThatDoesNotOpenShowsTheFailure) {
    testsupport::TNoPulseServer noServer;
    TDlgOptions options;
    options.listDevices = [](TDShowDeviceList* list) {
        ListDevices(list, {}, {"Ghost"});
        std::snprintf(list->audioAltNames[0], TDShowDeviceList::kNameBytes, "no-such-source");
    };
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.OnDispatchMsg(kRestartAudio, 0);
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0].rfind("RestartAudio: OpenAudioStream error", 0), 0u);
}

TEST_F(CorvaneDialogTest, RefusedOutputSizeOpensNothing) {
    WriteClient(800, 600, 30, 1);
    TDlgOptions options;
    options.mediaFile = "/clip.mp4";
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.OnDispatchMsg(kRestartVideo, 0);
    EXPECT_TRUE(m_pBinding->engine.opened.empty());
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0].rfind("指定的输出分辨率不被支持: 800x600", 0), 0u);
}

TEST_F(CorvaneDialogTest, OpenedMediaFileIsStoredAndMattingFollowsItsSwitch) {
    TDlgOptions options;
    options.mediaFile = "/clip.mp4";
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.OnDispatchMsg(kRestartVideo, 0);
    ASSERT_EQ(m_pBinding->engine.opened.size(), 1u);
    const TCapOpenParam& param = m_pBinding->engine.opened[0];
    EXPECT_EQ(param.sources[0].kind, kCapSourceFile);
    EXPECT_EQ(param.sources[1].name, "0");
    EXPECT_EQ(m_pBinding->engine.processFlags, (std::vector<int>{128, 128 | 0x200}));
    char16_t stored[64] = {};
    ASSERT_EQ(ReadString(stored, sizeof stored, "VideoDevName", "InputMain"), 1);
    EXPECT_EQ(std::u16string(stored), u"/clip.mp4");
}

TEST_F(CorvaneDialogTest, SecondStartBringsTheConsoleToTheFront) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.Preview()->hide();
    dialog.hide();
    dialog.OnDispatchMsg(kSecondInstance, 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.Preview()->isVisible());
}

TEST_F(CorvaneDialogTest, BoxRaisedOnAWorkerIsShownLaterOnTheUserInterfaceThread) {
    RouteMessageBoxes(m_tracked);
    std::thread worker([] { platform::ShowMessageBox("camera read failed"); });
    worker.join();  // returned without waiting for the box
    EXPECT_TRUE(m_prompts.texts.empty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    EXPECT_EQ(m_prompts.texts, std::vector<std::string>{"camera read failed"});
    platform::SetMessageBoxHandler({});
}

class EngineBindingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(EngineBindingTest, WithoutTheLibraryOrItsFactoryThereIsNoEngine) {
    TEngineBinding binding(GetParam());
    EXPECT_FALSE(binding.IsLoaded());
    EXPECT_FALSE(binding.LoadError().empty());
    EXPECT_EQ(binding.Create(nullptr, nullptr, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Libraries, EngineBindingTest, ::testing::Values("/nonexistent/libPelorn.so", "libm.so.6"),
                         [](const auto& info) { return info.index == 0 ? "Missing" : "WithoutFactory"; });

struct TDisplayCase {
    std::vector<std::string> screens;
    unsigned primary;
    int selected;
};

class CorvaneDisplayListTest : public CorvaneDialogTest, public ::testing::WithParamInterface<TDisplayCase> {};

TEST_P(CorvaneDisplayListTest, BackgroundStartsOnTheSecondDisplayWhenTheFirstIsPrimary) {
    CRoriDaziZevoDlg& dialog = MakeDialog();
    m_pBinding->engine.screens = GetParam().screens;
    m_pBinding->engine.primary = GetParam().primary;
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(dialog.findChild<QComboBox*>("1016")->currentIndex(), GetParam().selected);
}

INSTANTIATE_TEST_SUITE_P(Displays, CorvaneDisplayListTest,
                         ::testing::Values(TDisplayCase{{"LEFT", "RIGHT"}, 0, 1}, TDisplayCase{{"LEFT", "RIGHT"}, 1, 0},
                                           TDisplayCase{{"screen"}, 0, 0}),
                         [](const auto& info) {
                             return std::to_string(info.param.screens.size()) + "DisplaysPrimary" +
                                    std::to_string(info.param.primary);
                         });

struct TFormatCase {
    TOutputFormat format;
    const char* message;
};

class OutputFormatTest : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(OutputFormatTest, FirstFailedCheckGivesItsMessage) {
    EXPECT_EQ(CheckOutputFormat(GetParam().format), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, OutputFormatTest,
    ::testing::Values(TFormatCase{{800, 600, 7, 60}, "指定的输出分辨率不被支持: 800x600"},
                      TFormatCase{{1280, 720, 2, 30}, "指定的颜色空间(输出)不被支持: rgb24"},
                      TFormatCase{{1280, 720, 999, 30}, "指定的颜色空间(输出)不被支持: "},
                      TFormatCase{{1080, 1920, 28, 60}, "指定的输出帧率不被支持: 60"},
                      TFormatCase{{1920, 1080, 3, 25}, ""}),
    [](const auto& info) {
        const TOutputFormat& f = info.param.format;
        return std::to_string(f.width) + "x" + std::to_string(f.height) + "Format" + std::to_string(f.pixelFormat) +
               "Fps" + std::to_string(f.frameRate);
    });

}  // namespace
}  // namespace console
