#pragma once

#include <string>

#include "platform/SharedMemory.h"

namespace platform {

// A manual-reset event that other processes open by name. It lives in a small
// shared-memory object "/" + name holding the flag and a process-shared mutex
// and condition variable. The mutex is robust, so a process that dies while
// holding it does not wedge the others.
class TNamedEvent {
public:
    using Access = TSharedMemory::Access;

    TNamedEvent() = default;
    ~TNamedEvent() = default;
    TNamedEvent(const TNamedEvent&) = delete;
    TNamedEvent& operator=(const TNamedEvent&) = delete;

    // Returns 0 on success or an errno value. Creating leaves the event not
    // set, also when a stale object of that name is taken over.
    int Open(const std::string& name, Access access);
    void Close() { m_mapping.Close(); }
    bool IsOpen() const { return m_mapping.IsOpen(); }

    void Set();
    void Reset();
    bool IsSet();
    // Returns true when the event was set within the time-out.
    bool WaitFor(int timeout_ms);

private:
    struct TState;
    TState* State() const { return static_cast<TState*>(m_mapping.Data()); }

    TSharedMemory m_mapping;
};

}  // namespace platform
