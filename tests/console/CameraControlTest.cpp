#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <cstring>
#include <memory>

#include "console/CCamControlPages.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/DispatchEvent.h"
#include "console/DzUVCLIBIMPL.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/CamControlSettings.h"
#include "platform/FakeCameraBackend.h"
#include "platform/Registry.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

using platform::CamAutoControlId;
using platform::CamControlId;
using platform::ECamControl;
using platform::FakeCamControl;
using platform::TFakeCameraNode;
using platform::TFakeControl;

constexpr char kCamera[] = "Desk Cam";
constexpr int16_t kExposure = 4;
constexpr int32_t kExposureManual = 1;
constexpr int32_t kExposureAperture = 3;

void Append(std::vector<TFakeControl>* controls, std::vector<TFakeControl> more) {
    controls->insert(controls->end(), more.begin(), more.end());
}

// Brightness, exposure (3..2047) under automatic control, focus (0..250)
// manual with its automatic switch, and privacy as a switch.
std::vector<TFakeControl> TypicalControls() {
    std::vector<TFakeControl> controls = FakeCamControl(ECamControl::Brightness, 0, 255, 128);
    Append(&controls, FakeCamControl(ECamControl::Exposure, 3, 2047, 250, true, true));
    Append(&controls, FakeCamControl(ECamControl::Focus, 0, 250, 40, true, false));
    std::vector<TFakeControl> privacy = FakeCamControl(ECamControl::Privacy, 0, 1, 0);
    privacy[0].type = platform::ECamControlType::Boolean;
    Append(&controls, privacy);
    return controls;
}

TFakeCameraNode Camera(const char* path, const char* card, std::vector<TFakeControl> controls = TypicalControls()) {
    TFakeCameraNode node;
    node.path = path;
    node.cardName = card;
    node.controls = std::move(controls);
    return node;
}

class CameraControlTest : public testing::Test {
protected:
    void SetUp() override {
        platform::InstallCameraBackend(&m_fake);
        platform::TRegKey root;
        if (root.Open(platform::RegHive::LocalMachine, "SOFTWARE\\Quindle\\Server", platform::RegAccess::All) ==
            platform::kRegOk)
            root.DeleteTree("CamControl");
    }
    void TearDown() override { platform::InstallCameraBackend(nullptr); }

    int32_t Value(ECamControl control, const char* path = "/dev/video0") const {
        return m_fake.ControlValue(path, CamControlId(control));
    }
    int32_t AutoValue(ECamControl control) const {
        return m_fake.ControlValue("/dev/video0", CamAutoControlId(control));
    }

    platform::TFakeCameraBackend m_fake;
    DzUVCLIBIMPL m_camera;
};

TEST_F(CameraControlTest, FirstNodeWithTheNameAndControlsIsUsed) {
    m_fake.AddNode(Camera("/dev/video0", kCamera, {}));
    m_fake.AddNode(Camera("/dev/video1", "Other Cam"));
    m_fake.AddNode(Camera("/dev/video2", kCamera));
    m_fake.AddNode(Camera("/dev/video3", kCamera));
    ASSERT_TRUE(m_camera.Open(kCamera));
    EXPECT_EQ(m_camera.SetValue(kExposure, 500), kCamOk);
    EXPECT_EQ(Value(ECamControl::Exposure, "/dev/video2"), 500);
    EXPECT_EQ(Value(ECamControl::Exposure, "/dev/video3"), 250);
    EXPECT_EQ(Value(ECamControl::Exposure, "/dev/video1"), 250);
}

TEST_F(CameraControlTest, UnknownCameraIsNotOpenedAndRefusesEverything) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    EXPECT_FALSE(m_camera.Open("Desk"));
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    EXPECT_FALSE(m_camera.GetAll(blockA, blockB));
    EXPECT_FALSE(m_camera.SetAll(blockA, blockB));
    EXPECT_EQ(m_camera.SetValue(kExposure, 500), kCamInvalidArg);
    EXPECT_EQ(m_camera.ShowPropertyPages(nullptr, 0, 0), kCamInvalidArg);
    EXPECT_EQ(m_fake.ControlWrites("/dev/video0"), 0);
}

struct TClampCase {
    const char* name;
    int requested;
    int32_t stored;
};

class CameraClampTest : public CameraControlTest, public testing::WithParamInterface<TClampCase> {};

