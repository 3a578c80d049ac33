#include "platform/GraphicsAdapters.h"

#include <filesystem>
#include <fstream>

namespace platform {

bool HasIntelDrmDevice(const std::string& drmRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(drmRoot, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("card", 0) != 0) continue;
        std::ifstream vendor(entry.path() / "device" / "vendor");
        std::string text;
        if (vendor >> text && text == "0x8086") return true;
    }
    return false;
}

}  // namespace platform
