#pragma once

#include <QDialog>
#include <cstdint>

#include "console/VFmtSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace console {

class IPrompts;

// The modal settings dialog (template 1085). It edits `settings`, writes what
// is applied to the store and posts RestartVideo to the owner window when the
// picture format changed; it never calls the engine or a recorder, which
// read the stored values at their next start.
class CSetVFmtDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidthDu = 245;
    static constexpr int kHeightDu = 362;

    CSetVFmtDlg(VFmtSettings& settings, IPrompts& prompts, QWidget* parent = nullptr);

    // "应用": validates every value first and stores nothing when one is
    // refused. False when a value was refused or a store write failed.
    bool OnApply();
    // "确定": applies and closes; the dialog stays open when Apply failed.
    void OnOK();
    // "...": the folder chooser.
    void OnChooseFolder();

private:
    void CreateControls();
    void FillLists();
    void OnInitDialog();
    void SelectFromSettings();
    void ConnectControls();
    // Puts `list` back on `stored` (or on `fallback` when that is outside the
    // list too) and says so when its selection is outside its entries; true
    // when the selection was inside.
    bool CheckSelection(QComboBox* list, int stored, int fallback);
    bool ValidateBeforeStore();
    // The list's index, or `opened` (`fallback` when that is outside the list
    // too) put back with `message` when its selection is outside its entries.
    int16_t ChosenIndex(QComboBox* list, int16_t opened, int16_t fallback, const char* message);
    int16_t OffsetFromEdit() const;
    uint16_t CheckedFileTypes() const;
    bool StoreRecording();
    bool StorePush();

    VFmtSettings& m_settings;
    IPrompts& m_prompts;

    QComboBox* m_pSizeList = nullptr;               // 1000
    QComboBox* m_pFrameRateList = nullptr;          // 1089
    QComboBox* m_pFormatList = nullptr;             // 1088
    QComboBox* m_pGopList = nullptr;                // 1091
    QComboBox* m_pRecordRateList = nullptr;         // 1097
    QLineEdit* m_pOffsetEdit = nullptr;             // 1090
    QCheckBox* m_pFileTypeBoxes[4] = {};            // 3005..3008
    QLineEdit* m_pFolderEdit = nullptr;             // 1093
    QComboBox* m_pPushRateList = nullptr;           // 1094
    QLineEdit* m_pAddressEdits[kRtmpTargets] = {};  // 3016..3018
    QLineEdit* m_pNameEdits[kRtmpTargets] = {};     // 3019..3021
};

}  // namespace console
