#include "console/CRoriDaziZevoDlg.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QToolTip>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "console/CPreviewDlg.h"
#include "console/CSetVFmtDlg.h"
#include "console/DispatchEvent.h"
#include "console/LayoutEditor.h"
#include "console/IDzUVCLIB.h"
#include "console/OpenParams.h"
#include "console/StartProgress.h"
#include "console/TDebugValueBox.h"
#include "console/TDropDownList.h"
#include "console/TEngineBinding.h"
#include "console/TPrompts.h"
#include "console/TTemplateButton.h"
#include "console/media/IAudioCaptor.h"
#include "console/media/RecordNaming.h"
#include "console/media/RecordParams.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/SettingsStore.h"
#include "console/services/TRtLog.h"
#include "platform/CaptureDevices.h"
#include "platform/ExecutablePath.h"
#include "platform/PerfCounter.h"

namespace console {

namespace {

constexpr unsigned int kEngineFlags = 0xFFFFFFFF;
constexpr int kMattingOffFlag = 0x200;
constexpr int kBlackWhiteFlag = 0x2;
constexpr int kDebugDrawingFlag = 0x400;
constexpr int kDebugParam0 = 14;
constexpr int kDebugParam1 = 15;
constexpr int kRestartProcessFlags = 128;
constexpr char kCaption[] = "Quindle Console";
constexpr char kMediaFileText[] = "视频文件...";
constexpr char kOwnVirtualCamera[] = "Quindle";
constexpr int kTemplateSlots = 6;
constexpr int kParamSliders = 5;
constexpr int kRunningState = 2;
constexpr int kFirstTemplateId = 3030;
constexpr int kBuiltInSlots = 2;
constexpr char kTemplateNameQuestion[] = "模板名称";
constexpr char kCustomHint[] =
    "提示:\r您可在回显窗口拖动画面红框调整布局，\r并通过右键菜单保存布局\r您还可鼠标右键点击\"%s\"按钮来更改名称";
constexpr int kBitRateSlots = 6;
constexpr int kFallbackBitRate = 2;
constexpr int32_t kAudioBitRate = 128000;

void ListMachineDevices(TDShowDeviceList* list) {
    const TEnumDShowDevices devices([](std::vector<TCaptureDevice>* found) {
        for (const platform::TCaptureNode& node : platform::ListCaptureNodes())
            found->push_back({node.cardName, node.path});
    });
    devices.Enumerate(list);
}

std::string ReadStoredName(const char* valueName) {
    char16_t buffer[260] = {};
    if (ReadString(buffer, sizeof buffer, valueName, "InputMain") != 1) return {};
    return common::Utf16ToUtf8(buffer);
}

void StoreName(const std::string& name, const char* valueName) {
    WriteString(common::Utf8ToUtf16(name), valueName, "InputMain");
}

// Fills a device list: every name but the system's own virtual camera, with
// its index in the listing, then selects the stored name or the first entry.
void FillList(QComboBox* list, const char (*names)[TDShowDeviceList::kNameBytes], int count,
              const std::string& stored, bool withMediaFile) {
    list->clear();
    for (int i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(names[i]);
        if (name.compare(QLatin1String(kOwnVirtualCamera), Qt::CaseInsensitive) == 0) continue;
        list->addItem(name, i);
    }
    if (withMediaFile) list->addItem(QString::fromUtf8(kMediaFileText), CRoriDaziZevoDlg::kMediaFileEntry);
    const int match = list->findText(QString::fromStdString(stored), Qt::MatchExactly | Qt::MatchCaseSensitive);
    list->setCurrentIndex(match >= 0 ? match : (list->count() > 0 ? 0 : -1));
}

TCapLayout EmptyLayout() {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.MaxWidth = 1920;
    layout.MaxHeight = 1080;
    return layout;
}

// A slot as stored, or its default when it does not load: a failed load may
// have left the record half read.
TCapLayout LoadSlot(int slot, bool withLayers) {
    TCapLayout layout = EmptyLayout();
    if (LoadTemplate(&layout, slot, withLayers) != 1) layout = DefaultTemplate(slot);
    return layout;
}

std::string CustomName(int slot) {
    char name[32];
    std::snprintf(name, sizeof name, "自定义%d", slot + 1);
    return name;
}

// The name field holds 9 units and its terminator.
void SetLayoutName(TCapLayout* layout, const QString& name) {
    std::u16string units = name.toStdU16String().substr(0, std::size(layout->Name) - 1);
    std::fill(std::begin(layout->Name), std::end(layout->Name), u'\0');
    std::copy(units.begin(), units.end(), layout->Name);
}

QString LayoutName(const TCapLayout& layout) {
    const std::u16string_view name(layout.Name, std::find(std::begin(layout.Name), std::end(layout.Name), u'\0') -
                                                    std::begin(layout.Name));
    return QString::fromStdU16String(std::u16string(name));
}

}  // namespace

common::IRtLog*& ProcessRtLog() {
    static common::IRtLog* log = nullptr;
    return log;
}

CRoriDaziZevoDlg::CRoriDaziZevoDlg(StartProgress* progress, IEngineBinding& binding, TTrackedPrompts& prompts,
                                   TDlgOptions options)
    : m_pProgress(progress), m_binding(binding), m_prompts(prompts), m_options(std::move(options)) {
    setObjectName(QStringLiteral("102"));
    setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 8));
    if (!m_options.listDevices) m_options.listDevices = &ListMachineDevices;
    if (!m_options.createRecorder) m_options.createRecorder = &CreateInstance_IRecord;
    if (!m_options.createAudioCaptor) m_options.createAudioCaptor = &CreateInstance_IAudioCaptor;
    if (m_options.releaseAudioCaptor == nullptr) m_options.releaseAudioCaptor = &ReleaseInstance_IAudioCaptor;
    m_pDevices = std::make_unique<TDShowDeviceList>();
    std::memset(m_pDevices.get(), 0, sizeof(TDShowDeviceList));
    m_pParams = std::make_unique<TCapParamList>();
    m_nTemplateIndex = 0;
    setWindowIcon(QIcon::fromTheme(QStringLiteral("camera-video")));
    if (ProcessRtLog() == nullptr) ProcessRtLog() = CreateInstance_IRtLog();
    m_nCounterFrequency = platform::PerfCounter::Frequency();
    if (m_pEngine.load() == nullptr) m_pEngine = m_binding.Create(&FrameCallback, this, kEngineFlags);
    m_nEngineCreated = platform::PerfCounter::Now();
    Log("CreateInstance_ICapMattEngine finished\n");
    m_prompts.SetOnReturn([this] {
        if (m_bClosePending) QMetaObject::invokeMethod(this, [this] { OnCancel(); }, Qt::QueuedConnection);
    });
    CreateControls();
}

