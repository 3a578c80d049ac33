#include "platform/DrmAdapters.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_rootLock;
std::string g_strRoot;

std::string SysfsRoot() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    return g_strRoot.empty() ? std::string("/sys") : g_strRoot;
}

// "card0" and the like; connectors ("card0-HDMI-A-1") are no adapters.
int CardNumber(const std::string& name) {
    if (name.size() <= 4 || name.compare(0, 4, "card") != 0) return -1;
    if (!std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::atoi(name.c_str() + 4);
}

}  // namespace

std::vector<uint16_t> DrmAdapterVendors() {
    namespace fs = std::filesystem;
    std::vector<std::pair<int, uint16_t>> cards;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(SysfsRoot() + "/class/drm", error)) {
        const int number = CardNumber(entry.path().filename().string());
        if (number < 0) continue;
        std::ifstream file(entry.path() / "device" / "vendor");
        std::string text;
        if (!(file >> text)) continue;
        char* end = nullptr;
        const unsigned long vendor = std::strtoul(text.c_str(), &end, 16);
        if (end == text.c_str() || vendor > 0xFFFF) continue;
        cards.emplace_back(number, static_cast<uint16_t>(vendor));
    }
    std::sort(cards.begin(), cards.end());
    std::vector<uint16_t> vendors;
    for (const auto& card : cards) vendors.push_back(card.second);
    return vendors;
}

void SetDrmSysfsRoot(const std::string& root) {
    std::lock_guard<std::mutex> guard(g_rootLock);
    g_strRoot = root;
}

}  // namespace platform
