#include "engine/modules/ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/DebugOutput.h"

namespace pelorn {

void* LoadModule(const std::string& path) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) platform::DebugOutput("AfxLoadLibrary error\n");
    return module;
}

void* ResolveOrdinal(void* module, int ordinal) {
    if (module == nullptr) return nullptr;
    return ::dlsym(module, ("Ordinal" + std::to_string(ordinal)).c_str());
}

void ReleaseModule(void* module, const std::string& path) {
    if (module == nullptr) return;
    ::dlclose(module);
    // Asking without loading: another holder in this process may still use it.
    void* still = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr) {
        ::dlclose(still);
        return;
    }
    ::unlink(path.c_str());
}

}  // namespace pelorn