CRoriDaziZevoDlg::~CRoriDaziZevoDlg() {
    m_prompts.SetOnReturn({});
    OnCancel();
}

void CRoriDaziZevoDlg::Log(const char* line) const {
    if (common::IRtLog* log = ProcessRtLog()) log->Write(line);
}

QSize CRoriDaziZevoDlg::TemplateSize() const {
    // Dialog units: x in quarters of the average character width, y in
    // eighths of the character height.
    const QFontMetrics metrics(font());
    return {kTemplateWidthDu * metrics.averageCharWidth() / 4, kTemplateHeightDu * metrics.height() / 8};
}

void CRoriDaziZevoDlg::AdvanceProgress(int position) {
    if (m_pProgress != nullptr && m_pProgress->isVisible()) m_pProgress->SetPos(position);
}

bool CRoriDaziZevoDlg::OnInitDialog() {
    for (int position : {20, 40, 50, 60, 70, 80}) {
        AdvanceProgress(position);
        char line[32];
        std::snprintf(line, sizeof line, "SetPos(%d)\n", position);
        Log(line);
    }
    m_nRunStart = platform::PerfCounter::Now();
    AdvanceProgress(90);
    PlaceAtBottomRight();
    WriteString(common::Utf8ToUtf16(platform::ExecutablePath()), "EXE", "");
    if (m_pEngine.load() == nullptr) {
        m_prompts.ShowBox("引擎初始化失败");
        OnCancel();
        return false;
    }
    InitControls();
    AdvanceProgress(100);
    ApplyTemplate(0);
    PostDispatch(this, kRestartAudio, 0);
    PostDispatch(this, kRestartVideo, 0);
    m_pPreview->show();
    if (m_pProgress != nullptr) m_pProgress->close();
    m_pPreview->setFocus();
    return true;
}

int CRoriDaziZevoDlg::DoModal() {
    if (!OnInitDialog()) return result();
    show();
    return exec();
}

void CRoriDaziZevoDlg::PlaceAtBottomRight() {
    resize(TemplateSize() - QSize(0, kDebugPanelPx));
    // The outer rectangle, frame included, is what is placed; its frame is
    // known only once the window is shown, so showing places it again.
    const QSize outer = frameGeometry().size();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen != nullptr ? screen->geometry() : QRect(0, 0, 1920, 1080);
    move(desktop.x() + desktop.width() - outer.width(), desktop.y() + desktop.height() - outer.height() - kBottomGapPx);
}

void CRoriDaziZevoDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bPlacedShown) {
        m_bPlacedShown = true;
        PlaceAtBottomRight();
    }
}