TEST_P(CameraClampTest, ExposureIsClampedAndTurnedManual) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    ASSERT_TRUE(m_camera.Open(kCamera));
    EXPECT_EQ(m_camera.SetValue(kExposure, GetParam().requested), kCamOk);
    EXPECT_EQ(Value(ECamControl::Exposure), GetParam().stored);
    EXPECT_EQ(AutoValue(ECamControl::Exposure), kExposureManual);
}

INSTANTIATE_TEST_SUITE_P(Ranges, CameraClampTest,
                         testing::Values(TClampCase{"Above", 100000, 2047}, TClampCase{"Below", -5, 3},
                                         TClampCase{"Inside", 700, 700}),
                         [](const testing::TestParamInfo<TClampCase>& info) { return std::string(info.param.name); });

class CameraUnsupportedTest : public CameraControlTest, public testing::WithParamInterface<int16_t> {};

// ROLL, SCANMODE, PANTILT and FOCAL_LENGTH have no counterpart; IRIS is one
// this camera lacks; -1 and 20 are outside the table.
TEST_P(CameraUnsupportedTest, PropertyWithoutAControlIsUnsupported) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    ASSERT_TRUE(m_camera.Open(kCamera));
    EXPECT_FALSE(m_camera.IsSupported(GetParam()));
    EXPECT_EQ(m_camera.SetValue(GetParam(), 1), kCamUnsupported);
    EXPECT_EQ(m_fake.ControlWrites("/dev/video0"), 0);
}

INSTANTIATE_TEST_SUITE_P(Properties, CameraUnsupportedTest, testing::Values(2, 7, 9, 18, 5, -1, 20),
                         [](const testing::TestParamInfo<int16_t>& info) {
                             return info.param < 0 ? std::string("Minus1") : std::to_string(info.param);
                         });

TEST_F(CameraControlTest, ControlWithAnEmptyRangeIsRefused) {
    m_fake.AddNode(Camera("/dev/video0", kCamera, FakeCamControl(ECamControl::Zoom, 10, 0, 5)));
    ASSERT_TRUE(m_camera.Open(kCamera));
    EXPECT_EQ(m_camera.SetValue(3, 5), kCamFailed);
    EXPECT_EQ(m_fake.ControlWrites("/dev/video0"), 0);
}

TEST_F(CameraControlTest, TableNamesItsTwentyProperties) {
    EXPECT_EQ(m_camera.PropertyCount(), 20);
    EXPECT_STREQ(m_camera.NameOfProperty(4), "EXPOSURE");
    EXPECT_STREQ(m_camera.NameOfProperty(19), "AUTO_EXPOSURE_PRIORITY");
    EXPECT_STREQ(m_camera.NameOfProperty(20), "");
}

TEST_F(CameraControlTest, GetAllTakesFlagsFromTheAutomaticControls) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    ASSERT_TRUE(m_camera.Open(kCamera));
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    blockA[6] = {7, 7};  // ColorEnable: no control
    ASSERT_TRUE(m_camera.GetAll(blockA, blockB));
    EXPECT_EQ(blockA[0].value, 128);
    EXPECT_EQ(blockA[0].flags, kCamFlagManual);
    EXPECT_EQ(blockA[6].value, 7);
    EXPECT_EQ(blockA[6].flags, 7);
    EXPECT_EQ(blockB[4].value, 250);
    EXPECT_EQ(blockB[4].flags, kCamFlagAuto);
    EXPECT_EQ(blockB[6].value, 40);
    EXPECT_EQ(blockB[6].flags, kCamFlagManual);
    EXPECT_EQ(blockB[2].flags, 0) << "no roll control";
}

// The camera refuses a value while its automatic control is on, so a
// manual value applies only when the automatic control is switched first.
TEST_F(CameraControlTest, SetAllSwitchesTheAutomaticControlFirst) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    ASSERT_TRUE(m_camera.Open(kCamera));
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    blockA[0] = {300, kCamFlagManual};  // brightness beyond 255
    blockB[4] = {900, kCamFlagManual};  // exposure, now automatic
    blockB[6] = {10, kCamFlagAuto};     // focus, now manual at 40
    ASSERT_TRUE(m_camera.SetAll(blockA, blockB));
    EXPECT_EQ(Value(ECamControl::Brightness), 255);
    EXPECT_EQ(AutoValue(ECamControl::Exposure), kExposureManual);
    EXPECT_EQ(Value(ECamControl::Exposure), 900);
    EXPECT_EQ(AutoValue(ECamControl::Focus), 1);
    EXPECT_EQ(Value(ECamControl::Focus), 40);
    EXPECT_EQ(m_fake.ControlWrites("/dev/video0"), 4) << "records holding nothing are not written";
}

