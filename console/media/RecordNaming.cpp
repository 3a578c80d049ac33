#include "console/media/RecordNaming.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/KnownFolders.h"

namespace console {

namespace {

constexpr std::array<int32_t, 6> kRecordKbit = {800, 1000, 2000, 5000, 8000, 15000};
constexpr std::array<int32_t, 6> kPushKbit = {500, 800, 1000, 2000, 5000, 8000};

int32_t ToBitRate(const std::array<int32_t, 6>& table, int index) {
    const int32_t kbit = table[std::clamp(index, 0, static_cast<int>(table.size()) - 1)];
    return kbit * 1024 / 1000 * 1024;
}

}  // namespace

int32_t RecordBitRate(int index) { return ToBitRate(kRecordKbit, index); }
int32_t PushBitRate(int index) { return ToBitRate(kPushKbit, index); }

std::vector<std::string> RecordFileNames(const std::string& folder, uint32_t fileExt,
                                         std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stem[64];
    std::snprintf(stem, sizeof stem, "/TRec_%d.%d.%d.%d.%d.%d_", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const std::string base = (folder.empty() ? platform::RecordingsFolder() : folder) + stem;
    static constexpr std::pair<uint32_t, const char*> kExtensions[] = {
        {kFileExtMp4, ".mp4"}, {kFileExtTs, ".ts"}, {kFileExtFlv, ".flv"}, {kFileExtMkv, ".mkv"}};
    std::vector<std::string> names;
    for (const auto& [bit, extension] : kExtensions)
        if (fileExt & bit) names.push_back(base + extension);
    return names;
}

}  // namespace console