void CRoriDaziZevoDlg::CreateControls() {
    const QFontMetrics metrics(font());
    const auto place = [&](auto* control, int id, int x, int y, int w, int h) {
        if (id != 0) control->setObjectName(QString::number(id));
        control->setGeometry(x * metrics.averageCharWidth() / 4, y * metrics.height() / 8,
                             w * metrics.averageCharWidth() / 4, h * metrics.height() / 8);
        if (auto* button = qobject_cast<QPushButton*>(control)) button->setAutoDefault(false);
        return control;
    };
    const auto text = [](const char* utf8) { return QString::fromUtf8(utf8); };
    place(new QLabel(text("主画面"), this), 1018, 9, 23, 28, 11);
    m_pMainList = place(new TDropDownList(this), 1017, 44, 20, 117, 14);
    place(new QLabel(text("背景画面"), this), 0, 8, 46, 33, 8);
    m_pDisplayList = place(new QComboBox(this), 1016, 44, 44, 117, 14);
    place(new QLabel(text("音频采集"), this), 1082, 8, 68, 32, 13);
    m_pAudioList = place(new TDropDownList(this), 1077, 44, 67, 117, 14);
    m_pCameraControl = place(new QPushButton(text("摄像机控制"), this), 1076, 169, 16, 48, 16);
    m_pSettings = place(new QPushButton(text("设置"), this), 1087, 169, 43, 48, 15);
    m_pRecord = place(new QPushButton(text("录制"), this), 1079, 169, 67, 48, 15);
    static const char* const kTemplateNames[kTemplateSlots] = {"全屏", "双视窗", "模板2", "模板3", "模板4", "模板5"};
    for (int s = 0; s < kTemplateSlots; ++s) {
        m_pTemplateButtons[s] = place(new TTemplateButton(text(kTemplateNames[s]), this), 3030 + s,
                                      43 + 38 * (s % 3), 96 + 26 * (s / 3), 38, 25);
    }
    m_pHidePresenter = place(new QCheckBox(text("隐藏主画面"), this), 3020, 166, 103, 52, 10);
    m_pPush = place(new QCheckBox(text("直播推流"), this), 3018, 166, 124, 43, 10);
    m_pMatting = place(new QCheckBox(text("主体抠像"), this), 2000, 32, 176, 42, 10);
    place(new QLabel(text("抠像参数"), this), 2001, 44, 202, 33, 9);
    m_pScreenTint = place(new QCheckBox(text("屏幕蒙绿"), this), 2002, 33, 231, 46, 10);
    place(new QLabel(text("抠像参数"), this), 2003, 44, 256, 33, 9);
    place(new QLabel(text("抠像参数"), this), 2004, 44, 280, 33, 9);
    static const int kSliderY[kParamSliders] = {173, 200, 228, 252, 277};
    static const int kValueY[kParamSliders] = {167, 191, 218, 242, 268};
    for (int i = 0; i < kParamSliders; ++i) {
        m_pSliders[i] = place(new QSlider(Qt::Horizontal, this), 2300 + i, 76, kSliderY[i], 141, 17);
        m_pSliders[i]->setTickPosition(QSlider::NoTicks);
        place(new QLabel(text("Val"), this), 2400 + i, 143, kValueY[i], 17, 9);
    }
    m_pLogSwitch = place(new QCheckBox(text("输出日志"), this), 3049, 170, 306, 48, 10);
    m_pLogSwitch->hide();
    place(new QGroupBox(text("调试"), this), 0, 7, 333, 211, 55);
    m_pDebugDrawing = place(new QCheckBox(text("开启调试"), this), 3055, 23, 351, 48, 10);
    m_pBlackWhite = place(new QCheckBox(text("黑白图"), this), 3054, 23, 368, 40, 10);
    place(new QLabel(text("参数0"), this), 3051, 74, 351, 24, 8);
    // Each edit and its up-down make one spin box, named after the edit.
    m_pDebugValue0 = place(new TDebugValueBox(0, 999, this), 1005, 99, 348, 36, 14);
    place(new QLabel(text("参数1"), this), 3052, 74, 368, 24, 8);
    m_pDebugValue1 = place(new TDebugValueBox(-999, 999, this), 1007, 99, 367, 35, 14);
    place(new QPushButton(text("Test1"), this), 3056, 149, 349, 27, 15);
    place(new QPushButton(text("Test2"), this), 3057, 149, 365, 27, 15);
    m_pTestPattern = place(new QCheckBox(text("VMFg"), this), 3058, 185, 351, 33, 10);
    ConnectControls();
    ConnectDebugPanel();
}

// Only the user's own input acts: activated and clicked, and the sliders'
// actions, are never sent for a change the code makes.
void CRoriDaziZevoDlg::ConnectControls() {
    connect(m_pMainList, &QComboBox::activated, this, [this] { PostDispatch(this, kRestartVideo, 0); });
    connect(m_pDisplayList, &QComboBox::activated, this, [this] { PostDispatch(this, kRestartVideo, 0); });
    connect(m_pAudioList, &QComboBox::activated, this, [this] { PostDispatch(this, kRestartAudio, 0); });
    m_pMainList->SetOnDropDown([this] { RelistDevices(); });
    m_pAudioList->SetOnDropDown([this] { RelistDevices(); });
    connect(m_pSettings, &QPushButton::clicked, this, [this] { OpenSettings(); });
    connect(m_pCameraControl, &QPushButton::clicked, this, [this] { ShowCameraPages(); });
    connect(m_pRecord, &QPushButton::clicked, this, [this] { PostDispatch(this, kToggleRecord, 0); });
    connect(m_pPush, &QCheckBox::clicked, this, [this] { PostDispatch(this, kTogglePush, 0); });
    for (int s = 0; s < kTemplateSlots; ++s) {
        connect(m_pTemplateButtons[s], &QPushButton::clicked, this,
                [this, s] { PostDispatch(this, kSelectTemplate, 3030 + s); });
        m_pTemplateButtons[s]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(m_pTemplateButtons[s], &QWidget::customContextMenuRequested, this,
                [this, s] { ShowTemplateMenu(s); });
    }
    for (int i = 0; i < kParamSliders; ++i)
        connect(m_pSliders[i], &QAbstractSlider::actionTriggered, this, [this, i] { OnSliderAction(i); });
    connect(m_pMatting, &QCheckBox::clicked, this, [this] { ApplyMattingSwitch(); });
    connect(m_pScreenTint, &QCheckBox::clicked, this, [this] { ApplyScreenTint(); });
    connect(m_pHidePresenter, &QCheckBox::clicked, this, [this] { ApplyHidePresenter(); });
    connect(m_pLogSwitch, &QCheckBox::clicked, this, [this](bool checked) {
        if (common::IRtLog* log = ProcessRtLog()) log->Configure(checked ? 1 : 0, 0);
    });
}

void CRoriDaziZevoDlg::ConnectDebugPanel() {
    connect(m_pBlackWhite, &QCheckBox::clicked, this, [this] { SwitchProcessFlag(m_pBlackWhite, kBlackWhiteFlag); });
    connect(m_pDebugDrawing, &QCheckBox::clicked, this, [this] {
        SwitchProcessFlag(m_pDebugDrawing, kDebugDrawingFlag);
        SetDebugParams();
    });
    m_pDebugValue0->SetOnStep([this] { SetDebugParams(); });
    m_pDebugValue1->SetOnStep([this] { SetDebugParams(); });
    connect(m_pTestPattern, &QCheckBox::clicked, this, [this](bool checked) { m_bTestPattern = checked; });
    m_pTemplateMenu = new QMenu(QStringLiteral("MenuButton"), this);
    m_pTemplateMenu->setObjectName(QStringLiteral("153"));
    QAction* rename = m_pTemplateMenu->addAction(QString::fromUtf8("重命名"));
    rename->setObjectName(QStringLiteral("32806"));
}

