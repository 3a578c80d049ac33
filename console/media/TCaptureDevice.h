#pragma once

#include <string>

namespace console {

// A capture device as offered to the user.
struct TCaptureDevice {
    std::string friendlyName;  // what the user reads and what is stored
    std::string altName;       // what the captor opens: a node path, a source name
};

}  // namespace console
