#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/media/TMuxer.h"

namespace console {

// Reopens a recorder's failed network outputs on a thread of its own, so
// that neither the worker nor any other output waits for a server: 2, 4, 8
// and 16 s after the failure and then every 16 s, for at most 2 minutes.
// The worker reports failures and takes reopened outputs without blocking.
class TPushReconnector {
public:
    // Adds the streams to a freshly opened muxer and writes its header; 0 on success.
    using Prepare = std::function<int(TMuxer&)>;

    static constexpr int64_t kGiveUpUs = 120 * int64_t{1000000};

    explicit TPushReconnector(Prepare prepare);
    ~TPushReconnector();
    TPushReconnector(const TPushReconnector&) = delete;
    TPushReconnector& operator=(const TPushReconnector&) = delete;

    // Owner's thread: for `outputs` outputs; Stop ends a pending open quickly.
    void Start(size_t outputs);
    void Stop();

    // Worker's side.
    void ReportFailure(size_t index, const std::string& destination);
    std::unique_ptr<TMuxer> TakeReopened(size_t index);

    // The wait before attempt n (0-based) after a failure.
    static int64_t RetryDelayUs(int attempt);

private:
    struct TSlot {
        std::string destination;
        bool waiting = false;  // failed and not yet reopened or given up
        int attempt = 0;
        int64_t failedAtUs = 0;
        int64_t nextUs = 0;
        std::unique_ptr<TMuxer> reopened;
    };

    void Run();
    // The slot due first, or -1; `wakeAtUs` the time to look again.
    int DueSlot(int64_t nowUs, int64_t* wakeAtUs) const;
    void Attempt(int index, const std::string& destination);

    Prepare m_prepare;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<TSlot> m_slots;
    TMuxer* m_pOpening = nullptr;  // the muxer being opened, for Stop to abort
    bool m_bStop = true;
    std::thread m_thread;
};

}  // namespace console
