#pragma once

#include <cstdint>

namespace console {

// HRESULT-style results of the encoders, the muxer and the recorder.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005);  // E_FAIL
// The encoder needs more input (or has no packet yet).
constexpr int32_t kResultAgain = 1;

}  // namespace console
