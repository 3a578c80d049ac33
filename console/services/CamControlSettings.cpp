#include "console/services/CamControlSettings.h"

#include <string>

#include "platform/Registry.h"

namespace console {
namespace {

constexpr const char* kBlockANames[kCamBlockA] = {"Brightness", "Contrast", "Hue", "Saturation",
                                                   "Sharpness", "Gamma", "ColorEnable", "WhiteBalance",
                                                   "BacklightCompensation", "Gain"};
constexpr const char* kBlockBNames[kCamBlockB] = {"Pan", "Tilt", "Roll", "Zoom", "Exposure", "Iris", "Focus"};

std::string CamControlKey(std::string_view cameraName) {
    return "SOFTWARE\\Quindle\\Server\\CamControl\\" + std::string(cameraName);
}

void ReadBlock(const platform::TRegKey& key, const char* const* names, int count, TCamControlValue* block) {
    for (int i = 0; i < count; ++i) {
        uint32_t stored = 0;
        if (key.QueryDword(names[i], &stored) == platform::kRegOk) block[i].value = static_cast<int32_t>(stored);
        if (key.QueryDword(std::string(names[i]) + "_flag", &stored) == platform::kRegOk)
            block[i].flags = static_cast<int32_t>(stored);
    }
}

bool WriteBlock(const platform::TRegKey& key, const char* const* names, int count, const TCamControlValue* block) {
    bool written = true;
    for (int i = 0; i < count; ++i) {
        written = key.SetDword(names[i], static_cast<uint32_t>(block[i].value)) == platform::kRegOk && written;
        written = key.SetDword(std::string(names[i]) + "_flag", static_cast<uint32_t>(block[i].flags)) ==
                      platform::kRegOk &&
                  written;
    }
    return written;
}

}  // namespace

int ReadCamControl(TCamControlValue* blockA, TCamControlValue* blockB, std::string_view cameraName) {
    platform::TRegKey key;
    if (key.Open(platform::RegHive::LocalMachine, CamControlKey(cameraName), platform::RegAccess::Read) !=
        platform::kRegOk)
        return 0;
    ReadBlock(key, kBlockANames, kCamBlockA, blockA);
    ReadBlock(key, kBlockBNames, kCamBlockB, blockB);
    return 1;
}

int WriteCamControl(const TCamControlValue* blockA, const TCamControlValue* blockB, std::string_view cameraName) {
    platform::TRegKey key;
    if (key.Create(platform::RegHive::LocalMachine, CamControlKey(cameraName), platform::RegAccess::Write) !=
        platform::kRegOk)
        return 0;
    const bool blockAWritten = WriteBlock(key, kBlockANames, kCamBlockA, blockA);
    const bool blockBWritten = WriteBlock(key, kBlockBNames, kCamBlockB, blockB);
    return blockAWritten && blockBWritten ? 1 : 0;
}

}  // namespace console
