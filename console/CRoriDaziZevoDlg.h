#pragma once

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/IRtLog.h"
#include "console/THandlerFigures.h"
#include "console/TKeyboardHook.h"
#include "console/TTestPattern.h"
#include "console/VFmtSettings.h"
#include "console/media/TRecorderSlot.h"
#include "console/media/TVideoRestamp.h"
#include "engine/ICapMattEngine.h"

class QCheckBox;
class QComboBox;
class QMenu;
class QPushButton;
class QSlider;

struct AVFrame;

namespace console {

class CPreviewDlg;
class IAudioCaptor;
class IEngineBinding;
class LayoutEditor;
class StartProgress;
class TDebugValueBox;
class TDropDownList;
class TTemplateButton;
class TTrackedPrompts;
struct TDShowDeviceList;

// The process's one run-time log; created with the main dialog, destroyed
// as its last exit step.
common::IRtLog*& ProcessRtLog();

struct TDlgOptions {
    // Stands for choosing "视频文件..." with this file at the first RestartVideo.
    std::string mediaFile;
    // Fills the device lists; the machine's cameras and audio inputs by default.
    std::function<void(TDShowDeviceList*)> listDevices;
    // Makes the recorders of codes 13 and 14 and releases them; a TRecord by default.
    std::function<IRecord*()> createRecorder;
    TRecorderSlot::Release releaseRecorder = &ReleaseInstance_IRecord;
    // Makes the audio captor of code 1 and releases it; a TAudioCaptor by default.
    std::function<IAudioCaptor*()> createAudioCaptor;
    void (*releaseAudioCaptor)(IAudioCaptor** holder) = nullptr;
};

// The console's main window. All of it belongs to the user-interface thread
// except OnFrame and the audio callback, which the engine's output thread and
// the audio captor's thread call; they touch only the recorder slots, the
// echo window's frame slot and atomics, and post WM_DISPATCH for the rest.
class CRoriDaziZevoDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateWidthDu = 225;
    static constexpr int kTemplateHeightDu = 395;
    static constexpr int kDebugPanelPx = 110;
    static constexpr int kBottomGapPx = 50;
    static constexpr int kMediaFileEntry = -1;
    static constexpr char kMediaFileFilter[] = "Describe Files (*.mp4)|*.mp4|All Files (*.*)|*.*||";

    CRoriDaziZevoDlg(StartProgress* progress, IEngineBinding& binding, TTrackedPrompts& prompts,
                     TDlgOptions options = {});
    ~CRoriDaziZevoDlg() override;

    // False when the dialog ended during initialisation.
    bool OnInitDialog();
    // OnInitDialog, then the dialog's own event loop until it ends.
    int DoModal();

    // The exit sequence; runs once.
    void OnCancel();
    // Esc, the close box, SIGINT and SIGTERM: the exit sequence now, or once
    // the prompt waiting for the user has returned.
    void RequestClose();
    void OnDispatchMsg(int code, int64_t argument);

    // The engine's output thread, once per composed frame.
    void OnFrame(AVFrame* frame, int cameraInUse);
    static long FrameCallback(unsigned char* frame, void* user, int cameraInUse);
    // The audio captor's thread, once per audio frame.
    static void AudioCallback(AVFrame* frame, void* user);

