#include "platform/ManualResetEvent.h"

#include <chrono>

namespace platform {

void TManualResetEvent::Set() {
    {
        std::lock_guard guard(m_lock);
        m_bSet = true;
    }
    m_changed.notify_all();
}

void TManualResetEvent::Reset() {
    std::lock_guard guard(m_lock);
    m_bSet = false;
}

bool TManualResetEvent::IsSet() const {
    std::lock_guard guard(m_lock);
    return m_bSet;
}

void TManualResetEvent::Wait() {
    std::unique_lock guard(m_lock);
    m_changed.wait(guard, [this] { return m_bSet; });
}

bool TManualResetEvent::WaitFor(int timeout_ms) {
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                              [this] { return m_bSet; });
}

}  // namespace platform
