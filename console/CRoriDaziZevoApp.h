#pragma once

#include <functional>
#include <memory>
#include <string>

#include "console/CRoriDaziZevoDlg.h"
#include "console/TPrompts.h"

namespace console {

class IEngineBinding;
class StartProgress;
class TSingleInstance;

// The application object: one console per session, the start-up progress
// window, the upgrade offer, then the main dialog until it ends.
class CRoriDaziZevoApp {
public:
    struct TOptions {
        TDlgOptions dialog;
        std::string instanceFolder;  // TSingleInstance's default when empty
        // Makes the engine binding once the single-instance check has passed.
        std::function<std::unique_ptr<IEngineBinding>()> makeBinding;
    };

    CRoriDaziZevoApp(IPrompts& prompts, TOptions options);
    ~CRoriDaziZevoApp();

    // Offers a pending upgrade; 1 ends the process before the main dialog.
    // The program sets the real offer (RunUpgradeCheck); tests leave none.
    std::function<int()> upgradeCheck = [] { return 0; };

    // The whole run; returns the process's exit status.
    int InitInstance();

    TTrackedPrompts& Prompts() { return m_prompts; }
    CRoriDaziZevoDlg* MainDialog() const { return m_pDialog.get(); }

private:
    TTrackedPrompts m_prompts;
    TOptions m_options;
    std::unique_ptr<TSingleInstance> m_pInstance;
    std::unique_ptr<StartProgress> m_pProgress;
    std::unique_ptr<IEngineBinding> m_pBinding;
    std::unique_ptr<CRoriDaziZevoDlg> m_pDialog;
};

}  // namespace console
