#include "console/TEngineBinding.h"

#include <dlfcn.h>

#include <type_traits>

#include "platform/ExecutablePath.h"

namespace console {

namespace {

// The factories are C++ functions: their exported names are the mangled
// forms of the declarations in ICapMattEngine.h. A change there changes the
// names, so the signatures are pinned here.
constexpr char kCreateSymbol[] = "_Z29CreateInstance_ICapMattEnginePFlPhPviES0_j";
constexpr char kReleaseSymbol[] = "_Z30ReleaseInstance_ICapMattEnginePP14ICapMattEngine";
static_assert(std::is_same_v<decltype(&CreateInstance_ICapMattEngine),
                             ICapMattEngine* (*)(FrameCallback, void*, unsigned int)>);
static_assert(std::is_same_v<decltype(&ReleaseInstance_ICapMattEngine), void (*)(ICapMattEngine**)>);

std::string LastDlError() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown dynamic-loader error";
}

}  // namespace

TEngineBinding::TEngineBinding(const std::string& libraryPath) {
    m_hLibrary = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hLibrary == nullptr) {
        m_strError = LastDlError();
        return;
    }
    m_pCreate = reinterpret_cast<CreateFunction>(dlsym(m_hLibrary, kCreateSymbol));
    m_pRelease = reinterpret_cast<ReleaseFunction>(dlsym(m_hLibrary, kReleaseSymbol));
    if (!IsLoaded()) m_strError = LastDlError();
}

TEngineBinding::~TEngineBinding() {
    if (m_hLibrary != nullptr) dlclose(m_hLibrary);
}

std::string TEngineBinding::LibraryBesideProgram() {
    return platform::ExecutableFolder() + "/" + kLibraryName;
}

ICapMattEngine* TEngineBinding::Create(FrameCallback callback, void* user, unsigned int flags) {
    return IsLoaded() ? m_pCreate(callback, user, flags) : nullptr;
}

void TEngineBinding::Release(ICapMattEngine** engine) {
    if (engine == nullptr || *engine == nullptr) return;
    if (IsLoaded()) m_pRelease(engine);
}

}  // namespace console
