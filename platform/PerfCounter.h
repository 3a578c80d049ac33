#pragma once

#include <cstdint>

namespace platform {

// Monotonic tick counter standing in for the performance counter. One tick is
// one nanosecond, so Frequency() is constant; callers still divide by it so
// that the arithmetic reads as it does with any counter.
class PerfCounter {
public:
    using Source = int64_t (*)();

    static int64_t Now();
    static constexpr int64_t Frequency() { return 1'000'000'000; }

    // Replaces the clock for the whole process (tests drive time by hand);
    // nullptr restores the steady clock.
    static void OverrideForTesting(Source source);
};

}  // namespace platform
