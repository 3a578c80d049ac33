#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "engine/compositor/TCompositorPool.h"

namespace pelorn {
namespace {

struct TRecordArgs {
    std::array<int, TCompositorPool::kWorkers>* runs;
    int value;
    int* seen;  // one per band
};

void Record(const void* arguments, int band) {
    const auto& args = *static_cast<const TRecordArgs*>(arguments);
    ++(*args.runs)[band];
    args.seen[band] = args.value;
}

std::atomic<std::thread::id> g_threads[TCompositorPool::kWorkers];
void RememberThread(const void*, int band) {
    g_threads[band] = std::this_thread::get_id();
}

// Every band adds its index into its own element: what the previous dispatch
// wrote is visible to the next.
void Accumulate(const void* arguments, int band) {
    int* sums = *static_cast<int* const*>(arguments);
    sums[band] += band + 1;
}

constexpr TKernelEntry kKernels[] = {{7, &Record}, {8, &RememberThread}, {9, &Accumulate}};

TEST(TCompositorPoolTest, DispatchRunsEveryBandOnceAndWaitsForAll) {
    TCompositorPool pool(kKernels);
    std::array<int, TCompositorPool::kWorkers> runs{};
    int seen[TCompositorPool::kWorkers] = {};
    ASSERT_TRUE(pool.Dispatch(7, TRecordArgs{&runs, 42, seen}));
    for (int band = 0; band < TCompositorPool::kWorkers; ++band) {
        EXPECT_EQ(runs[band], 1);
        EXPECT_EQ(seen[band], 42);
    }
}

TEST(TCompositorPoolTest, EachBandRunsOnItsOwnWorker) {
    TCompositorPool pool(kKernels);
    ASSERT_TRUE(pool.Dispatch(8, nullptr, 0));
    for (int a = 0; a < TCompositorPool::kWorkers; ++a) {
        EXPECT_NE(g_threads[a].load(), std::this_thread::get_id());
        for (int b = a + 1; b < TCompositorPool::kWorkers; ++b) {
            EXPECT_NE(g_threads[a].load(), g_threads[b].load());
        }
    }
}

TEST(TCompositorPoolTest, ArgumentsAreCopiedAtDispatch) {
    TCompositorPool pool(kKernels);
    std::array<int, TCompositorPool::kWorkers> runs{};
    int seen[TCompositorPool::kWorkers] = {};
    TRecordArgs args{&runs, 1, seen};
    pool.Dispatch(7, args);
    args.value = 2;  // after the dispatch: the workers saw 1
    EXPECT_EQ(seen[3], 1);
    pool.Dispatch(7, args);
    EXPECT_EQ(seen[3], 2);
}

TEST(TCompositorPoolTest, ManyDispatchesInARowSeeEachOthersWrites) {
    TCompositorPool pool(kKernels);
    int sums[TCompositorPool::kWorkers] = {};
    int* pointer = sums;
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(pool.Dispatch(9, pointer));
    for (int band = 0; band < TCompositorPool::kWorkers; ++band)
        EXPECT_EQ(sums[band], 2000 * (band + 1));
    EXPECT_EQ(pool.DispatchCount(), 2000);
}

TEST(TCompositorPoolTest, UnknownKernelOrOversizedArgumentsRunNothing) {
    TCompositorPool pool(kKernels);
    std::array<int, TCompositorPool::kWorkers> runs{};
    EXPECT_FALSE(pool.Dispatch(5, nullptr, 0));
    unsigned char big[TCompositorPool::kArgumentBytes + 1] = {};
    EXPECT_FALSE(pool.Dispatch(7, big, sizeof big));
    EXPECT_FALSE(pool.Dispatch(7, nullptr, 8));
    EXPECT_EQ(runs[0], 0);
    EXPECT_FALSE(pool.HasKernel(0));
    EXPECT_TRUE(pool.HasKernel(9));
}

TEST(TCompositorPoolTest, EmptyBarrierSynchronisesWithoutAKernel) {
    TCompositorPool pool(kKernels);
    EXPECT_TRUE(pool.Dispatch(TCompositorPool::kBarrier, nullptr, 0));
    EXPECT_EQ(pool.DispatchCount(), 1);
}

TEST(TCompositorPoolTest, DestructionRightAfterConstructionStopsAllWorkers) {
    for (int i = 0; i < 20; ++i) TCompositorPool pool(kKernels);
}

}  // namespace
}  // namespace pelorn