void CRoriDaziZevoDlg::InitControls() {
    m_nTemplateIndex = 0;
    setWindowTitle(QString::fromLatin1(kCaption));
    m_pPreview = new CPreviewDlg(this);
    Editor().SetLayoutChanged([this](const TCapLayout& layout) {
        OnDispatchMsg(kLayoutChanged, reinterpret_cast<int64_t>(&layout));
    });
    m_options.listDevices(m_pDevices.get());
    FillDeviceLists();
    FillParamSliders();
    FillDisplays();
    LoadTemplateButtons();
    m_pDebugValue0->setValue(0);
    m_pDebugValue1->setValue(0);
    ApplyStoredCameraControls(m_pMainList->currentText().toStdString());
    m_nLastCameraInUse = 0;
    PostDispatch(this, kCameraInUse, 0);
}

void CRoriDaziZevoDlg::RelistDevices() {
    m_options.listDevices(m_pDevices.get());
    FillDeviceLists();
}

// A camera that cannot be opened for control, or has nothing stored, is
// left as it is.
void CRoriDaziZevoDlg::ApplyStoredCameraControls(const std::string& cameraName) {
    IDzUVCLIB* camera = CreateInstance_IDzUVCLIB();
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    if (camera->Open(cameraName.c_str()) && ReadCamControl(blockA, blockB, cameraName) == 1)
        camera->SetAll(blockA, blockB);
    ReleaseInstance_IDzUVCLIB(&camera);
}

void CRoriDaziZevoDlg::ShowCameraPages() {
    const std::string cameraName = m_pMainList->currentText().toStdString();
    IDzUVCLIB* camera = CreateInstance_IDzUVCLIB();
    if (camera->Open(cameraName.c_str())) {
        TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
        if (ReadCamControl(blockA, blockB, cameraName) == 1) camera->SetAll(blockA, blockB);
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect desktop = screen != nullptr ? screen->geometry() : QRect(0, 0, 1920, 1080);
        camera->ShowPropertyPages(this, desktop.width() / 2, desktop.height() / 2);
        camera->GetAll(blockA, blockB);
        if (WriteCamControl(blockA, blockB, cameraName) != 1) Log("camera control: the values were not stored\n");
    }
    ReleaseInstance_IDzUVCLIB(&camera);
}

void CRoriDaziZevoDlg::OnSliderAction(int index) {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr || index >= m_pParams->count) return;
    // The slider has already moved its thumb by the action: one step for the
    // line and page actions (both are 1), to an end, or to where it is
    // dragged, always within the parameter's range, which is the slider's.
    const TCapParamInfo& info = m_pParams->entries[index];
    QSlider* slider = m_pSliders[index];
    const int position = std::max<int>(info.minimum, std::min<int>(info.maximum, slider->sliderPosition()));
    engine->SetParam(position, index);
    QToolTip::showText(QCursor::pos(), QString::number(position), slider);
}

void CRoriDaziZevoDlg::ApplyScreenTint() {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr) return;
    m_pParams->count = static_cast<int16_t>(std::clamp(engine->GetParamList(m_pParams.get()), 0, 64));
    for (int i = 0; i < std::min<int>(m_pParams->count, kParamSliders); ++i) {
        if ((engine->GetParamFlags(i) & 2) == 0) continue;
        if (m_pScreenTint->isChecked()) {
            m_pSliders[i]->setEnabled(true);
            engine->SetParam(m_pSliders[i]->value(), i);
        } else {
            engine->SetParam(0, i);
            m_pSliders[i]->setEnabled(false);
        }
        return;
    }
}

void CRoriDaziZevoDlg::ApplyHidePresenter() {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr || m_pPreview == nullptr) return;
    TCapLayout& layout = Editor().CurrentLayout();
    for (TCapLayer& layer : layout.layers) {
        if (layer.Id != TCapLayer::kPresenter) continue;
        if (m_pHidePresenter->isChecked())
            layer.Flag &= ~TCapLayer::kFlagEnabled;
        else
            layer.Flag |= TCapLayer::kFlagEnabled;
        break;
    }
    PassLayoutOn();
}

void CRoriDaziZevoDlg::SwitchProcessFlag(QCheckBox* box, int flag) {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr) return;
    const int flags = engine->GetProcessFlags();
    engine->SetProcessFlags(box->isChecked() ? flags | flag : flags & ~flag);
}

void CRoriDaziZevoDlg::SetDebugParams() {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr) return;
    engine->SetParam(m_pDebugValue0->value(), kDebugParam0);
    engine->SetParam(m_pDebugValue1->value(), kDebugParam1);
}

void CRoriDaziZevoDlg::ShowTemplateMenu(int slot) {
    TCapLayout layout = EmptyLayout();
    // A slot that does not load is the default custom template, which is not built in.
    if (LoadTemplate(&layout, slot, false) != 1) layout = DefaultTemplate(slot);
    if (layout.BuildIn != 0) return;
    const QAction* chosen = m_pTemplateMenu->exec(QCursor::pos());
    if (chosen != nullptr && chosen->objectName() == QLatin1String("32806"))
        PostDispatch(this, kRenameTemplate, slot);
}

void CRoriDaziZevoDlg::ToggleLogSwitch() {
    m_pLogSwitch->setVisible(!m_pLogSwitch->isVisible());
    m_pLogSwitch->setChecked(false);
    if (common::IRtLog* log = ProcessRtLog()) log->Configure(0, 1);
}

void CRoriDaziZevoDlg::ToggleDebugPanel() {
    m_bDebugPanelOpen = !m_bDebugPanelOpen;
    resize(width(), height() + (m_bDebugPanelOpen ? kDebugPanelPx : -kDebugPanelPx));
    update();
}

void CRoriDaziZevoDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) {
        QDialog::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    if (findChild<QWidget*>(QStringLiteral("1018"))->geometry().contains(at)) ToggleLogSwitch();
    if (findChild<QWidget*>(QStringLiteral("2001"))->geometry().contains(at)) ToggleDebugPanel();
}

