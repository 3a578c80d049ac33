#include "tools/cli/TCliSettings.h"

#include <optional>
#include <string_view>

#include "common/Utf.h"
#include "console/services/SettingsStore.h"

namespace corvane::cli {
namespace {

// The flag's value when one was given, else the stored (or default) value.
template <typename T, typename U>
TSetting<T> Pick(const std::optional<U>& flag, T fromStore, std::string_view valueName,
                 std::string_view subkey) {
    if (flag) return {static_cast<T>(*flag), ESettingOrigin::kFlag};
    return {fromStore, console::IsStored(valueName, subkey) ? ESettingOrigin::kStore : ESettingOrigin::kDefault};
}

TSetting<std::string> StoredString(std::string_view valueName, std::string_view subkey) {
    char16_t buffer[console::kRtmpAddrUnits] = {};
    if (console::ReadString(buffer, sizeof buffer, valueName, subkey) != 1) return {};
    return {common::Utf16ToUtf8(buffer), ESettingOrigin::kStore};
}

void ResolvePushes(const TCliOptions& options, TCliSettings& settings) {
    if (!options.pushes.empty()) {
        for (size_t i = 0; i < settings.pushes.size(); ++i)
            settings.pushes[i] = {i < options.pushes.size() ? options.pushes[i] : "", ESettingOrigin::kFlag};
        return;
    }
    int16_t byteRate = 0;
    char16_t addresses[console::kRtmpTargets][console::kRtmpAddrUnits];
    console::ReadRtmp(&byteRate, addresses, nullptr);
    for (size_t i = 0; i < settings.pushes.size(); ++i) {
        settings.pushes[i].value = common::Utf16ToUtf8(addresses[i]);
        if (!settings.pushes[i].value.empty()) settings.pushes[i].origin = ESettingOrigin::kStore;
    }
}

TSetting<std::string> ResolveAudio(const TCliOptions& options) {
    switch (options.audio) {
        case EAudioSource::kDevice: return {options.audioDevice, ESettingOrigin::kFlag};
        case EAudioSource::kFile: return {"(the file's audio)", ESettingOrigin::kFlag};
        case EAudioSource::kTone: return {"(a 1 kHz tone)", ESettingOrigin::kFlag};
        case EAudioSource::kNone: return {"", ESettingOrigin::kFlag};
        case EAudioSource::kStored: break;
    }
    return StoredString("AudioDevName", "InputMain");
}

const char* OriginName(ESettingOrigin origin) {
    switch (origin) {
        case ESettingOrigin::kFlag: return "flag";
        case ESettingOrigin::kStore: return "store";
        case ESettingOrigin::kDefault: return "default";
    }
    return "?";
}

template <typename T>
void PrintOne(std::FILE* out, const char* name, const TSetting<T>& setting) {
    if constexpr (std::is_same_v<T, std::string>) {
        std::fprintf(out, "%s = %s (%s)\n", name, setting.value.empty() ? "(none)" : setting.value.c_str(),
                     OriginName(setting.origin));
    } else {
        std::fprintf(out, "%s = %lld (%s)\n", name, static_cast<long long>(setting.value),
                     OriginName(setting.origin));
    }
}

}  // namespace

bool TCliSettings::AnyPush() const {
    for (const auto& push : pushes)
        if (!push.value.empty()) return true;
    return false;
}

TCliSettings ResolveSettings(const TCliOptions& options) {
    TCliSettings settings;
    int16_t width, height, fps, pixelFormat;
    console::ReadClient(&width, &height, &fps, &pixelFormat);
    settings.width = Pick(options.width, int{width}, "Width", "Client");
    settings.height = Pick(options.height, int{height}, "Height", "Client");
    settings.frameRate = Pick(options.frameRate, int{fps}, "FPS", "Client");
    settings.pixelFormat = Pick(options.pixelFormat, int{pixelFormat}, "Pixelfmt", "Client");

    int16_t align, bytesRate, gop;
    uint16_t fileExt;
    console::ReadRecord(&align, &bytesRate, &gop, &fileExt);
    settings.alignMs = Pick(options.alignMs, int{align}, "VAAlign", "Record");
    settings.bitrateIndex = Pick(options.bitrateIndex, int{bytesRate}, "BytesRate", "Record");
    settings.gop = Pick(options.gop, int{gop}, "GOP", "Record");
    settings.types = Pick(options.types, uint32_t{fileExt}, "FileExt", "Record");
    settings.recordDir = options.recordDir ? TSetting<std::string>{*options.recordDir, ESettingOrigin::kFlag}
                                           : StoredString("RecordPath", "Record");

    int16_t byteRate = 0;
    console::ReadRtmp(&byteRate, nullptr, nullptr);
    settings.pushBitrateIndex = Pick(options.pushBitrateIndex, int{byteRate}, "ByteRate", "RTMP");
    ResolvePushes(options, settings);
    settings.audioInput = ResolveAudio(options);
    settings.templateSlot = {options.templateSlot,
                             options.templateSlot != 0 ? ESettingOrigin::kFlag : ESettingOrigin::kDefault};
    return settings;
}

void PrintSettings(const TCliSettings& settings, std::FILE* out) {
    PrintOne(out, "Client\\Width", settings.width);
    PrintOne(out, "Client\\Height", settings.height);
    PrintOne(out, "Client\\FPS", settings.frameRate);
    PrintOne(out, "Client\\Pixelfmt", settings.pixelFormat);
    PrintOne(out, "Record\\VAAlign", settings.alignMs);
    PrintOne(out, "Record\\BytesRate", settings.bitrateIndex);
    PrintOne(out, "Record\\GOP", settings.gop);
    PrintOne(out, "Record\\FileExt", settings.types);
    PrintOne(out, "Record\\RecordPath", settings.recordDir);
    PrintOne(out, "RTMP\\ByteRate", settings.pushBitrateIndex);
    for (size_t i = 0; i < settings.pushes.size(); ++i) {
        const std::string name = "RTMP\\Addr" + std::to_string(i + 1);
        PrintOne(out, name.c_str(), settings.pushes[i]);
    }
    PrintOne(out, "InputMain\\AudioDevName", settings.audioInput);
    PrintOne(out, "template", settings.templateSlot);
}

}  // namespace corvane::cli
