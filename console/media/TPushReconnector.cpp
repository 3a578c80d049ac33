#include "console/media/TPushReconnector.h"

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavutil/time.h>
}

namespace console {

TPushReconnector::TPushReconnector(Prepare prepare) : m_prepare(std::move(prepare)) {}

TPushReconnector::~TPushReconnector() { Stop(); }

int64_t TPushReconnector::RetryDelayUs(int attempt) {
    return (int64_t{2} << std::min(attempt, 3)) * 1000000;
}

void TPushReconnector::Start(size_t outputs) {
    Stop();
    std::lock_guard lock(m_lock);
    m_slots = std::vector<TSlot>(outputs);
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void TPushReconnector::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_bStop = true;
        if (m_pOpening != nullptr) m_pOpening->Abort();
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard lock(m_lock);
    m_slots.clear();
}

void TPushReconnector::ReportFailure(size_t index, const std::string& destination) {
    {
        std::lock_guard lock(m_lock);
        if (index >= m_slots.size()) return;
        TSlot& slot = m_slots[index];
        slot.destination = destination;
        slot.waiting = true;
        slot.attempt = 0;
        slot.failedAtUs = av_gettime_relative();
        slot.nextUs = slot.failedAtUs + RetryDelayUs(0);
    }
    m_wake.notify_all();
}

std::unique_ptr<TMuxer> TPushReconnector::TakeReopened(size_t index) {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock() || index >= m_slots.size()) return nullptr;
    return std::move(m_slots[index].reopened);
}

int TPushReconnector::DueSlot(int64_t nowUs, int64_t* wakeAtUs) const {
    *wakeAtUs = INT64_MAX;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (!m_slots[i].waiting) continue;
        if (m_slots[i].nextUs <= nowUs) return static_cast<int>(i);
        *wakeAtUs = std::min(*wakeAtUs, m_slots[i].nextUs);
    }
    return -1;
}

void TPushReconnector::Run() {
    std::unique_lock lock(m_lock);
    while (!m_bStop) {
        int64_t wakeAtUs = 0;
        const int due = DueSlot(av_gettime_relative(), &wakeAtUs);
        if (due < 0) {
            if (wakeAtUs == INT64_MAX)
                m_wake.wait(lock);
            else
                m_wake.wait_for(lock, std::chrono::microseconds(wakeAtUs - av_gettime_relative()));
            continue;
        }
        const std::string destination = m_slots[due].destination;
        lock.unlock();
        Attempt(due, destination);
        lock.lock();
    }
}

// One reopen, outside the lock; its open ends after the network limit, or at
// once when Stop aborts it.
void TPushReconnector::Attempt(int index, const std::string& destination) {
    auto muxer = std::make_unique<TMuxer>();
    {
        std::lock_guard lock(m_lock);
        if (m_bStop) return;
        m_pOpening = muxer.get();
    }
    const bool opened = muxer->Open(destination) == 0 && m_prepare(*muxer) == 0;
    std::lock_guard lock(m_lock);
    m_pOpening = nullptr;
    if (m_bStop || static_cast<size_t>(index) >= m_slots.size()) return;
    TSlot& slot = m_slots[index];
    if (opened) {
        slot.reopened = std::move(muxer);
        slot.waiting = false;
        return;
    }
    const int64_t now = av_gettime_relative();
    slot.nextUs = now + RetryDelayUs(++slot.attempt);
    if (slot.nextUs - slot.failedAtUs > kGiveUpUs) slot.waiting = false;
}

}  // namespace console
