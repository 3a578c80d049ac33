#include "console/CRoriDaziZevoApp.h"

#include <cstdio>

#include "console/DispatchEvent.h"
#include "console/StartProgress.h"
#include "console/TEngineBinding.h"
#include "console/TSingleInstance.h"
#include "console/services/PackageLauncher.h"
#include "platform/ExecutablePath.h"

namespace console {

namespace {

constexpr char kAlreadyRunning[] = "Quindle控制面板已经启动";

}  // namespace

CRoriDaziZevoApp::CRoriDaziZevoApp(IPrompts& prompts, TOptions options)
    : m_prompts(prompts), m_options(std::move(options)) {
    if (!m_options.makeBinding) {
        m_options.makeBinding = [] {
            auto binding = std::make_unique<TEngineBinding>(TEngineBinding::LibraryBesideProgram());
            if (!binding->IsLoaded()) std::fprintf(stderr, "Corvane: %s\n", binding->LoadError().c_str());
            return binding;
        };
    }
}

CRoriDaziZevoApp::~CRoriDaziZevoApp() {
    // The dialog releases its engine before the binding unloads the library.
    m_pDialog.reset();
    m_pBinding.reset();
}

int CRoriDaziZevoApp::InitInstance() {
    m_pInstance = std::make_unique<TSingleInstance>(
        m_options.instanceFolder.empty() ? TSingleInstance::DefaultFolder() : m_options.instanceFolder);
    if (!m_pInstance->Acquire()) {
        m_prompts.ShowBox(kAlreadyRunning);
        m_pInstance->Notify(kSecondInstance, 0);
        return 0;
    }
    m_pProgress = std::make_unique<StartProgress>();
    m_pProgress->show();
    m_pProgress->SetPos(10);
    RemoveUpgradeLeftovers(platform::ExecutableFolder());
    if (upgradeCheck && upgradeCheck() == 1) return 0;
    if (m_pProgress->isVisible()) m_pProgress->SetPos(10);
    m_pBinding = m_options.makeBinding();
    m_pDialog = std::make_unique<CRoriDaziZevoDlg>(m_pProgress.get(), *m_pBinding, m_prompts, m_options.dialog);
    if (auto* qtPrompts = dynamic_cast<TQtPrompts*>(&m_prompts.Inner())) qtPrompts->SetOwner(m_pDialog.get());
    const bool listening = m_pInstance->Listen([this](int code, int64_t argument) {
        if (m_pDialog) PostDispatch(m_pDialog.get(), code, argument);
    });
    // The console runs on; only a later start cannot reach it.
    if (!listening) std::fprintf(stderr, "Corvane: cannot listen on %s\n", m_pInstance->SocketPath().c_str());
    m_pDialog->DoModal();
    return 0;
}

}  // namespace console
