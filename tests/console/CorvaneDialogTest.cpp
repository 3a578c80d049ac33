#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>
#include <QTimer>

#include <unistd.h>

#include <cstring>
#include <deque>
#include <memory>
#include <thread>

extern "C" {
#include <libavutil/frame.h>
}

#include "common/ErrorTrail.h"
#include "console/CDlgInputTplName.h"
#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/DispatchEvent.h"
#include "console/LayoutEditor.h"
#include "console/OpenParams.h"
#include "console/TEngineBinding.h"
#include "console/TTemplateButton.h"
#include "console/media/RecordNaming.h"
#include "console/media/RecordParams.h"
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

TEST_F(CorvaneDialogTest, AudioCaptorThatCannotBeMadeShowsTheFailure) {
    TDlgOptions options;
    options.listDevices = [](TDShowDeviceList* list) { ListDevices(list, {}, {"Mic"}); };
    options.createAudioCaptor = [] { return static_cast<IAudioCaptor*>(nullptr); };
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.OnDispatchMsg(kRestartAudio, 0);
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0].rfind("RestartAudio: CreateInstance_IAudioCaptor error", 0), 0u);
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

TEST_F(CorvaneDialogTest, SourceStartRestartsTheStatisticsWithTheDeliveredFormat) {
    TDlgOptions options;
    options.mediaFile = "/clip.mp4";
    CRoriDaziZevoDlg& dialog = MakeDialog(true, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    m_pBinding->engine.actualFormat = {640, 480, 0, 25, -1, -1};
    dialog.OnDispatchMsg(kRestartVideo, 0);
    EXPECT_EQ(dialog.CaptureFormat().width, 640);
    EXPECT_EQ(dialog.CaptureFormat().height, 480);

    m_prompts.chosenFile = "/clip.mp4";
    m_pBinding->engine.actualFormat = {320, 240, 0, 25, -1, -1};
    m_pBinding->engine.openResult = 1;
    dialog.OnDispatchMsg(kRestartVideo, 0);
    EXPECT_EQ(dialog.CaptureFormat().width, 640) << "a failed start keeps the figures";
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

// The dialog after start-up, its posted requests dropped and the engine's
// record of calls cleared.
class CorvaneControlsTest : public CorvaneDialogTest {
protected:
    void SetUp() override {
        CorvaneDialogTest::SetUp();
        TDlgOptions options;
        options.listDevices = [this](TDShowDeviceList* list) {
            ++m_nListings;
            ListDevices(list, {"Desk"}, {"Mic"});
        };
        ASSERT_TRUE(MakeDialog(true, options).OnInitDialog());
        // The start-up requests are not what these tests are about.
        QCoreApplication::removePostedEvents(m_pDialog.get(), TDispatchEvent::kType);
        m_spy.seen.clear();
        Engine().params.clear();
    }

    corvane::test::TFakeEngine& Engine() { return m_pBinding->engine; }
    template <typename T>
    T* Control(int id) {
        T* control = m_pDialog->findChild<T*>(QString::number(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    void RightDoubleClick(int id) {
        QWidget* label = Control<QWidget>(id);
        QTest::mouseDClick(m_pDialog.get(), Qt::RightButton, {}, label->geometry().center());
    }

    int m_nListings = 0;
};

TEST_F(CorvaneControlsTest, SlidersTakeTheEngineParameterTable) {
    struct TExpected {
        const char* name;
        int minimum, maximum, position;
        bool enabled;
    };
    const TExpected expected[5] = {{"主体抠像", -100, 100, 0, true}, {"主体强化", -16, 64, 0, true},
                                   {"屏幕蒙绿", 0, 255, 100, false}, {"美白", 0, 10, 0, true},
                                   {"美肤", 0, 10, 0, true}};
    for (int i = 0; i < 5; ++i) {
        QWidget* label = Control<QWidget>(2000 + i);
        const QString name = qobject_cast<QAbstractButton*>(label) != nullptr
                                 ? qobject_cast<QAbstractButton*>(label)->text()
                                 : qobject_cast<QLabel*>(label)->text();
        EXPECT_EQ(name, QString::fromUtf8(expected[i].name));
        const QSlider* slider = Control<QSlider>(2300 + i);
        EXPECT_EQ(slider->minimum(), expected[i].minimum) << i;
        EXPECT_EQ(slider->maximum(), expected[i].maximum) << i;
        EXPECT_EQ(slider->value(), expected[i].position) << i;
        EXPECT_EQ(slider->isEnabled(), expected[i].enabled) << i;
        EXPECT_TRUE(Control<QLabel>(2400 + i)->text().isEmpty());
    }
}

TEST_F(CorvaneControlsTest, ScreenTintSwitchEnablesItsSliderAndClearingSetsZero) {
    QCheckBox* tint = Control<QCheckBox>(2002);
    tint->click();
    EXPECT_TRUE(Control<QSlider>(2302)->isEnabled());
    tint->click();
    EXPECT_FALSE(Control<QSlider>(2302)->isEnabled());
    EXPECT_EQ(Engine().params, (std::vector<std::pair<int, int>>{{100, 2}, {0, 2}}));
}

TEST_F(CorvaneControlsTest, ThumbTrackingSetsTheParameterAtEveryPosition) {
    QSlider* slider = Control<QSlider>(2301);
    slider->setSliderDown(true);
    for (int position : {5, 10, 15, 20, 25}) slider->setSliderPosition(position);
    slider->setSliderDown(false);
    EXPECT_EQ(Engine().params,
              (std::vector<std::pair<int, int>>{{5, 1}, {10, 1}, {15, 1}, {20, 1}, {25, 1}}));
}

TEST_F(CorvaneControlsTest, KeysAndEndsMoveWithinTheRange) {
    QSlider* slider = Control<QSlider>(2303);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);  // already at the minimum
    QTest::keyClick(slider, Qt::Key_PageUp);
    QTest::keyClick(slider, Qt::Key_End);
    QTest::keyClick(slider, Qt::Key_Right);  // already at the maximum
    EXPECT_EQ(Engine().params, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {10, 3}, {10, 3}}));
}

TEST_F(CorvaneControlsTest, ChangesMadeByCodeActOnNothing) {
    Control<QSlider>(2300)->setValue(40);
    Control<QComboBox>(1017)->setCurrentIndex(1);
    Control<QCheckBox>(3018)->setChecked(true);
    Control<QCheckBox>(3018)->setChecked(false);
    Control<QSpinBox>(1005)->setValue(3);
    RunPosted();
    EXPECT_TRUE(m_spy.seen.empty());
    EXPECT_TRUE(Engine().params.empty());
}

TEST_F(CorvaneControlsTest, DroppingDownTheMainListListsTheDevicesAgainAndPostsNothing) {
    auto* list = Control<QComboBox>(1017);
    const int before = m_nListings;
    list->showPopup();
    list->hidePopup();
    RunPosted();
    EXPECT_EQ(m_nListings, before + 1);
    EXPECT_EQ(list->count(), 2);
    EXPECT_TRUE(m_spy.seen.empty());
}

TEST_F(CorvaneControlsTest, StepDownFromZeroSetsBothDebugParameters) {
    Control<QSpinBox>(1005)->setValue(7);
    auto* value1 = Control<QSpinBox>(1007);
    EXPECT_EQ(value1->text(), "0");
    QTest::keyClick(value1, Qt::Key_PageDown);  // a step of one whatever the key
    EXPECT_EQ(value1->text(), "-1");
    EXPECT_EQ(Engine().params, (std::vector<std::pair<int, int>>{{7, 14}, {-1, 15}}));
}

TEST_F(CorvaneControlsTest, MattingSwitchTogglesItsFlagAndTheFirstTwoSliders) {
    Engine().flags = 0x200 | 0x1;
    QCheckBox* matting = Control<QCheckBox>(2000);
    matting->click();
    EXPECT_EQ(Engine().flags, 0x1);
    EXPECT_TRUE(Control<QSlider>(2300)->isEnabled() && Control<QSlider>(2301)->isEnabled());
    matting->click();
    EXPECT_EQ(Engine().flags, 0x201);
    EXPECT_FALSE(Control<QSlider>(2300)->isEnabled() || Control<QSlider>(2301)->isEnabled());
}

struct TFlagCase {
    int id;
    int flag;
    std::vector<std::pair<int, int>> params;
};

class CorvaneFlagSwitchTest : public CorvaneControlsTest, public ::testing::WithParamInterface<TFlagCase> {};

TEST_P(CorvaneFlagSwitchTest, BoxSetsAndClearsItsProcessFlag) {
    Engine().flags = 0x1;
    QCheckBox* box = Control<QCheckBox>(GetParam().id);
    box->click();
    EXPECT_EQ(Engine().flags, 0x1 | GetParam().flag);
    box->click();
    EXPECT_EQ(Engine().flags, 0x1);
    std::vector<std::pair<int, int>> twice = GetParam().params;
    twice.insert(twice.end(), GetParam().params.begin(), GetParam().params.end());
    EXPECT_EQ(Engine().params, twice);
}

INSTANTIATE_TEST_SUITE_P(Boxes, CorvaneFlagSwitchTest,
                         ::testing::Values(TFlagCase{3054, 0x2, {}}, TFlagCase{3055, 0x400, {{0, 14}, {0, 15}}}),
                         [](const auto& info) { return "Box" + std::to_string(info.param.id); });

TEST_F(CorvaneControlsTest, HidingThePresenterClearsItsLayerAndSetsTheLayout) {
    const auto presenterFlag = [this] {
        for (const TCapLayer& layer : Engine().lastLayout.layers)
            if (layer.Id == TCapLayer::kPresenter) return layer.Flag;
        return -1;
    };
    const int layouts = Engine().layouts;
    Control<QCheckBox>(3020)->click();
    EXPECT_EQ(Engine().layouts, layouts + 1);
    EXPECT_EQ(presenterFlag() & TCapLayer::kFlagEnabled, 0);
    Control<QCheckBox>(3020)->click();
    EXPECT_EQ(presenterFlag() & TCapLayer::kFlagEnabled, TCapLayer::kFlagEnabled);
}

TEST_F(CorvaneControlsTest, RightDoubleClickOnTheParameterLabelOpensAndClosesTheDebugPanel) {
    const int height = m_pDialog->height();
    RightDoubleClick(2001);
    EXPECT_EQ(m_pDialog->height(), height + 110);
    EXPECT_TRUE(m_pDialog->IsDebugPanelOpen());
    RightDoubleClick(2001);
    EXPECT_EQ(m_pDialog->height(), height);
}

TEST_F(CorvaneControlsTest, RightDoubleClickOnTheMainLabelShowsTheLogSwitchCleared) {
    QCheckBox* logSwitch = Control<QCheckBox>(3049);
    EXPECT_TRUE(logSwitch->isHidden());
    logSwitch->setChecked(true);
    RightDoubleClick(1018);
    EXPECT_FALSE(logSwitch->isHidden());
    EXPECT_FALSE(logSwitch->isChecked());
}

TEST_F(CorvaneControlsTest, TemplateButtonsPaintTheCurrentAndPressedOnesLightBlue) {
    const auto corner = [this](int id) { return QColor(Control<QWidget>(id)->grab().toImage().pixel(4, 4)); };
    EXPECT_EQ(corner(3030), QColor::fromRgba(TTemplateButton::kCurrentFill));
    EXPECT_EQ(corner(3031), QColor::fromRgba(TTemplateButton::kInactiveFill));
    Control<QPushButton>(3031)->setDown(true);
    EXPECT_EQ(corner(3031), QColor::fromRgba(TTemplateButton::kCurrentFill));
}

TEST_F(CorvaneControlsTest, TemplateButtonClickAsksForItsTemplate) {
    QTest::mouseClick(Control<QPushButton>(3034), Qt::LeftButton);
    RunPosted();
    EXPECT_EQ(m_spy.seen, (std::vector<std::pair<int, int64_t>>{{kSelectTemplate, 3034}}));
}

TEST_F(CorvaneControlsTest, RenameFromTheMenuOfACustomSlotOnly) {
    int menus = 0;
    const auto chooseRename = [&menus] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        ++menus;
        menu->setActiveAction(menu->actions().front());
        QTest::keyClick(menu, Qt::Key_Return);
    };
    for (int id : {3030, 3033}) {
        QTimer::singleShot(0, chooseRename);
        emit Control<QPushButton>(id)->customContextMenuRequested({});
        QCoreApplication::processEvents();
    }
    RunPosted();
    EXPECT_EQ(menus, 1) << "built-in slot 0 has no menu";
    EXPECT_EQ(m_spy.seen, (std::vector<std::pair<int, int64_t>>{{kRenameTemplate, 3}}));
}

class CorvaneTemplatesTest : public CorvaneControlsTest {
protected:
    // As if the first open had configured a 1920 x 1080 picture.
    void SetUp() override {
        CorvaneControlsTest::SetUp();
        m_pDialog->Editor().SetReferenceSize(1920, 1080);
    }
    void Post(int code, int64_t argument) {
        PostDispatch(m_pDialog.get(), code, argument);
        RunPosted();
        RunPosted();  // what the action posted in turn
    }
    static TCapLayout Stored(int slot) {
        TCapLayout layout{};
        layout.MaxWidth = 1920;
        layout.MaxHeight = 1080;
        EXPECT_EQ(LoadTemplate(&layout, slot, true), 1);
        return layout;
    }
    static std::u16string NameOf(const TCapLayout& layout) { return std::u16string(layout.Name); }
};

TEST_F(CorvaneTemplatesTest, DoubleViewSlotGivesItsGeneratedLayout) {
    // The layout reaches the engine at the echo window's picture size.
    m_pDialog->Preview()->Configure(1920, 1080, 28);
    Post(kSelectTemplate, 3031);
    const TCapLayout& layout = Engine().lastLayout;
    EXPECT_EQ(NameOf(layout), u"双视窗");
    EXPECT_EQ(layout.BuildIn, 1);
    ASSERT_EQ(layout.LayerCnt, 2);
    const TCapPoint left[4] = {{0, 270}, {959, 270}, {959, 809}, {0, 809}};
    const TCapPoint right[4] = {{960, 270}, {1919, 270}, {1919, 809}, {960, 809}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(layout.layers[0].Position[i].x, left[i].x);
        EXPECT_EQ(layout.layers[0].Position[i].y, left[i].y);
        EXPECT_EQ(layout.layers[1].Position[i].x, right[i].x);
        EXPECT_EQ(layout.layers[1].Position[i].y, right[i].y);
    }
    EXPECT_EQ(layout.layers[0].Flag, 5);
    EXPECT_EQ(m_pDialog->CurrentTemplate(), 1);
    EXPECT_TRUE(m_prompts.texts.empty()) << "no hint on a built-in slot";
}

TEST_F(CorvaneTemplatesTest, UnnamedCustomSlotShowsTheHintWithItsName) {
    Post(kSelectTemplate, 3032);
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0],
              "提示:\r您可在回显窗口拖动画面红框调整布局，\r并通过右键菜单保存布局\r您还可鼠标右键点击\"自定义3\"按钮来更改名称");
}

