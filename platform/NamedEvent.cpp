#include "platform/NamedEvent.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>

namespace platform {

struct TNamedEvent::TState {
    // 0 fresh, 1 being initialised by one opener, kReady afterwards.
    std::atomic<uint32_t> init;
    int32_t signalled;
    pthread_mutex_t lock;
    pthread_cond_t changed;
};

namespace {

constexpr uint32_t kInitialising = 1;
constexpr uint32_t kReady = 0x45564E54;  // "TNVE"

static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "the init word is shared between processes");

void InitialiseState(pthread_mutex_t* lock, pthread_cond_t* changed) {
    pthread_mutexattr_t lockAttr;
    pthread_mutexattr_init(&lockAttr);
    pthread_mutexattr_setpshared(&lockAttr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&lockAttr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(lock, &lockAttr);
    pthread_mutexattr_destroy(&lockAttr);

    pthread_condattr_t condAttr;
    pthread_condattr_init(&condAttr);
    pthread_condattr_setpshared(&condAttr, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&condAttr, CLOCK_MONOTONIC);
    pthread_cond_init(changed, &condAttr);
    pthread_condattr_destroy(&condAttr);
}

class TRobustLock {
public:
    explicit TRobustLock(pthread_mutex_t* lock) : m_lock(lock) {
        // The previous owner died holding the lock; the flag it guards is a
        // single word, so the state is consistent whatever it was doing.
        if (pthread_mutex_lock(m_lock) == EOWNERDEAD) pthread_mutex_consistent(m_lock);
    }
    ~TRobustLock() { pthread_mutex_unlock(m_lock); }
    TRobustLock(const TRobustLock&) = delete;
    TRobustLock& operator=(const TRobustLock&) = delete;

private:
    pthread_mutex_t* m_lock;
};

timespec DeadlineAfter(int timeout_ms) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t ns = now.tv_nsec + static_cast<int64_t>(timeout_ms % 1000) * 1'000'000;
    now.tv_sec += timeout_ms / 1000 + ns / 1'000'000'000;
    now.tv_nsec = ns % 1'000'000'000;
    return now;
}

}  // namespace

int TNamedEvent::Open(const std::string& name, Access access) {
    if (int error = m_mapping.Open(name, sizeof(TState), access)) return error;
    TState* state = State();
    uint32_t expected = 0;
    if (state->init.compare_exchange_strong(expected, kInitialising, std::memory_order_acq_rel)) {
        InitialiseState(&state->lock, &state->changed);
        state->signalled = 0;
        state->init.store(kReady, std::memory_order_release);
        return 0;
    }
    // Another opener is initialising the object; it takes microseconds.
    for (int tries = 0; state->init.load(std::memory_order_acquire) != kReady; ++tries) {
        if (tries == 1000) {
            m_mapping.Close();
            return ETIMEDOUT;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (access == Access::CreateOrOpen) Reset();
    return 0;
}

void TNamedEvent::Set() {
    if (!IsOpen()) return;
    TRobustLock guard(&State()->lock);
    State()->signalled = 1;
    pthread_cond_broadcast(&State()->changed);
}

void TNamedEvent::Reset() {
    if (!IsOpen()) return;
    TRobustLock guard(&State()->lock);
    State()->signalled = 0;
}

bool TNamedEvent::IsSet() {
    if (!IsOpen()) return false;
    TRobustLock guard(&State()->lock);
    return State()->signalled != 0;
}

bool TNamedEvent::WaitFor(int timeout_ms) {
    if (!IsOpen()) return false;
    const timespec deadline = DeadlineAfter(timeout_ms < 0 ? 0 : timeout_ms);
    TRobustLock guard(&State()->lock);
    while (State()->signalled == 0) {
        const int result = pthread_cond_timedwait(&State()->changed, &State()->lock, &deadline);
        if (result == EOWNERDEAD) pthread_mutex_consistent(&State()->lock);
        if (result == ETIMEDOUT) break;
    }
    return State()->signalled != 0;
}

}  // namespace platform
