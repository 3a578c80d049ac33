#pragma once

#include <string>

namespace platform {

// Full path of the running program's executable (the process's main module),
// empty when it cannot be read.
std::string ExecutablePath();
// Its folder: the path up to the last "/", empty when there is none.
std::string ExecutableFolder();

}  // namespace platform
