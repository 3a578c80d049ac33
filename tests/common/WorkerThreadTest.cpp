#include "common/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace common {
namespace {

using Clock = std::chrono::steady_clock;

// A routine that follows the contract: counts wakes until asked to leave.
struct TCounter {
    WorkerThread worker;
    std::atomic<int> rounds{0};

    explicit TCounter(WorkerThread::RestartPolicy policy = WorkerThread::RestartPolicy::JoinPrevious)
        : worker(policy) {}

    static void Loop(void* self) {
        auto* counter = static_cast<TCounter*>(self);
        while (!counter->worker.ExitRequested()) {
            counter->worker.WaitForWake();
            counter->worker.ResetWake();
            ++counter->rounds;
        }
        counter->worker.ConfirmExit();
    }
};

TEST(WorkerThreadTest, StopOnAWorkerThatNeverStartedReturnsAtOnce) {
    WorkerThread worker;
    const auto start = Clock::now();
    worker.Stop();
    worker.Destroy();
    EXPECT_FALSE(worker.HasThread());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(WorkerThread::kStopPollMs));
}

TEST(WorkerThreadTest, WakeRunsTheRoutineAndStopEndsAWaitingRoutine) {
    TCounter counter;
    counter.worker.Start(&TCounter::Loop, &counter);
    counter.worker.Wake();
    while (counter.rounds.load() == 0) std::this_thread::yield();
    counter.worker.Stop();
    EXPECT_TRUE(counter.worker.HasThread());
    const int rounds = counter.rounds.load();
    counter.worker.Wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(counter.rounds.load(), rounds);  // nothing runs after Stop
}

TEST(WorkerThreadTest, StartAgainRunsAFreshRoutine) {
    TCounter counter;
    for (int run = 0; run < 3; ++run) {
        counter.rounds = 0;
        counter.worker.Start(&TCounter::Loop, &counter);
        counter.worker.Wake();
        while (counter.rounds.load() == 0) std::this_thread::yield();
    }
    counter.worker.Destroy();
    EXPECT_FALSE(counter.worker.HasThread());
}

// A routine that ignores its wake event and only polls the stop flag: Stop
// keeps waking and polling until it confirms.
struct TPoller {
    WorkerThread worker;
    static void Loop(void* self) {
        auto* poller = static_cast<TPoller*>(self);
        while (!poller->worker.ExitRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        poller->worker.ConfirmExit();
    }
};

TEST(WorkerThreadTest, StopWaitsForTheRoutineToConfirm) {
    TPoller poller;
    poller.worker.Start(&TPoller::Loop, &poller);
    poller.worker.Stop();
    poller.worker.Destroy();
    EXPECT_FALSE(poller.worker.HasThread());
}

// A routine that returns without confirming must not hang Stop.
struct TForgetful {
    WorkerThread worker;
    static void Loop(void*) {}
};

TEST(WorkerThreadTest, StopReturnsWhenTheRoutineEndedWithoutConfirming) {
    TForgetful forgetful;
    forgetful.worker.Start(&TForgetful::Loop, &forgetful);
    forgetful.worker.Stop();
    forgetful.worker.Destroy();
    EXPECT_FALSE(forgetful.worker.HasThread());
}

// Engine policy: a previous thread that confirmed its exit but is slow to
// return is waited for up to 500 ms and then left to finish on its own.
struct TLingering {
    WorkerThread worker{WorkerThread::RestartPolicy::AwaitPreviousThenDetach};
    std::atomic<int> starts{0};
    std::atomic<int> returned{0};
    std::atomic<int> lingerMs{0};
    static void Loop(void* self) {
        auto* lingering = static_cast<TLingering*>(self);
        ++lingering->starts;
        const int linger = lingering->lingerMs.load();
        while (!lingering->worker.ExitRequested()) lingering->worker.WaitForWake();
        lingering->worker.ConfirmExit();
        std::this_thread::sleep_for(std::chrono::milliseconds(linger));
        ++lingering->returned;
    }
};

// Outlives the test: the detached thread still uses it.
TLingering g_lingering;

TEST(WorkerThreadTest, EngineRestartWaitsBoundedForALingeringPredecessor) {
    g_lingering.lingerMs = 3000;
    g_lingering.worker.Start(&TLingering::Loop, &g_lingering);
    while (g_lingering.starts.load() == 0) std::this_thread::yield();
    g_lingering.lingerMs = 0;
    const auto start = Clock::now();
    g_lingering.worker.Start(&TLingering::Loop, &g_lingering);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(WorkerThread::kPreviousEndWaitMs));
    EXPECT_EQ(g_lingering.returned.load(), 0);  // detached, not joined
    while (g_lingering.starts.load() < 2) std::this_thread::yield();
    g_lingering.worker.Stop();
}

}  // namespace
}  // namespace common