struct TRefusal {
    int code;
    int64_t argument;
    const char* text;
};

class CorvaneBuiltInTest : public CorvaneTemplatesTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(CorvaneBuiltInTest, SavingOverABuiltInTemplateIsRefused) {
    Post(GetParam().code, GetParam().argument);
    EXPECT_EQ(m_prompts.texts, std::vector<std::string>{GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(Refusals, CorvaneBuiltInTest,
                         ::testing::Values(TRefusal{kSaveLayout, 0, "内置模板不可修改"},
                                           TRefusal{kSaveLayoutAs, 1, "不能修改系统内置模板"}),
                         [](const auto& info) { return info.param.code == kSaveLayout ? "Save" : "SaveAs"; });

TEST_F(CorvaneTemplatesTest, SaveAsUnderTheDefaultNameAsksUntilANameIsGiven) {
    m_prompts.answers = {std::string("  "), std::string(" 讲台 ")};
    Post(kSaveLayoutAs, 3);
    EXPECT_EQ(NameOf(Stored(3)), u"讲台");
    EXPECT_EQ(Control<QPushButton>(3033)->text(), QString::fromUtf8("讲台")) << "the posted click selects it";
    EXPECT_EQ(m_pDialog->CurrentTemplate(), 3);
}

TEST_F(CorvaneTemplatesTest, CancelledSaveAsStoresNothing) {
    Post(kSelectTemplate, 3031);
    Post(kSaveLayoutAs, 3);
    EXPECT_EQ(NameOf(Stored(3)), u"自定义4");
    EXPECT_EQ(Stored(3).layers[0].Position[0].x, 100) << "the default layout stays";
    EXPECT_EQ(m_pDialog->CurrentTemplate(), 1);
}

TEST_F(CorvaneTemplatesTest, HiddenPresenterStaysHiddenWithSaveButNotWithSaveAs) {
    m_prompts.answers = {std::string("A"), std::string("B")};
    Post(kSelectTemplate, 3032);
    Control<QCheckBox>(3020)->click();
    Post(kSaveLayout, 0);
    const TCapLayout saved = Stored(2);
    EXPECT_EQ(NameOf(saved), u"A");
    EXPECT_EQ(saved.layers[1].Flag & 1, 0);
    Post(kSaveLayoutAs, 4);
    const TCapLayout savedAs = Stored(4);
    EXPECT_EQ(savedAs.layers[0].Flag, 7);
    EXPECT_EQ(savedAs.layers[1].Flag, 3);
}

TEST_F(CorvaneTemplatesTest, EmptyRenameIsIgnoredWithAMessage) {
    m_prompts.answers = {std::string("   ")};
    Post(kRenameTemplate, 5);
    EXPECT_EQ(m_prompts.texts.back(), "名称不能为空, 重命名被忽略");
    EXPECT_EQ(Control<QPushButton>(3035)->text(), QString::fromUtf8("自定义6"));
    EXPECT_EQ(NameOf(Stored(5)), u"自定义6");
}

TEST_F(CorvaneTemplatesTest, ResetRebuildsTheDefaultUnderTheButtonsName) {
    m_prompts.answers = {std::string("讲台")};
    Post(kSelectTemplate, 3032);
    Post(kRenameTemplate, 2);
    Control<QCheckBox>(3020)->click();
    Post(kResetLayout, 0);
    const TCapLayout reset = Stored(2);
    EXPECT_EQ(NameOf(reset), u"讲台");
    EXPECT_EQ(reset.layers[1].Flag, 3);
    EXPECT_EQ(Engine().lastLayout.layers[1].Flag, 3);
}

// The echo window's picture surface, 960 x 540 over a 1920 x 1080 picture:
// one client pixel is two reference units. Slot 2's default layout puts
// layer 0 at (100,100)-(1060,640), client (50,50)-(530,320), and layer 1 at
// (300,300)-(1260,840), client (150,150)-(630,420).
class CorvaneLayoutEditTest : public CorvaneTemplatesTest {
protected:
    void SetUp() override {
        CorvaneTemplatesTest::SetUp();
        m_surface.setObjectName(QStringLiteral("1072"));
        m_surface.resize(960, 540);
        m_surface.show();
        m_pDialog->Editor().Attach(&m_surface);
        Post(kSelectTemplate, 3032);
        Post(kResetLayout, 0);  // whatever an earlier test left in the slot
        m_prompts.texts.clear();
        m_nLayoutsBefore = Engine().layouts;
    }
    void Drag(QPoint from, QPoint to) {
        QTest::mouseMove(&m_surface, from);
        QTest::mousePress(&m_surface, Qt::LeftButton, {}, from);
        QTest::mouseMove(&m_surface, to);
        QTest::mouseRelease(&m_surface, Qt::LeftButton, {}, to);
    }
    void Hover(QPoint point, Qt::KeyboardModifiers modifiers = {}) {
        QMouseEvent move(QEvent::MouseMove, point, m_surface.mapToGlobal(point), Qt::NoButton, Qt::MouseButtons{},
                         modifiers);
        QCoreApplication::sendEvent(&m_surface, &move);
    }
    static TCapPoint Corner(const TCapLayout& layout, int layer, int point) {
        return layout.layers[layer].Position[point];
    }
    int LayoutsSent() const { return m_pBinding->engine.layouts - m_nLayoutsBefore; }

    QWidget m_surface;
    int m_nLayoutsBefore = 0;
};

TEST_F(CorvaneLayoutEditTest, RightEdgeKeepsTheRatioAndAnEvenWidthUpToTheStore) {
    Drag({527, 100}, {575, 100});
    EXPECT_EQ(Corner(Engine().lastLayout, 0, 2).x, 1155);
    EXPECT_EQ(Corner(Engine().lastLayout, 0, 2).y, 694);
    EXPECT_EQ(Corner(Engine().lastLayout, 0, 1).x, 1155) << "all four points follow";
    m_prompts.answers = {std::string("讲台")};
    Post(kSaveLayout, 0);
    const TCapLayout stored = Stored(2);
    EXPECT_EQ(Corner(stored, 0, 2).x, 1155);
    EXPECT_EQ(Corner(stored, 0, 2).y, 694);
}

TEST_F(CorvaneLayoutEditTest, TooSmallRectangleIsRefusedAndNotSent) {
    // Bottom-right corner to (290,220): 190 x 120 once the width is even.
    Drag({527, 317}, {142, 107});
    EXPECT_EQ(LayoutsSent(), 0);
    EXPECT_EQ(Corner(m_pDialog->Editor().CurrentLayout(), 0, 2).x, 1060);
    EXPECT_EQ(Corner(m_pDialog->Editor().CurrentLayout(), 0, 2).y, 640);
}

TEST_F(CorvaneLayoutEditTest, BuiltInLayersDoNotMove) {
    Post(kSelectTemplate, 3031);
    const TCapLayout before = m_pDialog->Editor().CurrentLayout();
    m_nLayoutsBefore = Engine().layouts;
    Drag({240, 270}, {300, 300});
    Drag({717, 139}, {800, 200});
    EXPECT_EQ(LayoutsSent(), 0);
    EXPECT_EQ(std::memcmp(&before, &m_pDialog->Editor().CurrentLayout(), sizeof before), 0);
}

TEST_F(CorvaneLayoutEditTest, WheelNotchesAddUpAndStopAtZero) {
    m_pDialog->Editor().CurrentLayout().layers[0].BrdAdjust = 2;
    Hover({300, 200});
    for (int i = 0; i < 6; ++i) {  // three notches in halves, as a touchpad sends them
        QWheelEvent wheel(QPointF(300, 200), m_surface.mapToGlobal(QPointF(300, 200)), {}, {0, 60}, Qt::NoButton,
                          {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&m_surface, &wheel);
    }
    EXPECT_EQ(Engine().lastLayout.layers[0].BrdAdjust, 0);
    EXPECT_EQ(LayoutsSent(), 3);
}

struct TExchange {
    const char* name;
    QPoint from, to;
    int16_t firstId;  // the Id of layer 0 afterwards
    int selected;
};

class CorvaneExchangeTest : public CorvaneLayoutEditTest, public ::testing::WithParamInterface<TExchange> {};

TEST_P(CorvaneExchangeTest, ButtonUpOrdersTheTwoLayers) {
    Drag(GetParam().from, GetParam().to);
    const LayoutEditor& editor = m_pDialog->Editor();
    EXPECT_EQ(editor.CurrentLayout().layers[0].Id, GetParam().firstId);
    EXPECT_EQ(editor.Selected(), GetParam().selected);
    EXPECT_EQ(Engine().lastLayout.layers[0].Id, TCapLayer::kFrameOverlay) << "sent with the next change only";
}

INSTANTIATE_TEST_SUITE_P(
    Drags, CorvaneExchangeTest,
    ::testing::Values(TExchange{"OverlappingLayer1BecomesLayer0", {600, 400}, {590, 390}, 1, 0},
                      TExchange{"Layer0InsideLayer1StaysPut", {52, 52}, {162, 162}, 0, 0},
                      TExchange{"Layer0AroundLayer1GoesBehind", {527, 317}, {632, 422}, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct THoverZone {
    QPoint point;
    Qt::KeyboardModifiers modifiers;
    int selected;
    int hit;
    Qt::CursorShape cursor;
};

class CorvaneHoverTest : public CorvaneLayoutEditTest, public ::testing::WithParamInterface<THoverZone> {};

TEST_P(CorvaneHoverTest, ZoneGivesHitCodeAndCursor) {
    Hover(GetParam().point, GetParam().modifiers);
    EXPECT_EQ(m_pDialog->Editor().Selected(), GetParam().selected);
    EXPECT_EQ(m_pDialog->Editor().Hit(), GetParam().hit);
    EXPECT_EQ(m_surface.cursor().shape(), GetParam().cursor);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, CorvaneHoverTest,
    ::testing::Values(THoverZone{{52, 52}, {}, 0, LayoutEditor::kTopLeft, Qt::SizeFDiagCursor},
                      THoverZone{{527, 52}, {}, 0, LayoutEditor::kTopRight, Qt::SizeBDiagCursor},
                      THoverZone{{52, 317}, {}, 0, LayoutEditor::kBottomLeft, Qt::SizeBDiagCursor},
                      THoverZone{{527, 317}, {}, 0, LayoutEditor::kBottomRight, Qt::SizeFDiagCursor},
                      THoverZone{{52, 200}, {}, 0, LayoutEditor::kLeft, Qt::SizeHorCursor},
                      THoverZone{{527, 200}, {}, 0, LayoutEditor::kRight, Qt::SizeHorCursor},
                      THoverZone{{300, 52}, {}, 0, LayoutEditor::kTop, Qt::SizeVerCursor},
                      THoverZone{{300, 317}, {}, 0, LayoutEditor::kBottom, Qt::SizeVerCursor},
                      THoverZone{{300, 200}, {}, 0, LayoutEditor::kMove, Qt::ArrowCursor},
                      THoverZone{{600, 400}, {}, 1, LayoutEditor::kMove, Qt::ArrowCursor},
                      THoverZone{{900, 500}, {}, -1, LayoutEditor::kMove, Qt::ArrowCursor},
                      THoverZone{{527, 200}, Qt::ShiftModifier, 0, LayoutEditor::kRight, Qt::CrossCursor},
                      THoverZone{{900, 500}, Qt::ControlModifier, -1, LayoutEditor::kMove, Qt::CrossCursor}));

TCapLayout OneLayerLayout(int width, int height, int layers) {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.LayerCnt = layers;
    layout.MaxWidth = width;
    layout.MaxHeight = height;
    layout.layers[0] = {TCapLayer::kPresenter, 3, 0, {{100, 100}, {1919, 100}, {1919, 1079}, {100, 1079}}};
    return layout;
}

struct TRescale {
    const char* name;
    int maxWidth, layers, referenceWidth, referenceHeight;
    int left, right, expectedMaxWidth;
};

class LayoutRescaleTest : public ::testing::TestWithParam<TRescale> {};

TEST_P(LayoutRescaleTest, TakenLayoutFollowsTheReferenceSize) {
    const TRescale& c = GetParam();
    LayoutEditor editor;
    editor.SetReferenceSize(c.referenceWidth, c.referenceHeight);
    editor.TakeLayout(OneLayerLayout(c.maxWidth, 1080, c.layers));
    EXPECT_EQ(editor.CurrentLayout().layers[0].Position[0].x, c.left);
    EXPECT_EQ(editor.CurrentLayout().layers[0].Position[2].x, c.right);
    EXPECT_EQ(editor.CurrentLayout().MaxWidth, c.expectedMaxWidth);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LayoutRescaleTest,
    ::testing::Values(TRescale{"Rescaled", 1920, 1, 1280, 720, 67, 1279, 1280},
                      TRescale{"SameSize", 1920, 1, 1920, 1080, 100, 1919, 1920},
                      TRescale{"NoLayers", 1920, 0, 1280, 720, 100, 1919, 1920},
                      TRescale{"LayoutBelowTwo", 1, 1, 1280, 720, 100, 1919, 1},
                      TRescale{"ReferenceBelowTwoIgnored", 1920, 1, 1, 1, 53, 1023, 1024}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LayoutEditorTest, EmptyRectanglesAndAnEmptySurfaceAreNotHit) {
    corvane::test::OffscreenApp();
    QWidget surface;
    surface.resize(192, 108);
    LayoutEditor editor;
    editor.Attach(&surface);
    editor.SetReferenceSize(1920, 1080);
    TCapLayout layout = OneLayerLayout(1920, 1080, 2);
    layout.layers[1] = layout.layers[0];
    std::swap(layout.layers[0].Position[0], layout.layers[0].Position[2]);  // inverted
    editor.TakeLayout(layout);
    editor.Hover({100, 50});
    EXPECT_EQ(editor.Selected(), 1);
    surface.resize(0, 0);
    editor.Hover({0, 0});
    EXPECT_EQ(editor.Selected(), -1);
}

struct TNameCase {
    const char* name;
    const char* text;
    bool accepted;
};

class TemplateNameDialogTest : public ::testing::TestWithParam<TNameCase> {};

TEST_P(TemplateNameDialogTest, NameMustFitEightGbkBytes) {
    corvane::test::OffscreenApp();
    std::vector<std::string> messages;
    CDlgInputTplName dialog(nullptr, [&messages](const std::string& text) { messages.push_back(text); });
    dialog.show();
    dialog.findChild<QLineEdit*>(QStringLiteral("3045"))->setText(QString::fromUtf8(GetParam().text));
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    EXPECT_EQ(dialog.isVisible(), !GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(dialog.Name(), QString::fromUtf8(GetParam().text).trimmed().toStdString());
    } else {
        EXPECT_EQ(messages, std::vector<std::string>{"名称限定在四个汉字或8个英文字符"});
        EXPECT_EQ(dialog.Name(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, TemplateNameDialogTest,
                         ::testing::Values(TNameCase{"SixBytes", " 讲台12 ", true},
                                           TNameCase{"TenBytes", "一二三四五", false},
                                           TNameCase{"NoGbkForm", "讲\xF0\x9F\x98\x80", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The dialog after start-up with recorders the test owns and an engine whose
// main source runs at 1280 x 720 BGRA.
class CorvaneRecordingTest : public CorvaneDialogTest {
protected:
    void SetUp() override {
        CorvaneDialogTest::SetUp();
        TDlgOptions options;
        options.listDevices = [](TDShowDeviceList* list) { ListDevices(list, {"Desk"}, {}); };
        options.createRecorder = [this] {
            TCountingRecorder& made = m_recorders.emplace_back(&m_journal, "made");
            made.openResult = m_nOpenResult;
            return &made;
        };
        options.releaseRecorder = &TCountingRecorder::KeepForTest;
        ASSERT_TRUE(MakeDialog(true, options).OnInitDialog());
        QCoreApplication::removePostedEvents(m_pDialog.get(), TDispatchEvent::kType);
        TCapOpenParam running;
        running.outWidth = 1280;
        running.outHeight = 720;
        running.outFormat = AV_PIX_FMT_BGRA;
        running.outFrameRate = 30;
        m_pBinding->engine.opened.push_back(running);
        m_pBinding->engine.state = 2;
        WriteRecord(0, 9, 50, kFileExtMp4 | kFileExtFlv);
        const std::u16string_view none[kRtmpTargets] = {u"", u"", u""};
        WriteRtmp(1, none, none);
    }
    // The dialog closes its recorders, which the test owns.
    void TearDown() override { m_pDialog.reset(); }

    template <typename T>
    T* Control(int id) {
        return m_pDialog->findChild<T*>(QString::number(id));
    }
    void Click(int id) {
        Control<QAbstractButton>(id)->click();
        RunPosted();
    }

    std::deque<TCountingRecorder> m_recorders;
    int32_t m_nOpenResult = 0;
};

TEST_F(CorvaneRecordingTest, RecordingWritesEveryChosenFileTypeUnderOneBaseName) {
    Click(1079);
    ASSERT_EQ(m_recorders.size(), 1u);
    const TCountingRecorder& made = m_recorders.front();
    EXPECT_EQ(Control<QPushButton>(1079)->text(), QString::fromUtf8("停止"));
    EXPECT_EQ(made.params.videoCodecId, kVideoCodecH264);
    EXPECT_EQ(made.params.videoBitRate, 2097152) << "an index past the table records at index 2";
    EXPECT_EQ(made.params.gop, 50);
    ASSERT_EQ(made.outputs.size(), 2u);
    const std::string base = made.outputs[0].substr(0, made.outputs[0].size() - 4);
    EXPECT_NE(base.find("/TRec_"), std::string::npos);
    EXPECT_EQ(made.outputs[0], base + ".mp4");
    EXPECT_EQ(made.outputs[1], base + ".flv");

    Click(1079);
    EXPECT_TRUE(made.closed);
    EXPECT_EQ(Control<QPushButton>(1079)->text(), QString::fromUtf8("录制"));
    EXPECT_TRUE(Control<QPushButton>(1087)->isEnabled());
}

TEST_F(CorvaneRecordingTest, SettingsStayClosedWhileARecorderRunsWhateverTheCameraState) {
    Click(1079);
    PostDispatch(m_pDialog.get(), kCameraInUse, 1);
    PostDispatch(m_pDialog.get(), kCameraInUse, 0);
    RunPosted();
    EXPECT_FALSE(Control<QPushButton>(1087)->isEnabled());
    Click(1079);
    EXPECT_TRUE(Control<QPushButton>(1087)->isEnabled());
}

TEST_F(CorvaneRecordingTest, RecorderTakesOnlyPicturesOfTheSizeItWasOpenedFor) {
    Click(1079);
    AVFrame* small = MakePicture(64, 36);
    AVFrame* fitting = MakePicture(1280, 720);
    m_pBinding->Deliver(small, 0);
    m_pBinding->Deliver(fitting, 0);
    EXPECT_EQ(m_recorders.front().videoPushes, 1);
    av_frame_free(&small);
    av_frame_free(&fitting);
}

struct TFailedStart {
    int control;
    size_t outputs;
};

class CorvaneFailedRecorderTest : public CorvaneRecordingTest,
                                  public ::testing::WithParamInterface<TFailedStart> {};

// With the main source stopped a recording has no video and no file; the
// push keeps its three addresses, empty here. A refused Open is undone.
TEST_P(CorvaneFailedRecorderTest, RefusedOpenShowsTheTrailAndReturnsToOff) {
    m_pBinding->engine.state = 0;
    m_nOpenResult = 1;
    const std::deque<TCountingRecorder>& made = m_recorders;
    Click(GetParam().control);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made.front().params.videoCodecId, 0);
    EXPECT_EQ(made.front().outputs.size(), GetParam().outputs);
    for (const std::string& output : made.front().outputs) EXPECT_EQ(output, "");
    EXPECT_TRUE(made.front().closed);
    ASSERT_EQ(m_prompts.texts.size(), 1u);
    EXPECT_EQ(m_prompts.texts[0].rfind("Start Record error", 0), 0u);
    EXPECT_EQ(Control<QPushButton>(1079)->text(), QString::fromUtf8("录制"));
    EXPECT_FALSE(Control<QCheckBox>(3018)->isChecked());
    EXPECT_TRUE(Control<QPushButton>(1087)->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Recorders, CorvaneFailedRecorderTest,
                         ::testing::Values(TFailedStart{1079, 0}, TFailedStart{3018, 3}),
                         [](const auto& info) { return info.param.control == 1079 ? "File" : "Push"; });

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
