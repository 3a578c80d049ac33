#pragma once

namespace platform {

// Lowers the calling thread's scheduling priority by `steps` nice levels
// (never raises it). Threads it starts afterwards inherit the lower
// priority. False when the system refused.
bool LowerCallingThreadPriority(int steps);

}  // namespace platform
