#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// In-process manual-reset event: once set it stays set, waking every waiter,
// until Reset. Used for the wake and done events of the worker threads.
class TManualResetEvent {
public:
    explicit TManualResetEvent(bool initiallySet = false) : m_bSet(initiallySet) {}
    TManualResetEvent(const TManualResetEvent&) = delete;
    TManualResetEvent& operator=(const TManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    void Wait();
    // Returns true when the event was set within the time-out.
    bool WaitFor(int timeout_ms);

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bSet;
};

}  // namespace platform
