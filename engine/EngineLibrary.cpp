#include "engine/EngineLibrary.h"

#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <string>

#include "common/ErrorTrail.h"
#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/EnvironmentCheck.h"
#include "engine/modules/GpuPreference.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "platform/MessageBox.h"

namespace pelorn {
namespace {

// Runs before the library's other static initialisers: only function-local
// statics and constant-initialised state may be used from here.
std::atomic<bool> g_bRefused{false};
std::atomic<bool> g_bPreferenceWritten{false};

std::mutex& ExtractionLock() {
    static std::mutex lock;
    return lock;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool ModuleFilesPresent() {
    const std::string folder = ModuleFolder();
    return FileExists(folder + "/" + BrenvikDLL::kFileName) &&
           FileExists(folder + "/" + IIMPlugIn::kFileName);
}

}  // namespace

bool InitEngineLibrary() {
    common::ErrorTrail::Open();
    {
        std::lock_guard guard(ExtractionLock());
        ModuleExtractor::ExtractInstalled();
    }
    if (!CheckEnvironment()) {
        platform::ShowMessageBox(common::ErrorTrail::Take());
        g_bRefused = true;
        return false;
    }
    g_bRefused = false;
    WriteGpuPreference();
    g_bPreferenceWritten = true;
    return true;
}

void ExitEngineLibrary() {
    // A refused library wrote nothing, and must not delete the value of
    // another host of the same program.
    if (g_bPreferenceWritten.exchange(false)) DeleteGpuPreference();
}

bool EngineLibraryRefused() { return g_bRefused; }

bool PrepareEngineCreation() {
    if (g_bRefused) return false;
    std::lock_guard guard(ExtractionLock());
    if (!ModuleFilesPresent()) ModuleExtractor::ExtractInstalled();
    return true;
}

}  // namespace pelorn
