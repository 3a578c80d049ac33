#pragma once

#include <cstdint>

namespace pelorn {

// Tells whether somebody reads the virtual camera, from a heartbeat counter
// that the reader increments in shared memory. At most one check every
// kCheckIntervalMs; the state turns to 1 after kChecksInARow checks in a row
// that saw the counter advance, and back to 0 after as many that did not.
//
// Thread: Start, Check and Stop on one thread at a time (the writer's). The
// heartbeat word itself is shared with the reader process.
class ConsumerDetector {
public:
    static constexpr int kCheckIntervalMs = 600;
    static constexpr int kChecksInARow = 3;

    // Points the detector at the heartbeat (4-byte aligned), writes 0 to it
    // and starts from "not in use", with the last check at now.
    void Start(uint32_t* heartbeat);
    // Writes 0 to the heartbeat and lets go of it; the state returns to 0.
    void Stop();

    // Runs the check that is due, if any, and returns the state (0 or 1).
    int32_t Check();
    int32_t State() const { return m_nState; }

private:
    uint32_t ReadHeartbeat() const;
    void WriteHeartbeat(uint32_t value);

    uint32_t* m_pHeartbeat = nullptr;
    uint32_t m_nLastSeen = 0;
    int64_t m_nLastCheck = 0;   // performance-counter ticks
    int64_t m_nTicksPerMs = 1;
    int32_t m_nState = 0;
    int32_t m_nCount = 0;       // checks in a row that point to the other state
};

}  // namespace pelorn
