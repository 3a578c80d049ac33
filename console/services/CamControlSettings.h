#pragma once

#include <cstdint>
#include <string_view>

namespace console {

// Camera-control flags of a saved value.
constexpr int32_t kCamFlagAuto = 1;
constexpr int32_t kCamFlagManual = 2;

// One saved control: its value and kCamFlagAuto or kCamFlagManual; flags 0
// is a record that holds nothing.
struct TCamControlValue {
    int32_t value = 0;
    int32_t flags = 0;
};

// Block A: the picture controls Brightness .. Gain; block B: the camera
// controls Pan .. Focus.
constexpr int kCamBlockA = 10;
constexpr int kCamBlockB = 7;

// The saved set under "Server\CamControl\<cameraName>": 1 when the key
// exists; values that are missing leave their record as it was.
int ReadCamControl(TCamControlValue* blockA, TCamControlValue* blockB, std::string_view cameraName);
// Writes both blocks, creating the key; 1 when every value was written.
int WriteCamControl(const TCamControlValue* blockA, const TCamControlValue* blockB, std::string_view cameraName);

}  // namespace console
