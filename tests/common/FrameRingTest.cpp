#include "common/FrameRing.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

namespace common {
namespace {

int PushValue(FrameRing& ring, int value) {
    return ring.Push(&value, sizeof value) ? 1 : 0;
}

int FrontValue(FrameRing& ring) {
    int value = -1;
    std::memcpy(&value, ring.Front(), sizeof value);
    return value;
}

TEST(FrameRingTest, HeaderLayoutIsFixed) {
    EXPECT_EQ(offsetof(TFrameRingHeader, capacity), 0u);
    EXPECT_EQ(offsetof(TFrameRingHeader, head), 2u);
    EXPECT_EQ(offsetof(TFrameRingHeader, tail), 4u);
    EXPECT_EQ(offsetof(TFrameRingHeader, keep), 6u);
    EXPECT_EQ(offsetof(TFrameRingHeader, slotSize), 8u);
    EXPECT_EQ(FrameRing::BytesFor(20, 8294416), 165888332u);
}

TEST(FrameRingTest, RingOfHundredHoldsNinetyNine) {
    FrameRing ring(100, sizeof(int));
    EXPECT_TRUE(ring.IsEmpty());
    int pushed = 0;
    for (int i = 0; i < 100; ++i) pushed += PushValue(ring, i);
    EXPECT_EQ(pushed, 99);
    EXPECT_TRUE(ring.IsFull());
    EXPECT_EQ(ring.Count(), 99);
    EXPECT_EQ(ring.TailSlot(), nullptr);
}

TEST(FrameRingTest, EntriesComeOutOldestFirstAcrossTheWrap) {
    FrameRing ring(4, sizeof(int));
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(PushValue(ring, round * 10), 1);
        ASSERT_EQ(PushValue(ring, round * 10 + 1), 1);
        EXPECT_EQ(FrontValue(ring), round * 10);
        ring.Pop();
        EXPECT_EQ(FrontValue(ring), round * 10 + 1);
        ring.Pop();
        EXPECT_TRUE(ring.IsEmpty());
        EXPECT_EQ(ring.Front(), nullptr);
    }
}

TEST(FrameRingTest, PopWithKeepThreeLeavesTheThreeNewest) {
    FrameRing ring(16, sizeof(int), 3);
    for (int i = 0; i < 10; ++i) PushValue(ring, i);
    ring.Pop();
    EXPECT_EQ(ring.Count(), 3);
    EXPECT_EQ(FrontValue(ring), 7);
    // With no more than `keep` waiting a pop takes one entry.
    ring.Pop();
    EXPECT_EQ(ring.Count(), 2);
    EXPECT_EQ(FrontValue(ring), 8);
}

TEST(FrameRingTest, PopOnAnEmptyRingChangesNothing) {
    FrameRing ring(4, sizeof(int));
    ring.Pop();
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(PushValue(ring, 5), 1);
    EXPECT_EQ(ring.Count(), 1);
}

TEST(FrameRingTest, AttachedViewSharesTheBlock) {
    std::vector<std::byte> block(FrameRing::BytesFor(8, 16));
    FrameRing::Format(block.data(), 8, 16);
    FrameRing producer = FrameRing::Attach(block.data());
    FrameRing consumer = FrameRing::Attach(block.data());
    PushValue(producer, 77);
    EXPECT_EQ(consumer.Count(), 1);
    EXPECT_EQ(FrontValue(consumer), 77);
    consumer.Pop();
    EXPECT_TRUE(producer.IsEmpty());

    int16_t header[6];
    std::memcpy(header, block.data(), sizeof header);
    EXPECT_EQ(header[0], 8);  // capacity
    EXPECT_EQ(header[1], 1);  // head
    EXPECT_EQ(header[2], 1);  // tail
}

TEST(FrameRingTest, ResetPositionsEmptiesTheRing) {
    FrameRing ring(8, sizeof(int));
    PushValue(ring, 1);
    PushValue(ring, 2);
    ring.ResetPositions();
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_EQ(ring.Header()->head.load(), 0);
    EXPECT_EQ(ring.Header()->tail.load(), 0);
}

// One producer and one consumer on their own threads: every value arrives
// once, in order, with its slot contents intact.
TEST(FrameRingTest, OneProducerOneConsumerLoseNothing) {
    constexpr int kValues = 200000;
    struct TSlot {
        int value;
        int check;
    };
    FrameRing ring(64, sizeof(TSlot));
    std::thread producer([&] {
        for (int i = 0; i < kValues;) {
            if (auto* slot = static_cast<TSlot*>(ring.TailSlot())) {
                slot->value = i;
                slot->check = ~i;
                ring.Push();
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
    });
    int expected = 0;
    bool intact = true;
    while (expected < kValues) {
        if (const auto* slot = static_cast<const TSlot*>(ring.Front())) {
            intact = intact && slot->value == expected && slot->check == ~expected;
            ring.Pop();
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(intact);
    EXPECT_TRUE(ring.IsEmpty());
}

}  // namespace
}  // namespace common
