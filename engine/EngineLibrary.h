#pragma once

namespace pelorn {

// What loading and unloading the engine library does; the shared library
// calls these from its constructor and destructor.

// Extracts the run-time modules, then checks the machine. A refused machine
// gets the whole error trail in a message box and the library stays refused;
// otherwise the GPU preference is written. Returns false when refused.
bool InitEngineLibrary();
// Deletes the GPU preference that InitEngineLibrary wrote.
void ExitEngineLibrary();

bool EngineLibraryRefused();

// Called by every factory before it makes an engine: false when the machine
// was refused. Module holders delete their files once the modules are
// unloaded, so an engine made after an earlier one was released would find
// none: missing module files are extracted again here.
bool PrepareEngineCreation();

}  // namespace pelorn
