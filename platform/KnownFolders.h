#pragma once

#include <string>

namespace platform {

// Per-user folders. Each follows its XDG variable and falls back to the usual
// place under $HOME. None of them is created here except by EnsureFolder.
std::string LocalAppDataFolder();  // $XDG_DATA_HOME or ~/.local/share
std::string ConfigFolder();        // $XDG_CONFIG_HOME/Quindle or ~/.config/Quindle
std::string LogFolder();           // $XDG_STATE_HOME/Quindle or ~/.local/state/Quindle
std::string RecordingsFolder();    // ~/Videos when it exists, else ~

// Creates the folder and its parents; returns true when it exists afterwards.
bool EnsureFolder(const std::string& path);

}  // namespace platform
