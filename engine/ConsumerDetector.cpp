#include "engine/ConsumerDetector.h"

#include <atomic>

#include "platform/PerfCounter.h"

namespace pelorn {

using platform::PerfCounter;

static_assert(std::atomic_ref<uint32_t>::required_alignment == alignof(uint32_t));

// The heartbeat is a lone counter: nothing else is published through it, so
// relaxed accesses suffice; they are atomic only because the reader
// increments the same word concurrently.
uint32_t ConsumerDetector::ReadHeartbeat() const {
    return std::atomic_ref<uint32_t>(*m_pHeartbeat).load(std::memory_order_relaxed);
}

void ConsumerDetector::WriteHeartbeat(uint32_t value) {
    std::atomic_ref<uint32_t>(*m_pHeartbeat).store(value, std::memory_order_relaxed);
}

void ConsumerDetector::Start(uint32_t* heartbeat) {
    m_pHeartbeat = heartbeat;
    m_nTicksPerMs = PerfCounter::Frequency() / 1000;
    WriteHeartbeat(0);
    m_nLastSeen = 0;
    m_nState = 0;
    m_nCount = 0;
    m_nLastCheck = PerfCounter::Now();
}

void ConsumerDetector::Stop() {
    if (m_pHeartbeat != nullptr) WriteHeartbeat(0);
    m_pHeartbeat = nullptr;
    m_nState = 0;
    m_nCount = 0;
}

int32_t ConsumerDetector::Check() {
    if (m_pHeartbeat == nullptr) return m_nState;
    const int64_t now = PerfCounter::Now();
    if ((now - m_nLastCheck) / m_nTicksPerMs < kCheckIntervalMs) return m_nState;

    const uint32_t seen = ReadHeartbeat();
    const bool advanced = seen > m_nLastSeen;
    // A check that agrees with the current state breaks any run of checks
    // pointing the other way.
    const bool agrees = advanced == (m_nState == 1);
    if (agrees) {
        m_nCount = 0;
    } else if (++m_nCount == kChecksInARow) {
        m_nState = 1 - m_nState;
        m_nCount = 0;
    }
    m_nLastCheck = now;
    m_nLastSeen = seen;
    return m_nState;
}

}  // namespace pelorn