void CRoriDaziZevoDlg::MarkCurrentTemplate() {
    for (int s = 0; s < kTemplateSlots; ++s) m_pTemplateButtons[s]->SetCurrent(s == m_nTemplateIndex);
}

void CRoriDaziZevoDlg::FillDeviceLists() {
    const TDShowDeviceList& devices = *m_pDevices;
    FillList(m_pMainList, devices.videoNames, std::clamp(devices.videoCount, 0, TDShowDeviceList::kMaxDevices),
             ReadStoredName("VideoDevName"), true);
    FillList(m_pAudioList, devices.audioNames, std::clamp(devices.audioCount, 0, TDShowDeviceList::kMaxDevices),
             ReadStoredName("AudioDevName"), false);
}

void CRoriDaziZevoDlg::FillParamSliders() {
    ICapMattEngine* engine = m_pEngine.load();
    const int count = std::clamp(engine->GetParamList(m_pParams.get()), 0, 64);
    m_pParams->count = static_cast<int16_t>(count);
    for (int i = 0; i < std::min(count, kParamSliders); ++i) {
        const TCapParamInfo& info = m_pParams->entries[i];
        QWidget* label = findChild<QWidget*>(QString::number(2000 + i));
        if (auto* button = qobject_cast<QAbstractButton*>(label)) button->setText(QString::fromStdString(info.name));
        if (auto* text = qobject_cast<QLabel*>(label)) text->setText(QString::fromStdString(info.name));
        if (auto* value = findChild<QLabel*>(QString::number(2400 + i))) value->clear();
        QSlider* slider = m_pSliders[i];
        const QSignalBlocker quiet(slider);
        slider->setRange(info.minimum, info.maximum);
        slider->setSingleStep(1);
        slider->setPageStep(1);
        slider->setTickInterval(5);
        slider->setValue(info.defaultValue);
        slider->setEnabled((engine->GetParamFlags(i) & 2) == 0);
    }
}

void CRoriDaziZevoDlg::FillDisplays() {
    std::string names[50];
    unsigned primary = 0;
    const int count = std::clamp(m_pEngine.load()->ListScreens(names, &primary, 50), 0, 50);
    m_pDisplayList->clear();
    for (int i = 0; i < count; ++i) m_pDisplayList->addItem(QString::fromStdString(names[i]));
    if (count > 0) m_pDisplayList->setCurrentIndex(count >= 2 && primary == 0 ? 1 : 0);
}

void CRoriDaziZevoDlg::LoadTemplateButtons() {
    for (int s = 0; s < kTemplateSlots; ++s) {
        TCapLayout layout = EmptyLayout();
        if (LoadTemplate(&layout, s, false) != 1) {
            layout = DefaultTemplate(s);
            SaveTemplate(layout, s);
        }
        m_pTemplateButtons[s]->setText(QString::fromStdU16String(std::u16string(layout.Name)));
    }
}

void CRoriDaziZevoDlg::ApplyTemplate(int slot) {
    TCapLayout layout = EmptyLayout();
    if (LoadTemplate(&layout, slot, true) != 1) layout = DefaultTemplate(slot);
    TakeLayout(layout);
    m_nTemplateIndex = slot;
    MarkCurrentTemplate();
    m_bLayoutApplied = true;
}

void CRoriDaziZevoDlg::ApplyMattingSwitch() {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr) return;
    const int flags = engine->GetProcessFlags();
    const bool on = m_pMatting->isChecked();
    engine->SetProcessFlags(on ? flags & ~kMattingOffFlag : flags | kMattingOffFlag);
    m_pSliders[0]->setEnabled(on);
    m_pSliders[1]->setEnabled(on);
}

bool CRoriDaziZevoDlg::event(QEvent* event) {
    if (event->type() != TDispatchEvent::kType) return QDialog::event(event);
    const auto* dispatch = static_cast<TDispatchEvent*>(event);
    OnDispatchMsg(dispatch->Code(), dispatch->Argument());
    return true;
}

void CRoriDaziZevoDlg::OnDispatchMsg(int code, int64_t argument) {
    char line[96];
    std::snprintf(line, sizeof line, "%s %d\n", "CRoriDaziZevoDlg::OnDispatchMsg, lParam:", code);
    Log(line);
    if (m_bClosing) return;
    switch (code) {
        case kRestartVideo:
            if (!RestartVideo()) ShowTrail();
            break;
        case kRestartAudio:
            if (!RestartAudio()) ShowTrail();
            break;
        case kSecondInstance:
        case kShowWindows:
            ShowWindows();
            break;
        case kLayoutChanged:
            OnLayoutChanged(reinterpret_cast<const TCapLayout*>(argument));
            break;
        case kCameraInUse:
            m_nLastCameraInUse = static_cast<int>(argument);
            UpdateSettingsButton();
            break;
        case kToggleRecord:
            ToggleRecord();
            break;
        case kTogglePush:
            TogglePush();
            break;
        case kSelectTemplate:
            if (argument >= kFirstTemplateId && argument < kFirstTemplateId + kTemplateSlots)
                SelectTemplate(static_cast<int>(argument) - kFirstTemplateId);
            break;
        case kSaveLayout:
            SaveLayout();
            break;
        case kSaveLayoutAs:
            if (argument >= 0 && argument < kTemplateSlots) SaveLayoutAs(static_cast<int>(argument));
            break;
        case kRenameTemplate:
            if (argument >= 0 && argument < kTemplateSlots) RenameTemplate(static_cast<int>(argument));
            break;
        case kResetLayout:
            ResetLayout();
            break;
        default:
            break;
    }
}

void CRoriDaziZevoDlg::ShowTrail() { m_prompts.ShowBox(common::ErrorTrail::Take()); }