    TRecorderSlots& Recorders() { return m_recorders; }
    CPreviewDlg* Preview() const { return m_pPreview; }
    // The echo window's editor of the current layout; from InitControls on.
    LayoutEditor& Editor();
    ICapMattEngine* Engine() const { return m_pEngine.load(); }
    bool IsClosing() const { return m_bClosing.load(); }
    bool HasEnded() const { return m_bEnded; }
    int LastCameraInUse() const { return m_nLastCameraInUse.load(); }
    int64_t RunStartTicks() const { return m_nRunStart; }
    int64_t EngineCreatedTicks() const { return m_nEngineCreated; }
    const THandlerFigures& HandlerFigures() const { return m_handlerFigures; }
    // The size the template gives in pixels, before the debug panel is hidden.
    QSize TemplateSize() const;
    bool IsDebugPanelOpen() const { return m_bDebugPanelOpen; }
    bool TestPatternOption() const { return m_bTestPattern.load(); }
    int CurrentTemplate() const { return m_nTemplateIndex; }
    // The format the main source delivers since the last source start, as
    // the statistics show it.
    const TCapVideoFormat& CaptureFormat() const { return m_actualFormat; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

public slots:
    void reject() override;
    void accept() override;

private:
    void Log(const char* line) const;
    void AdvanceProgress(int position);
    void CreateControls();
    void InitControls();
    void PlaceAtBottomRight();
    void FillDeviceLists();
    void FillParamSliders();
    void FillDisplays();
    void LoadTemplateButtons();
    void ApplyTemplate(int slot);
    void ApplyMattingSwitch();
    void ConnectControls();
    void ConnectDebugPanel();
    void RelistDevices();
    void ApplyStoredCameraControls(const std::string& cameraName);
    void ShowCameraPages();
    void OnSliderAction(int index);
    void ApplyScreenTint();
    void ApplyHidePresenter();
    void SwitchProcessFlag(QCheckBox* box, int flag);
    void SetDebugParams();
    void ShowTemplateMenu(int slot);
    void ToggleLogSwitch();
    void ToggleDebugPanel();
    void MarkCurrentTemplate();

    bool RestartVideo();
    void ResetStatistics(const TCapVideoFormat& captured);
    bool BuildOpenParam(TCapOpenParam* param);
    bool RestartAudio();
    void ToggleRecord();
    void TogglePush();
    bool StartRecorder(TRecorderSlot& slot, bool live);
    void UpdateSettingsButton();
    void OpenSettings();
    void SelectTemplate(int slot);
    void SaveLayout();
    void SaveLayoutAs(int slot);
    void RenameTemplate(int slot);
    void ResetLayout();
    void OnLayoutChanged(const TCapLayout* layout);
    // Makes `layout` the current one, in the editor's reference size.
    void TakeLayout(const TCapLayout& layout);
    // The current layout to the engine and to the echo window's overlay.
    void PassLayoutOn();
    std::string AskTemplateName();
    bool HasDefaultName(int slot) const;
    void ShowTrail();
    void ShowWindows();

    StartProgress* m_pProgress;
    IEngineBinding& m_binding;
    TTrackedPrompts& m_prompts;
    TDlgOptions m_options;
    TKeyboardHook m_keyboardHook;

    std::atomic<ICapMattEngine*> m_pEngine{nullptr};
    std::unique_ptr<TCapParamList> m_pParams;
    std::unique_ptr<TDShowDeviceList> m_pDevices;
    int m_nTemplateIndex = 0;
    bool m_bLayoutApplied = false;
    int64_t m_nCounterFrequency = 0;
    int64_t m_nRunStart = 0;
    int64_t m_nEngineCreated = 0;
    THandlerFigures m_handlerFigures;
    TCapVideoFormat m_actualFormat = kDefaultVideoFormat;

    CPreviewDlg* m_pPreview = nullptr;
    IAudioCaptor* m_pAudioCaptor = nullptr;
    TRecorderSlots m_recorders;
    // Touched by the engine's output thread only.
    TVideoRestamp m_videoRestamp;
    std::atomic<bool> m_bAudioCaptured{false};

    std::atomic<bool> m_bClosing{false};
    std::atomic<int> m_nLastCameraInUse{0};
    bool m_bVideoBusy = false;
    bool m_bClosePending = false;
    bool m_bEnded = false;
    bool m_bPlacedShown = false;
    bool m_bDebugPanelOpen = false;
    // Read by the frame handler.
    std::atomic<bool> m_bTestPattern{false};
    TTestPattern m_testPattern;  // the engine's output thread only

    TDropDownList* m_pMainList = nullptr;   // 1017
    QComboBox* m_pDisplayList = nullptr;    // 1016
    TDropDownList* m_pAudioList = nullptr;  // 1077
    QPushButton* m_pCameraControl = nullptr;  // 1076
    QPushButton* m_pSettings = nullptr;     // 1087
    VFmtSettings m_vfmtSettings;            // what 1087 opens with
    QPushButton* m_pRecord = nullptr;       // 1079
    QCheckBox* m_pHidePresenter = nullptr;  // 3020
    QCheckBox* m_pPush = nullptr;           // 3018
    QCheckBox* m_pMatting = nullptr;        // 2000
    QCheckBox* m_pScreenTint = nullptr;     // 2002
    QSlider* m_pSliders[5] = {};            // 2300..2304
    TTemplateButton* m_pTemplateButtons[6] = {};  // 3030..3035
    QMenu* m_pTemplateMenu = nullptr;       // 153
    QCheckBox* m_pLogSwitch = nullptr;      // 3049
    QCheckBox* m_pDebugDrawing = nullptr;   // 3055
    QCheckBox* m_pBlackWhite = nullptr;     // 3054
    TDebugValueBox* m_pDebugValue0 = nullptr;  // 1005 with 1006
    TDebugValueBox* m_pDebugValue1 = nullptr;  // 1007 with 1008
    QCheckBox* m_pTestPattern = nullptr;    // 3058
};

}  // namespace console
