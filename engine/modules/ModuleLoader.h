#pragma once

#include <string>

namespace pelorn {

// Loading of the run-time modules, shared by their holders.

// The module at `path`, or null after writing "AfxLoadLibrary error" to the
// debugger output.
void* LoadModule(const std::string& path);
// The entry point exported as ordinal n (the symbol Ordinal<n>), or null.
void* ResolveOrdinal(void* module, int ordinal);
// Unloads the module and, once it is really gone from the process (no other
// holder keeps it loaded), deletes its file. Nothing for a null module.
void ReleaseModule(void* module, const std::string& path);

}  // namespace pelorn
