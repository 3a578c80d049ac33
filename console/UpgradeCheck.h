#pragma once

#include <QString>

#include <filesystem>
#include <functional>

#include "console/UpvaneDlg.h"
#include "console/services/UpgradeService.h"

namespace console {

struct TUpgradeCheckOptions {
    TUpgradeServiceOptions service;
    UpvaneDlg::TOptions dialog;
};

// The start-up upgrade offer. Asks the service named by `UpgradeUrl` (none:
// no request) for its UpgradeInfo; a version that may no longer run upgrades
// without asking, a newer one asks "发现新版本，是否升级？" through askYesNo
// (true: Yes). An upgrade runs UpvaneDlg modally for package 1 with exeDir as
// the package's folder and showBox for its messages. Returns 1 when the
// upgrade dialog ran and the process should end, 0 to go on starting.
int RunUpgradeCheck(const std::filesystem::path& exeDir, const std::function<bool(const QString&)>& askYesNo,
                    const std::function<void(const QString&)>& showBox,
                    const TUpgradeCheckOptions& options = {});

}  // namespace console
