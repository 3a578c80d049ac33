#pragma once

#include <string>

namespace pelorn {

// "Raxev" under the local application-data folder: where the run-time
// modules are extracted to and loaded from, and where the colour-table cache
// lives.
std::string ModuleFolder();

}  // namespace pelorn
