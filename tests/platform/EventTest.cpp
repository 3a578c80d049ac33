#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/ManualResetEvent.h"
#include "platform/NamedEvent.h"

namespace platform {
namespace {

TEST(ManualResetEventTest, SetWakesAWaiterInAnotherThreadAndStaysSet) {
    TManualResetEvent event;
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        event.Wait();
        woke = true;
    });
    EXPECT_FALSE(event.WaitFor(10));
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(0));  // manual reset: still set for the next waiter
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(0));
}

std::string UniqueName(const char* stem) {
    return std::string("Global\\") + stem + "_" + std::to_string(getpid());
}

TEST(NamedEventTest, CreatedNotSetAndWakesAWaiterInAnotherThread) {
    TNamedEvent creator;
    TNamedEvent opener;
    const std::string name = UniqueName("EvtThread");
    ASSERT_EQ(creator.Open(name, TNamedEvent::Access::CreateOrOpen), 0);
    ASSERT_EQ(opener.Open(name, TNamedEvent::Access::OpenExisting), 0);
    EXPECT_FALSE(opener.IsSet());

    std::thread waiter([&] { EXPECT_TRUE(opener.WaitFor(10000)); });
    creator.Set();
    waiter.join();
    EXPECT_TRUE(opener.WaitFor(0));
    opener.Reset();
    EXPECT_FALSE(creator.IsSet());
}

TEST(NamedEventTest, WakesAWaiterInAnotherProcess) {
    TNamedEvent creator;
    const std::string name = UniqueName("EvtFork");
    ASSERT_EQ(creator.Open(name, TNamedEvent::Access::CreateOrOpen), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TNamedEvent opener;
        if (opener.Open(name, TNamedEvent::Access::OpenExisting) != 0) _exit(2);
        _exit(opener.WaitFor(10000) ? 0 : 3);
    }
    usleep(20000);
    creator.Set();
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(NamedEventTest, WaitTimesOutWhenNobodySetsIt) {
    TNamedEvent event;
    ASSERT_EQ(event.Open(UniqueName("EvtTimeout"), TNamedEvent::Access::CreateOrOpen), 0);
    EXPECT_FALSE(event.WaitFor(30));
}

TEST(NamedEventTest, CreatingOverALeftoverSetEventResetsIt) {
    const std::string name = UniqueName("EvtLeftover");
    TNamedEvent first;
    ASSERT_EQ(first.Open(name, TNamedEvent::Access::CreateOrOpen), 0);
    first.Set();
    TNamedEvent second;
    ASSERT_EQ(second.Open(name, TNamedEvent::Access::CreateOrOpen), 0);
    EXPECT_FALSE(first.IsSet());
}

TEST(NamedEventTest, OpeningAMissingEventFails) {
    TNamedEvent event;
    EXPECT_NE(event.Open(UniqueName("EvtMissing"), TNamedEvent::Access::OpenExisting), 0);
    EXPECT_FALSE(event.IsOpen());
    event.Set();  // harmless on a closed event
    EXPECT_FALSE(event.IsSet());
}

}  // namespace
}  // namespace platform
