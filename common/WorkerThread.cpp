#include "common/WorkerThread.h"

namespace common {

WorkerThread::WorkerThread(RestartPolicy policy)
    : m_policy(policy), m_state(std::make_shared<TState>()) {}

WorkerThread::~WorkerThread() { Destroy(); }

void WorkerThread::Start(Routine routine, void* argument) {
    Stop();
    RetirePreviousThread();

    // A fresh state: a detached predecessor keeps the one it had.
    m_state = std::make_shared<TState>();
    m_thread = std::thread([state = m_state, routine, argument] {
        routine(argument);
        state->finished.Set();
    });
}

void WorkerThread::Stop() {
    if (!m_thread.joinable()) return;
    m_state->bExit.exchange(1, std::memory_order_acq_rel);
    m_state->wake.Set();
    // The routine may be between its exit check and its wait, so keep waking
    // it. A routine that returned without confirming has ended just the same.
    while (!m_state->hExitConfirm.WaitFor(kStopPollMs) && !m_state->finished.IsSet()) {
        m_state->wake.Set();
    }
}

void WorkerThread::Wake() { m_state->wake.Set(); }

void WorkerThread::Destroy() {
    Stop();
    RetirePreviousThread();
}

void WorkerThread::RetirePreviousThread() {
    if (!m_thread.joinable()) return;
    if (m_policy == RestartPolicy::JoinPrevious ||
        m_state->finished.WaitFor(kPreviousEndWaitMs)) {
        m_thread.join();
    } else {
        m_thread.detach();
    }
}

}  // namespace common