void CRoriDaziZevoDlg::ShowWindows() {
    show();
    if (m_pPreview != nullptr) m_pPreview->show();
    raise();
    activateWindow();
}

bool CRoriDaziZevoDlg::RestartVideo() {
    ICapMattEngine* engine = m_pEngine.load();
    // The file chooser runs an event loop, in which another request may
    // arrive: the flag covers the whole action.
    if (m_bVideoBusy || engine == nullptr) return false;
    m_bVideoBusy = true;
    TCapOpenParam param;
    bool opened = BuildOpenParam(&param);
    if (opened && engine->Open(&param) != 0) {
        common::ErrorTrail::Add("引擎初始化失败");
        opened = false;
    }
    if (opened) {
        StoreName(param.sources[0].name, "VideoDevName");
        m_pPreview->Configure(std::max(param.outWidth, param.outHeight), std::min(param.outWidth, param.outHeight),
                              param.outFormat == 3 ? 28 : param.outFormat);
        PassLayoutOn();
        for (int i = 0; i < std::min<int>(m_pParams->count, kParamSliders); ++i) {
            if (m_pSliders[i]->isEnabled()) engine->SetParam(m_pSliders[i]->value(), i);
        }
        engine->SetProcessFlags(kRestartProcessFlags);
        ApplyMattingSwitch();
        ResetStatistics(param.actualFormat);
        if (param.sources[0].kind == kCapSourceCamera) ApplyStoredCameraControls(param.sources[0].name);
    }
    m_bVideoBusy = false;
    return opened;
}

// Every source start restarts the statistics with the capture format the
// engine reported.
void CRoriDaziZevoDlg::ResetStatistics(const TCapVideoFormat& captured) {
    m_actualFormat = captured;
    m_pPreview->SetCaptureFormat(captured.width, captured.height, captured.pixelFormat);
    m_pPreview->ResetStatistics();
}

LayoutEditor& CRoriDaziZevoDlg::Editor() { return m_pPreview->Editor(); }

bool CRoriDaziZevoDlg::BuildOpenParam(TCapOpenParam* param) {
    int16_t kind = kCapSourceNone;
    std::string name;
    const QVariant entry = m_pMainList->currentData();
    if (!entry.isValid()) return false;
    if (entry.toInt() == kMediaFileEntry) {
        kind = kCapSourceFile;
        name = std::exchange(m_options.mediaFile, std::string());
        if (name.empty()) name = m_prompts.ChooseOpenFile(kMediaFileFilter);
        if (name.empty()) return false;
    } else {
        kind = kCapSourceCamera;
        name = m_pMainList->currentText().toStdString();
    }
    const TOutputFormat format = ReadOutputFormat();
    const std::string refusal = CheckOutputFormat(format);
    if (!refusal.empty()) {
        common::ErrorTrail::Add(refusal);
        return false;
    }
    *param = MakeOpenParam(kind, name, m_pDisplayList->currentIndex(), format, this, ProcessRtLog());
    return true;
}

bool CRoriDaziZevoDlg::RestartAudio() {
    const std::string name = m_pAudioList->currentText().toStdString();
    const int index = m_pAudioList->currentData().toInt();
    m_bAudioCaptured = false;
    m_options.releaseAudioCaptor(&m_pAudioCaptor);
    if (name.empty()) {
        common::ErrorTrail::Add("RestartAudio: Audio dev name is empty");
        return false;
    }
    m_pAudioCaptor = m_options.createAudioCaptor();
    if (m_pAudioCaptor == nullptr) {
        common::ErrorTrail::Add("RestartAudio: CreateInstance_IAudioCaptor error");
        return false;
    }
    TAudioOpenParams params;
    params.deviceName = (index >= 0 && index < TDShowDeviceList::kMaxDevices) ? m_pDevices->audioAltNames[index] : name;
    params.callback = &AudioCallback;
    params.user = this;
    if (!m_pAudioCaptor->Open(&params)) {
        m_options.releaseAudioCaptor(&m_pAudioCaptor);
        common::ErrorTrail::Add("RestartAudio: OpenAudioStream error");
        return false;
    }
    m_pAudioCaptor->Start();
    m_bAudioCaptured = true;
    StoreName(name, "AudioDevName");
    return true;
}

bool CRoriDaziZevoDlg::HasDefaultName(int slot) const {
    return m_pTemplateButtons[slot]->text().compare(QString::fromUtf8(CustomName(slot).c_str()), Qt::CaseInsensitive) ==
           0;
}

std::string CRoriDaziZevoDlg::AskTemplateName() {
    const std::optional<std::string> answer = m_prompts.AskText(kTemplateNameQuestion);
    if (!answer) return {};
    return QString::fromStdString(*answer).trimmed().toStdString();
}

void CRoriDaziZevoDlg::SelectTemplate(int slot) {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr || m_pPreview == nullptr) return;
    TCapLayout layout = LoadSlot(slot, true);
    TakeLayout(layout);
    m_pTemplateButtons[slot]->setText(LayoutName(layout));
    m_nTemplateIndex = slot;
    MarkCurrentTemplate();
    m_bLayoutApplied = true;
    if (slot < kBuiltInSlots || !HasDefaultName(slot)) return;
    const std::string buttonText = m_pTemplateButtons[slot]->text().toStdString();
    std::vector<char> hint(sizeof kCustomHint + buttonText.size());
    std::snprintf(hint.data(), hint.size(), kCustomHint, buttonText.c_str());
    m_prompts.ShowBox(hint.data());
}

void CRoriDaziZevoDlg::SaveLayout() {
    if (m_pPreview == nullptr) return;
    if (Editor().CurrentLayout().BuildIn != 0) {
        m_prompts.ShowBox("内置模板不可修改");
        return;
    }
    if (HasDefaultName(m_nTemplateIndex)) RenameTemplate(m_nTemplateIndex);
    TCapLayout& layout = Editor().CurrentLayout();
    SetLayoutName(&layout, m_pTemplateButtons[m_nTemplateIndex]->text());
    SaveTemplate(layout, m_nTemplateIndex);
}

