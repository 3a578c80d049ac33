#pragma once

#include <signal.h>

#include <atomic>

namespace tools {

// Set by SIGINT and SIGTERM once InstallStopSignals() has run; the runners'
// loops poll it and end cleanly.
inline std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

inline void RequestStop(int) { g_stopRequested.store(true); }

inline void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = &RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tools
