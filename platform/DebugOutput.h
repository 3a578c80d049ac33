#pragma once

#include <string_view>

namespace platform {

// Debugger output: goes to standard error only while QUINDLE_DEBUG is set in
// the environment, otherwise it is dropped.
void DebugOutput(std::string_view text);

bool DebugOutputEnabled();

}  // namespace platform
