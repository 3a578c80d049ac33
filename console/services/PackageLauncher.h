#pragma once

#include <filesystem>

namespace console {

// The downloaded package and the upgrader's own copy, both beside the console.
inline constexpr char kPackageFileName[] = "QndlSetup.exe";
inline constexpr char kUpgraderFileName[] = "Upvane.exe";

// Removes what an earlier upgrade left in the executable's folder: the
// package, a partial download of it and the upgrader. Missing files are fine.
void RemoveUpgradeLeftovers(const std::filesystem::path& exeDir);

// Makes the package executable by its owner only (0700) and starts it as
// `$SHELL -c 'exec "$1"' sh PACKAGE` (/bin/sh when SHELL is unset or not an
// absolute path) in a session of its own, not waited for. The path travels as
// an argument and is never part of the command text. True when the shell was
// started.
bool StartPackage(const std::filesystem::path& package);

}  // namespace console
