#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/ManualResetEvent.h"

namespace common {

// A stoppable thread with a wake event and a done event, both manual-reset.
//
// Routine contract: it checks ExitRequested() between rounds of work, waits on
// the wake event (WaitForWake) when it has nothing to do, and calls
// ConfirmExit() when it leaves its loop. Start, Stop and Destroy belong to the
// owner's thread; the routine runs on the worker thread; Wake may be called
// from any thread.
class WorkerThread {
public:
    using Routine = void (*)(void* argument);

    // What Start does with the thread object of an earlier run.
    enum class RestartPolicy {
        // Join it: it has confirmed its exit, so it is returning.
        JoinPrevious,
        // The engine's way: wait up to 500 ms for it to end and join it; if it
        // does not end, detach it and let it finish on its own.
        AwaitPreviousThenDetach,
    };

    explicit WorkerThread(RestartPolicy policy = RestartPolicy::JoinPrevious);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Start(Routine routine, void* argument);
    // Asks the routine to leave and waits until it has confirmed; returns at
    // once when no thread was started.
    void Stop();
    void Wake();
    void Destroy();

    bool HasThread() const { return m_thread.joinable(); }

    // The routine's side.
    bool ExitRequested() const { return m_state->bExit.load(std::memory_order_acquire) != 0; }
    void WaitForWake() { m_state->wake.Wait(); }
    bool WaitForWake(int timeout_ms) { return m_state->wake.WaitFor(timeout_ms); }
    void ResetWake() { m_state->wake.Reset(); }
    void ConfirmExit() { m_state->hExitConfirm.Set(); }

    static constexpr int kStopPollMs = 20;
    static constexpr int kPreviousEndWaitMs = 500;

private:
    // Shared with the thread, so a detached thread never touches freed events.
    struct TState {
        std::atomic<int32_t> bExit{0};
        platform::TManualResetEvent hExitConfirm;
        platform::TManualResetEvent wake;
        platform::TManualResetEvent finished;  // set when the routine has returned
    };

    void RetirePreviousThread();

    RestartPolicy m_policy;
    std::shared_ptr<TState> m_state;
    std::thread m_thread;
};

}  // namespace common