// A slot still under its default name gets a name first; cancelling the
// question ends the action with nothing stored.
void CRoriDaziZevoDlg::SaveLayoutAs(int slot) {
    if (m_pPreview == nullptr) return;
    TCapLayout record = LoadSlot(slot, false);
    if (record.BuildIn != 0) {
        m_prompts.ShowBox("不能修改系统内置模板");
        return;
    }
    if (HasDefaultName(slot)) {
        std::optional<std::string> name;
        while (!name || name->empty()) {
            name = m_prompts.AskText(kTemplateNameQuestion);
            if (!name) return;
            name = QString::fromStdString(*name).trimmed().toStdString();
        }
        SetLayoutName(&record, QString::fromStdString(*name));
    }
    const TCapLayout& current = Editor().CurrentLayout();
    record.MaxWidth = current.MaxWidth;
    record.MaxHeight = current.MaxHeight;
    record.LayerCnt = current.LayerCnt;
    for (int i = 0; i < TCapLayout::kMaxLayers; ++i) {
        TCapLayer& layer = record.layers[i];
        layer.Id = current.layers[i].Id;
        layer.BrdAdjust = current.layers[i].BrdAdjust;
        std::copy(std::begin(current.layers[i].Position), std::end(current.layers[i].Position), layer.Position);
        layer.Flag = i == 0 ? 7 : 3;
    }
    SaveTemplate(record, slot);
    m_pTemplateButtons[slot]->update();
    PostDispatch(this, kSelectTemplate, kFirstTemplateId + slot);
}

void CRoriDaziZevoDlg::RenameTemplate(int slot) {
    const std::string name = AskTemplateName();
    if (name.empty()) {
        m_prompts.ShowBox("名称不能为空, 重命名被忽略");
        return;
    }
    TCapLayout named{};
    SetLayoutName(&named, QString::fromStdString(name));
    m_pTemplateButtons[slot]->setText(LayoutName(named));
    console::RenameTemplate(LayoutName(named).toStdU16String(), slot);
}

void CRoriDaziZevoDlg::ResetLayout() {
    ICapMattEngine* engine = m_pEngine.load();
    if (engine == nullptr || m_pPreview == nullptr) return;
    const int slot = m_nTemplateIndex;
    TCapLayout layout = EmptyLayout();
    if (slot < kBuiltInSlots) {
        LoadTemplate(&layout, slot, true);
    } else {
        layout = DefaultTemplate(slot);
        const QString text = m_pTemplateButtons[slot]->text();
        SetLayoutName(&layout, text.isEmpty() ? QString::fromUtf8("自定义") : text);
    }
    m_pTemplateButtons[slot]->setText(LayoutName(layout));
    SaveTemplate(layout, slot);
    TakeLayout(layout);
}

// The editor reports every accepted drag and wheel step here, synchronously.
void CRoriDaziZevoDlg::OnLayoutChanged(const TCapLayout* layout) {
    ICapMattEngine* engine = m_pEngine.load();
    if (layout == nullptr || engine == nullptr) return;
    TCapLayout copy = *layout;
    engine->SetLayout(&copy);
}

void CRoriDaziZevoDlg::TakeLayout(const TCapLayout& layout) {
    Editor().TakeLayout(layout);
    PassLayoutOn();
}

void CRoriDaziZevoDlg::PassLayoutOn() {
    if (ICapMattEngine* engine = m_pEngine.load()) engine->SetLayout(&Editor().CurrentLayout());
}

// A new output size must never reach a running recorder, so the settings
// stay closed while anything reads the output or records it.
void CRoriDaziZevoDlg::UpdateSettingsButton() {
    m_pSettings->setEnabled(m_nLastCameraInUse.load() == 0 && !m_recorders.AnyHeld());
}

void CRoriDaziZevoDlg::OpenSettings() {
    FillVFmtSettings(&m_vfmtSettings, m_pEngine.load(), this);
    CSetVFmtDlg dialog(m_vfmtSettings, m_prompts, this);
    // A close request (the close box, SIGTERM) ends the settings too, so the
    // exit sequence is not left waiting behind them.
    connect(this, &QDialog::finished, &dialog, &QDialog::reject);
    dialog.exec();
}

void CRoriDaziZevoDlg::ToggleRecord() {
    m_pRecord->setEnabled(false);
    if (!m_recorders.file.IsEmpty()) {
        m_recorders.file.Close();
        m_pRecord->setText(QString::fromUtf8("录制"));
        UpdateSettingsButton();
    } else {
        m_pSettings->setEnabled(false);
        m_pRecord->setText(QString::fromUtf8("停止"));
        if (!StartRecorder(m_recorders.file, false)) {
            m_recorders.file.Close();
            m_pRecord->setText(QString::fromUtf8("录制"));
            UpdateSettingsButton();
            ShowTrail();
        }
    }
    m_pRecord->setEnabled(true);
}

void CRoriDaziZevoDlg::TogglePush() {
    m_pPush->setEnabled(false);
    if (m_pPush->isChecked()) {
        m_pSettings->setEnabled(false);
        if (!StartRecorder(m_recorders.live, true)) {
            m_recorders.live.Close();
            m_pPush->setChecked(false);
            UpdateSettingsButton();
            ShowTrail();
        }
    } else {
        m_recorders.live.Close();
        UpdateSettingsButton();
    }
    m_pPush->setEnabled(true);
}

