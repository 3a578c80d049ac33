#include "platform/DebugOutput.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

bool DebugOutputEnabled() { return std::getenv("QUINDLE_DEBUG") != nullptr; }

void DebugOutput(std::string_view text) {
    if (!DebugOutputEnabled()) return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace platform
