// av-beeps: the sound of the A/V alignment check. Writes 16-bit stereo PCM
// at 44100 Hz to standard output, in real time: silence, and from START_US
// (microseconds of the monotonic clock, as av_gettime_relative reads it) a
// 50 ms 1 kHz beep at the start of every second, until SECONDS after START_US.
//
//   av-beeps START_US SECONDS | pacat --raw --latency-msec=50 ...
//
// Nothing is written for the first 300 ms, so that the player has connected
// and no backlog piles up in the pipe. Then each 10 ms block leaves 50 ms
// before its first sample is due: a player that starts once it holds 50 ms
// (its latency) plays every sample at its time and never runs dry.

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kBlockSamples = kRate / 100;
constexpr int64_t kBeepUs = 50000;
constexpr double kAmplitude = 0.5 * 32767;
constexpr int64_t kQuietStartUs = 300000;
constexpr int64_t kLeadUs = 50000;

int64_t MonotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

void SleepUntilUs(int64_t us) {
    const timespec due{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
}

bool WriteAll(const void* data, size_t bytes) {
    const auto* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t written = write(STDOUT_FILENO, at, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += written;
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const int64_t startUs = argc == 3 ? std::strtoll(argv[1], &end, 10) : 0;
    const double seconds = argc == 3 && end != nullptr && *end == 0 ? std::strtod(argv[2], &end) : 0;
    if (startUs <= 0 || seconds <= 0 || *end != 0) {
        std::fprintf(stderr, "usage: av-beeps START_US SECONDS\n");
        return 2;
    }
    const int64_t stopUs = startUs + static_cast<int64_t>(seconds * 1e6);
    // Sample n is due at firstUs + n / rate.
    const int64_t firstUs = MonotonicUs() + kQuietStartUs + kLeadUs;
    std::vector<int16_t> block(2 * kBlockSamples);
    for (int64_t sample = 0;; sample += kBlockSamples) {
        const int64_t blockUs = firstUs + sample * 1000000 / kRate;
        if (blockUs >= stopUs) break;
        for (int i = 0; i < kBlockSamples; ++i) {
            const int64_t us = firstUs + (sample + i) * 1000000 / kRate;
            int16_t value = 0;
            if (us >= startUs && (us - startUs) % 1000000 < kBeepUs)
                value = static_cast<int16_t>(kAmplitude * std::sin(2 * M_PI * 1000.0 * (us - startUs) / 1e6));
            block[2 * i] = block[2 * i + 1] = value;
        }
        SleepUntilUs(blockUs - kLeadUs);
        if (!WriteAll(block.data(), block.size() * sizeof(int16_t))) return 1;
    }
    return 0;
}