TEST_F(CameraControlTest, StoredSetReadsBackAndMissingValuesStayUnchanged) {
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    EXPECT_EQ(ReadCamControl(blockA, blockB, kCamera), 0);
    blockA[9] = {-3, kCamFlagManual};
    blockB[4] = {900, kCamFlagAuto};
    ASSERT_EQ(WriteCamControl(blockA, blockB, kCamera), 1);
    platform::TRegKey key;
    ASSERT_EQ(key.Open(platform::RegHive::LocalMachine, "SOFTWARE\\Quindle\\Server\\CamControl\\Desk Cam",
                       platform::RegAccess::All),
              platform::kRegOk);
    ASSERT_EQ(key.DeleteValue("Gain"), platform::kRegOk);
    TCamControlValue readA[kCamBlockA] = {}, readB[kCamBlockB] = {};
    readA[9].value = 55;
    ASSERT_EQ(ReadCamControl(readA, readB, kCamera), 1);
    EXPECT_EQ(readA[9].value, 55);
    EXPECT_EQ(readA[9].flags, kCamFlagManual);
    EXPECT_EQ(readB[4].value, 900);
    EXPECT_EQ(readB[4].flags, kCamFlagAuto);

    EXPECT_EQ(WriteCamControl(blockA, blockB, "Desk\\\\Cam"), 0) << "a name that is no key path";
    EXPECT_EQ(ReadCamControl(readA, readB, "Desk\\\\Cam"), 0);
}

class CameraPagesTest : public CameraControlTest {
protected:
    CameraPagesTest() { corvane::test::OffscreenApp(); }

    template <typename T>
    static T* Control(QWidget& pages, ECamControl control, bool automatic = false) {
        return pages.findChild<T*>(QString::number(automatic ? CamAutoControlId(control) : CamControlId(control)));
    }
};

class CameraPagesGreyTest : public CameraPagesTest, public testing::WithParamInterface<bool> {};

// Whether or not the driver flags a control inactive while its automatic
// companion is on, the pages grey it.
TEST_P(CameraPagesGreyTest, ControlsAreAppliedLiveAndGreyedWhileAutomatic) {
    TFakeCameraNode node = Camera("/dev/video0", kCamera);
    node.flagsInactive = GetParam();
    m_fake.AddNode(node);
    std::unique_ptr<platform::TCameraControls> controls;
    ASSERT_EQ(platform::TCameraControls::Open(kCamera, &controls), 0);
    CCamControlPages pages(*controls, nullptr);
    QSlider* exposure = Control<QSlider>(pages, ECamControl::Exposure);
    QComboBox* exposureMode = Control<QComboBox>(pages, ECamControl::Exposure, true);
    QCheckBox* privacy = Control<QCheckBox>(pages, ECamControl::Privacy);
    ASSERT_TRUE(exposure && exposureMode && privacy);
    EXPECT_EQ(exposure->minimum(), 3);
    EXPECT_EQ(exposure->maximum(), 2047);
    EXPECT_EQ(exposure->value(), 250);
    EXPECT_FALSE(exposure->isEnabled());
    EXPECT_EQ(exposureMode->count(), 2) << "only the entries the camera offers";

    exposureMode->setCurrentIndex(exposureMode->findData(kExposureManual));
    emit exposureMode->activated(exposureMode->currentIndex());
    EXPECT_TRUE(exposure->isEnabled());
    exposure->setValue(1000);
    EXPECT_EQ(Value(ECamControl::Exposure), 1000);
    privacy->setChecked(true);
    EXPECT_EQ(Value(ECamControl::Privacy), 1);

    m_fake.SetControlValue("/dev/video0", CamAutoControlId(ECamControl::Exposure), kExposureAperture);
    Control<QSlider>(pages, ECamControl::Brightness)->setValue(10);
    EXPECT_FALSE(exposure->isEnabled()) << "every row is read again after a change";
    exposure->setValue(5);
    EXPECT_EQ(exposure->value(), 1000) << "a value the camera refuses springs back";
}

