#include "engine/compositor/TCompositorPool.h"

#include <algorithm>
#include <cstring>

namespace pelorn {

TCompositorPool::TCompositorPool(std::span<const TKernelEntry> kernels) {
    const size_t count = std::min(kernels.size(), m_kernels.size());
    std::copy_n(kernels.begin(), count, m_kernels.begin());
    for (TWorker& worker : m_workers) {
        worker.thread = std::thread([this, &worker] { Run(worker); });
    }
}

TCompositorPool::~TCompositorPool() {
    // The empty barrier makes sure no worker is still inside a kernel.
    RunOnAll(nullptr);
    for (TWorker& worker : m_workers) {
        worker.stop.store(true, std::memory_order_relaxed);
        worker.start.release();
    }
    for (TWorker& worker : m_workers) {
        worker.exit.acquire();
        worker.thread.join();
    }
}

KernelRoutine TCompositorPool::Find(int kernelId) const {
    if (kernelId == kBarrier)
        return nullptr;
    for (const TKernelEntry& entry : m_kernels) {
        if (entry.id == kernelId && entry.routine != nullptr)
            return entry.routine;
    }
    return nullptr;
}

bool TCompositorPool::Dispatch(int kernelId, const void* arguments, size_t bytes) {
    if (bytes > kArgumentBytes || (bytes > 0 && arguments == nullptr))
        return false;
    KernelRoutine routine = Find(kernelId);
    if (routine == nullptr && kernelId != kBarrier)
        return false;
    if (bytes > 0)
        std::memcpy(m_arguments, arguments, bytes);
    RunOnAll(routine);
    ++m_nDispatches;
    return true;
}

// The start semaphore's release publishes the job and the argument block to
// the worker; the done semaphore's release publishes the kernel's writes back.
void TCompositorPool::RunOnAll(KernelRoutine routine) {
    for (int band = 0; band < kWorkers; ++band) {
        m_workers[band].job = {band, routine};
        m_workers[band].start.release();
    }
    for (TWorker& worker : m_workers) worker.done.acquire();
}

void TCompositorPool::Run(TWorker& worker) {
    for (;;) {
        worker.start.acquire();
        if (worker.stop.load(std::memory_order_relaxed))
            break;
        if (worker.job.routine != nullptr)
            worker.job.routine(m_arguments, worker.job.band);
        worker.done.release();
    }
    worker.exit.release();
}

}  // namespace pelorn
