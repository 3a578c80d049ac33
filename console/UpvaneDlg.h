#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "console/services/Download.h"
#include "console/services/UpgradeService.h"

class QProgressBar;

namespace console {

// The upgrade download (dialog 146): asks the service for the package record,
// downloads the package beside the console with the progress in bar 3004
// (0..1000) and starts it. The work runs on a worker thread started when the
// dialog is first shown; the worker only hands progress and its outcome to the
// UI thread. The dialog always ends with code 2.
class UpvaneDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kEndCode = 2;
    static constexpr int kBarRange = 1000;

    using TShowBox = std::function<void(const QString&)>;
    using TStartPackage = std::function<bool(const std::filesystem::path&)>;

    struct TOptions {
        TDownloadOptions download;
        // Empty: StartPackage.
        TStartPackage startPackage;
    };

    // showBox shows a modal message box on the UI thread.
    UpvaneDlg(TUpgradeService service, int packageIndex, std::filesystem::path exeDir,
              TShowBox showBox, TOptions options = {}, QWidget* parent = nullptr);
    ~UpvaneDlg() override;

    // Cancel, Esc and the close box: the download is cancelled, the dialog ends.
    void reject() override;

    // Bar position for `done` of `total` bytes on top of `base` (fraction done
    // before the download); an unknown total (0) holds the base.
    static int BarPosition(uint64_t done, uint64_t total, double base);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TOutcome {
        QString strMessage;  // empty: nothing to show
    };

    void RunWorker();
    TOutcome Upgrade();
    void PostBar(int position);
    void Finish(const TOutcome& outcome);
    static int OnProgress(uint64_t total, uint64_t done, void* user);

    TUpgradeService m_service;
    const int m_nPackageIndex;
    const std::filesystem::path m_exeDir;
    TShowBox m_fnShowBox;
    TOptions m_options;
    QProgressBar* m_pBar = nullptr;
    std::atomic<bool> m_bCancel{false};
    std::thread m_worker;
    // Worker-only: the fraction done before the download, the first total
    // seen and the last bar position sent.
    double m_dBase = 0.0;
    uint64_t m_nTotal = 0;
    int m_nLastPos = -1;
};

}  // namespace console
