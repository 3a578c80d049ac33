#include "platform/KnownFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {
namespace {

std::string Home() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? home : "/tmp";
}

std::string XdgFolder(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value == '/') return value;
    return Home() + "/" + fallbackUnderHome;
}

}  // namespace

std::string LocalAppDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config") + "/Quindle"; }

std::string LogFolder() { return XdgFolder("XDG_STATE_HOME", ".local/state") + "/Quindle"; }

std::string RecordingsFolder() {
    const std::string videos = Home() + "/Videos";
    std::error_code error;
    return std::filesystem::is_directory(videos, error) ? videos : Home();
}

bool EnsureFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

}  // namespace platform
