#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/cli/TCliOptions.h"

namespace corvane::cli {

// Where a setting of the run came from.
enum class ESettingOrigin { kFlag, kStore, kDefault };

template <typename T>
struct TSetting {
    T value{};
    ESettingOrigin origin = ESettingOrigin::kDefault;
};

// The settings of one run, as the console would read them from its store,
// with the command line's overrides. Reading never writes the store.
struct TCliSettings {
    // Client: the engine's open parameters.
    TSetting<int> width, height, frameRate, pixelFormat;
    // Record: the file recorder.
    TSetting<int> alignMs, bitrateIndex, gop;
    TSetting<uint32_t> types;
    TSetting<std::string> recordDir;  // empty: the recordings folder
    // RTMP: the live recorder (alignment and GOP as above).
    TSetting<int> pushBitrateIndex;
    std::array<TSetting<std::string>, 3> pushes;  // empty ones are skipped
    // InputMain AudioDevName, or what --audio, --no-audio or --feed chose.
    TSetting<std::string> audioInput;
    TSetting<int> templateSlot;

    bool AnyPush() const;
};

TCliSettings ResolveSettings(const TCliOptions& options);
// One line per setting: "Key\Value = value (flag|store|default)".
void PrintSettings(const TCliSettings& settings, std::FILE* out);

}  // namespace corvane::cli
