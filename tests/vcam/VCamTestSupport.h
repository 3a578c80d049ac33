#pragma once

// Helpers shared by the virtual-camera tests: unique object names, a second
// mapping of the block to look at it as a reader does, frames, a clock.

#include <unistd.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "engine/VCamLayout.h"
#include "platform/SharedMemory.h"

namespace pelorn::vcam::test {

struct TNames {
    std::string mapping;
    std::string event;
};

inline TNames UniqueNames(const char* stem) {
    static std::atomic<int> counter{0};
    const std::string suffix = std::string(stem) + "_" + std::to_string(getpid()) + "_" +
                               std::to_string(counter.fetch_add(1));
    return {"Global\\QndlShareMemT_" + suffix, "Global\\KpEvtShowTestKp_" + suffix};
}

// The block as the reader sees it, through a mapping of its own.
class TBlockView {
public:
    int Open(const std::string& mapping) {
        return m_block.Open(mapping, kBlockBytes, platform::TSharedMemory::Access::OpenExisting);
    }
    uint8_t* Base() const { return static_cast<uint8_t*>(m_block.Data()); }
    common::TFrameRingHeader* Header() const { return vcam::Header(m_block.Data()); }
    int ReadIndex() const { return Header()->head.load(); }
    int WriteIndex() const { return Header()->tail.load(); }
    // What a reader that took every waiting frame leaves behind.
    void TakeAll() const { Header()->head.store(Header()->tail.load()); }
    uint8_t* Slot(int index) const { return vcam::Slot(m_block.Data(), index); }
    uint8_t* Pixels(int index) const { return Slot(index) + kPixelsOffset; }
    int16_t Field16(int index, size_t offset) const {
        int16_t value;
        std::memcpy(&value, Slot(index) + offset, sizeof value);
        return value;
    }
    int64_t Pts(int index) const {
        int64_t value;
        std::memcpy(&value, Slot(index) + kPtsOffset, sizeof value);
        return value;
    }
    std::atomic_ref<uint32_t> Heartbeat() const { return std::atomic_ref<uint32_t>(*vcam::Heartbeat(m_block.Data())); }

private:
    platform::TSharedMemory m_block;
};

// A frame of width x height in one of the packed formats, every byte `fill`.
inline AVFrame* NewFrame(int width, int height, int format, uint8_t fill = 0, int align = 1) {
    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame, align) < 0) av_frame_free(&frame);
    if (frame != nullptr) std::memset(frame->data[0], fill, static_cast<size_t>(frame->linesize[0]) * height);
    return frame;
}

// A clock that tests move by hand (platform::PerfCounter::OverrideForTesting).
struct TFakeClock {
    static std::atomic<int64_t>& Now() {
        static std::atomic<int64_t> now{1'000'000'000};
        return now;
    }
    static int64_t Read() { return Now().load(); }
    static void AdvanceMs(int64_t ms) { Now().fetch_add(ms * 1'000'000); }
};

template <typename Predicate>
bool WaitUntil(Predicate predicate, int timeout_ms = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace pelorn::vcam::test
