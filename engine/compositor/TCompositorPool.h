#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>
#include <span>
#include <thread>

namespace pelorn {

// A kernel routine: processes band `band` (0..3) of the job described by the
// argument block. For a buffer of n bytes, band b covers b * n / 4 up to
// (b + 1) * n / 4; pictures are cut the same way by rows.
using KernelRoutine = void (*)(const void* arguments, int band);

struct TKernelEntry {
    int id;
    KernelRoutine routine;
};

// The compositor's four band workers. Dispatch hands every worker its band of
// one kernel and returns when all four are done, so a kernel may read what
// the previous one wrote.
//
// Threads: Dispatch is called by one thread at a time (the compositor's
// caller, under its lock); the workers only run kernels between a start and
// a done signal, and the argument block is read-only while they do.
class TCompositorPool {
public:
    static constexpr int kWorkers = 4;
    static constexpr int kKernelSlots = 26;
    static constexpr size_t kArgumentBytes = 160;
    // Not in the table: a dispatch that runs nothing, only synchronises.
    static constexpr int kBarrier = 0;

    explicit TCompositorPool(std::span<const TKernelEntry> kernels);
    ~TCompositorPool();
    TCompositorPool(const TCompositorPool&) = delete;
    TCompositorPool& operator=(const TCompositorPool&) = delete;

    // Runs kernel `kernelId` on all four bands with a copy of `arguments`
    // (at most kArgumentBytes). False for an unknown kernel or an oversized
    // block: nothing runs then.
    bool Dispatch(int kernelId, const void* arguments, size_t bytes);
    template <typename Args>
    bool Dispatch(int kernelId, const Args& arguments) {
        static_assert(sizeof(Args) <= kArgumentBytes, "kernel arguments exceed the block");
        return Dispatch(kernelId, &arguments, sizeof(Args));
    }

    bool HasKernel(int kernelId) const { return Find(kernelId) != nullptr; }
    int DispatchCount() const { return m_nDispatches; }

private:
    struct TJob {
        int band = 0;
        KernelRoutine routine = nullptr;  // null: the empty barrier
    };
    struct TWorker {
        std::binary_semaphore start{0};
        std::binary_semaphore done{0};
        std::binary_semaphore exit{0};
        std::atomic<bool> stop{false};
        TJob job;
        std::thread thread;
    };

    KernelRoutine Find(int kernelId) const;
    void Run(TWorker& worker);
    void RunOnAll(KernelRoutine routine);

    std::array<TKernelEntry, kKernelSlots> m_kernels{};
    alignas(64) unsigned char m_arguments[kArgumentBytes]{};
    std::array<TWorker, kWorkers> m_workers;
    int m_nDispatches = 0;
};

}  // namespace pelorn
