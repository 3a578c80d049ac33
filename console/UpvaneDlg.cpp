#include "console/UpvaneDlg.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "console/services/PackageLauncher.h"
namespace console {

namespace {

constexpr double kPreparedFraction = 0.1;
constexpr double kDownloadFraction = 0.9;

}  // namespace

UpvaneDlg::UpvaneDlg(TUpgradeService service, int packageIndex, std::filesystem::path exeDir,
                     TShowBox showBox, TOptions options, QWidget* parent)
    : QDialog(parent),
      m_service(std::move(service)),
      m_nPackageIndex(packageIndex),
      m_exeDir(std::move(exeDir)),
      m_fnShowBox(std::move(showBox)),
      m_options(std::move(options)) {
    setObjectName("146");
    setWindowTitle(QString::fromUtf8("下载升级包"));
    m_pBar = new QProgressBar(this);
    m_pBar->setObjectName("3004");
    m_pBar->setRange(0, kBarRange);
    m_pBar->setValue(0);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("2");
    connect(cancel, &QPushButton::clicked, this, &UpvaneDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pBar);
    layout->addWidget(cancel, 0, Qt::AlignRight);
    if (!m_options.startPackage) m_options.startPackage = &StartPackage;
}

UpvaneDlg::~UpvaneDlg() {
    m_bCancel = true;
    if (m_worker.joinable()) m_worker.join();
}

int UpvaneDlg::BarPosition(uint64_t done, uint64_t total, double base) {
    const double fraction = total > 0 ? static_cast<double>(done) * kDownloadFraction / total + base : base;
    return std::min(static_cast<int>(fraction * kBarRange), kBarRange);
}

void UpvaneDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_worker.joinable() && m_nPackageIndex > 0 && !m_bCancel)
        m_worker = std::thread(&UpvaneDlg::RunWorker, this);
}

void UpvaneDlg::reject() {
    m_bCancel = true;
    done(kEndCode);
}

void UpvaneDlg::RunWorker() {
    const TOutcome outcome = Upgrade();
    QMetaObject::invokeMethod(this, [this, outcome] { Finish(outcome); }, Qt::QueuedConnection);
}

UpvaneDlg::TOutcome UpvaneDlg::Upgrade() {
    m_dBase = 0.0;
    PostBar(0);
    const auto record = m_service.QueryPackage(static_cast<uint32_t>(m_nPackageIndex), &m_bCancel);
    const auto url = record ? PackageUrl(*record) : std::nullopt;
    if (!url) return {QString::fromUtf8("通讯链路故障, 升级失败")};
    m_dBase += kPreparedFraction;
    PostBar(BarPosition(0, 0, m_dBase));

    const std::filesystem::path package = m_exeDir / kPackageFileName;
    if (!Download({&UpvaneDlg::OnProgress, this}, *url, package, m_options.download))
        return {QString::fromUtf8("下载失败\n") + QString::fromStdString(package.string())};
    PostBar(kBarRange);
    m_options.startPackage(package);
    return {};
}

int UpvaneDlg::OnProgress(uint64_t total, uint64_t done, void* user) {
    auto* dialog = static_cast<UpvaneDlg*>(user);
    if (dialog->m_nTotal == 0) dialog->m_nTotal = total;
    dialog->PostBar(BarPosition(done, dialog->m_nTotal, dialog->m_dBase));
    return dialog->m_bCancel ? 1 : 0;
}

// Sends only changes: the UI thread gets at most one event per bar step.
void UpvaneDlg::PostBar(int position) {
    if (position == m_nLastPos) return;
    m_nLastPos = position;
    QMetaObject::invokeMethod(m_pBar, [bar = m_pBar, position] { bar->setValue(position); },
                              Qt::QueuedConnection);
}

void UpvaneDlg::Finish(const TOutcome& outcome) {
    if (m_bCancel) return;  // ended by the user already
    if (!outcome.strMessage.isEmpty() && m_fnShowBox) m_fnShowBox(outcome.strMessage);
    done(kEndCode);
}

}  // namespace console