namespace {

int BitRateIndex(int16_t stored) { return stored >= 0 && stored < kBitRateSlots ? stored : kFallbackBitRate; }

std::string LocalFolder(const char* valueName, const char* subkey) {
    char16_t buffer[260] = {};
    if (ReadString(buffer, sizeof buffer, valueName, subkey) != 1) return {};
    return common::Utf16ToUtf8(buffer);
}

}  // namespace

bool CRoriDaziZevoDlg::StartRecorder(TRecorderSlot& slot, bool live) {
    slot.Close();
    RecordParams params{};
    TFrameShape shape;
    if (m_pAudioCaptor != nullptr && m_pAudioCaptor->GetFormatRecord(&params.srcAudio) != kAudioClosed) {
        params.sampleRate = params.srcAudio.sampleRate;
        params.channels = params.srcAudio.channels;
        params.audioCodecId = kAudioCodecAac;
        params.audioBitRate = kAudioBitRate;
    }
    uint16_t fileExt = 0;
    TCapOpenParam* state = nullptr;
    ICapMattEngine* engine = m_pEngine.load();
    if (engine != nullptr && engine->GetState(&state) == kRunningState && state != nullptr) {
        params.videoCodecId = kVideoCodecH264;
        params.width = state->outWidth;
        params.height = state->outHeight;
        params.fps = state->outFrameRate;
        params.srcVideo = {state->outWidth, state->outHeight, state->outFormat, state->outFrameRate, 0, 0};
        shape = {state->outWidth, state->outHeight, state->outFormat};
        int16_t bytesRate = kFallbackBitRate;
        ReadRecord(&params.avAlignMs, &bytesRate, &params.gop, &fileExt);
        params.videoBitRate = RecordBitRate(BitRateIndex(bytesRate));
    }
    std::vector<std::string> outputs;
    if (live) {
        int16_t byteRate = kFallbackBitRate;
        char16_t addresses[kRtmpTargets][kRtmpAddrUnits] = {};
        ReadRtmp(&byteRate, addresses, nullptr);
        params.videoBitRate = PushBitRate(BitRateIndex(byteRate));
        for (const auto& address : addresses) outputs.push_back(common::Utf16ToUtf8(address));
    } else {
        outputs = RecordFileNames(LocalFolder("RecordPath", "Record"), fileExt, std::time(nullptr));
    }
    std::vector<const char*> names;
    for (const std::string& output : outputs) names.push_back(output.c_str());
    IRecord* recorder = m_options.createRecorder();
    if (recorder == nullptr) {
        common::ErrorTrail::Add("Start Record error");
        return false;
    }
    slot.Put(recorder, shape, m_options.releaseRecorder);
    if (slot.Held()->Open(names.data(), static_cast<int>(names.size()), &params) != 0) {
        common::ErrorTrail::Add("Start Record error");
        return false;
    }
    return true;
}

long CRoriDaziZevoDlg::FrameCallback(unsigned char* frame, void* user, int cameraInUse) {
    if (user != nullptr) static_cast<CRoriDaziZevoDlg*>(user)->OnFrame(reinterpret_cast<AVFrame*>(frame), cameraInUse);
    return 0;
}

void CRoriDaziZevoDlg::OnFrame(AVFrame* frame, int cameraInUse) {
    if (frame == nullptr || m_bClosing.load() || m_pEngine.load() == nullptr) return;
    const int64_t start = platform::PerfCounter::Now();
    // The pattern is the only thing written into the engine's frame.
    if (m_bTestPattern.load() && TTestPattern::Fits(frame)) {
        m_testPattern.Draw(frame);
        frame->pkt_pos = (platform::PerfCounter::Now() - start + 500000) / 1000000;
    }
    m_videoRestamp.Push(m_recorders, frame, m_bAudioCaptured.load());
    // Posted with every frame until the dialog has taken the new value.
    if (cameraInUse != m_nLastCameraInUse.load()) PostDispatch(this, kCameraInUse, cameraInUse);
    if (m_pPreview != nullptr && m_pPreview->IsShown()) m_pPreview->Draw(frame, cameraInUse);
    m_handlerFigures.Record(start, platform::PerfCounter::Now(), frame->pkt_size);
}

void CRoriDaziZevoDlg::AudioCallback(AVFrame* frame, void* user) {
    auto* dialog = static_cast<CRoriDaziZevoDlg*>(user);
    if (frame == nullptr || dialog == nullptr || dialog->m_bClosing.load()) return;
    dialog->m_recorders.PushAudio(frame);
}

void CRoriDaziZevoDlg::RequestClose() {
    if (m_bClosing) return;
    if (m_prompts.IsWaiting()) {
        m_bClosePending = true;
        return;
    }
    OnCancel();
}

void CRoriDaziZevoDlg::OnCancel() {
    if (m_bClosing.exchange(true)) return;
    if (m_bLayoutApplied && m_pPreview != nullptr && Editor().CurrentLayout().BuildIn == 0)
        SaveTemplate(Editor().CurrentLayout(), m_nTemplateIndex);
    // The live recorder's outputs may be files too: both are finished.
    m_recorders.file.Close();
    m_recorders.live.Close();
    ICapMattEngine* engine = m_pEngine.exchange(nullptr);
    m_binding.Release(&engine);
    m_options.releaseAudioCaptor(&m_pAudioCaptor);
    delete m_pPreview;
    m_pPreview = nullptr;
    ReleaseInstance_IRtLog(&ProcessRtLog());
    m_bEnded = true;
    done(QDialog::Rejected);
}

void CRoriDaziZevoDlg::closeEvent(QCloseEvent* event) {
    if (m_bEnded) {
        event->accept();
        return;
    }
    event->ignore();
    RequestClose();
}

void CRoriDaziZevoDlg::keyPressEvent(QKeyEvent* event) {
    // Enter would end the dialog past the exit sequence: ignored.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CRoriDaziZevoDlg::reject() { RequestClose(); }

void CRoriDaziZevoDlg::accept() {}

}  // namespace console
