#include "platform/PerfCounter.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

std::atomic<PerfCounter::Source> g_override{nullptr};

}  // namespace

int64_t PerfCounter::Now() {
    if (Source source = g_override.load(std::memory_order_acquire)) return source();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PerfCounter::OverrideForTesting(Source source) {
    g_override.store(source, std::memory_order_release);
}

}  // namespace platform
