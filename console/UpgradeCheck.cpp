#include "console/UpgradeCheck.h"

namespace console {

namespace {

constexpr int kPackageIndex = 1;

}  // namespace

int RunUpgradeCheck(const std::filesystem::path& exeDir, const std::function<bool(const QString&)>& askYesNo,
                    const std::function<void(const QString&)>& showBox, const TUpgradeCheckOptions& options) {
    auto service = TUpgradeService::FromSettings(options.service);
    if (!service) return 0;
    switch (DecideUpgrade(service->QueryInfo())) {
    case TUpgradeDecision::None:
        return 0;
    case TUpgradeDecision::Ask:
        if (!askYesNo || !askYesNo(QString::fromUtf8("发现新版本，是否升级？"))) return 0;
        break;
    case TUpgradeDecision::Force:
        break;
    }
    UpvaneDlg dialog(std::move(*service), kPackageIndex, exeDir, showBox, options.dialog);
    dialog.exec();
    return 1;
}

}  // namespace console