INSTANTIATE_TEST_SUITE_P(Drivers, CameraPagesGreyTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Flagging" : "NotFlagging");
                         });

// The main dialog's uses: start-up and every camera open restore the saved
// set; the pages save what was chosen there.
class CameraDialogTest : public CameraPagesTest {
protected:
    CRoriDaziZevoDlg& MakeDialog() {
        TDlgOptions options;
        options.listDevices = [](TDShowDeviceList* list) {
            std::memset(list, 0, sizeof *list);
            std::strncpy(list->videoNames[0], kCamera, TDShowDeviceList::kNameBytes - 1);
            std::strncpy(list->videoAltNames[0], "/dev/video0", TDShowDeviceList::kNameBytes - 1);
            list->videoCount = 1;
        };
        m_pBinding = std::make_unique<corvane::test::TFakeBinding>(m_journal);
        m_pDialog = std::make_unique<CRoriDaziZevoDlg>(nullptr, *m_pBinding, m_tracked, std::move(options));
        return *m_pDialog;
    }

    // Clicks 1076; while the pages run, `choose` acts on them before they
    // are closed. False when no pages were shown.
    bool ClickCameraControl(const std::function<void(QWidget&)>& choose) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            if (QWidget* pages = QApplication::activeModalWidget()) {
                shown = true;
                choose(*pages);
                static_cast<QDialog*>(pages)->reject();
            }
        });
        m_pDialog->findChild<QPushButton*>(QStringLiteral("1076"))->click();
        QCoreApplication::processEvents();
        return shown;
    }

    corvane::test::TJournal m_journal;
    corvane::test::TFakePrompts m_prompts;
    TTrackedPrompts m_tracked{m_prompts};
    std::unique_ptr<corvane::test::TFakeBinding> m_pBinding;
    std::unique_ptr<CRoriDaziZevoDlg> m_pDialog;
};

TEST_F(CameraDialogTest, ValuesChosenInThePagesAreSavedAndRestoredWhenTheCameraOpens) {
    m_fake.AddNode(Camera("/dev/video0", kCamera));
    MakeDialog();
    ASSERT_TRUE(m_pDialog->OnInitDialog());
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(ClickCameraControl([](QWidget& pages) {
        QComboBox* mode = Control<QComboBox>(pages, ECamControl::Exposure, true);
        mode->setCurrentIndex(mode->findData(kExposureManual));
        emit mode->activated(mode->currentIndex());
        Control<QSlider>(pages, ECamControl::Exposure)->setValue(1200);
    }));
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    ASSERT_EQ(ReadCamControl(blockA, blockB, kCamera), 1);
    EXPECT_EQ(blockB[4].value, 1200);
    EXPECT_EQ(blockB[4].flags, kCamFlagManual);

    m_fake.SetControlValue("/dev/video0", CamAutoControlId(ECamControl::Exposure), kExposureAperture);
    m_fake.SetControlValue("/dev/video0", CamControlId(ECamControl::Exposure), 250);
    PostDispatch(m_pDialog.get(), kRestartVideo, 0);
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(m_pBinding->engine.opened.size(), 2u);
    EXPECT_EQ(AutoValue(ECamControl::Exposure), kExposureManual);
    EXPECT_EQ(Value(ECamControl::Exposure), 1200);

    m_pDialog.reset();
    m_fake.SetControlValue("/dev/video0", CamControlId(ECamControl::Exposure), 250);
    MakeDialog();
    ASSERT_TRUE(m_pDialog->OnInitDialog());
    EXPECT_EQ(Value(ECamControl::Exposure), 1200) << "start-up restores the set before any source opens";
}

TEST_F(CameraDialogTest, CameraNotFoundShowsAndStoresNothing) {
    m_fake.AddNode(Camera("/dev/video0", "Another Cam"));
    MakeDialog();
    ASSERT_TRUE(m_pDialog->OnInitDialog());
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ClickCameraControl([](QWidget&) {}));
    platform::TRegKey key;
    EXPECT_EQ(key.Open(platform::RegHive::LocalMachine, "SOFTWARE\\Quindle\\Server\\CamControl",
                       platform::RegAccess::Read),
              platform::kRegNotFound);
    EXPECT_EQ(m_fake.ControlWrites("/dev/video0"), 0);
}

}  // namespace
}  // namespace console
