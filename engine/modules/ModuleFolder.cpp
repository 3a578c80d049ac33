#include "engine/modules/ModuleFolder.h"

#include "platform/KnownFolders.h"

namespace pelorn {

std::string ModuleFolder() { return platform::LocalAppDataFolder() + "/Raxev"; }

}  // namespace pelorn
