// The output worker's picture buffers: none is allocated per frame once the
// chain runs, and when one cannot be had the frame is skipped, nothing
// half-made reaches the callback, and the next frame is delivered. Large
// aligned allocations are counted and made to fail on demand, so this binary
// is built without sanitizers (they bring their own allocator).

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/DzOqcEngine.h"

extern "C" void* __libc_memalign(size_t alignment, size_t size);

namespace {

constexpr size_t kRefusedFrom = 1 << 20;  // an output picture, not the bookkeeping
std::atomic<bool> g_bRefusing{false};
std::atomic<int> g_nRefused{0};
std::atomic<int> g_nLarge{0};

}  // namespace

// FFmpeg takes its buffers from posix_memalign.
extern "C" int posix_memalign(void** block, size_t alignment, size_t size) noexcept {
    if (g_bRefusing.load() && size >= kRefusedFrom) {
        g_nRefused.fetch_add(1);
        return ENOMEM;
    }
    if (size >= kRefusedFrom) g_nLarge.fetch_add(1);
    *block = __libc_memalign(alignment, size);
    return *block != nullptr ? 0 : ENOMEM;
}

namespace pelorn {
namespace {

struct TDelivered {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<int> packetSizes;

    bool WaitFor(size_t count) {
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, std::chrono::seconds(30),
                                [&] { return packetSizes.size() >= count; });
    }

    static void Output(AVFrame* frame, void* self) {
        auto* delivered = static_cast<TDelivered*>(self);
        std::lock_guard guard(delivered->lock);
        delivered->packetSizes.push_back(frame->pkt_size);
        delivered->arrived.notify_all();
    }
};

AVFrame* YuyvPicture(int width, int height, int packetSize) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUYV422;
    frame->width = width;
    frame->height = height;
    frame->pkt_size = packetSize;
    if (av_frame_get_buffer(frame, 1) < 0) av_frame_free(&frame);
    return frame;
}

// An output queue configured for 720p YUYV in and BGRA out.
class OutputBufferFailureTest : public ::testing::Test {
protected:
    OutputBufferFailureTest() {
        const TPipelineConfig config{kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 28};
        m_queue.Configure(m_canvas.data(), &config);
    }

    TEngineLog m_log;
    TDelivered m_delivered;
    std::vector<uint8_t> m_canvas = std::vector<uint8_t>(DzOqcEngine::kScratchBytes);
    DzOqcEngine m_queue{&TDelivered::Output, &m_delivered, &m_log};
};

TEST_F(OutputBufferFailureTest, AFrameWithoutAnOutputBufferIsSkippedAndTheNextDelivered) {
    AVFrame* refused = YuyvPicture(1280, 720, 1);
    AVFrame* accepted = YuyvPicture(1280, 720, 2);
    ASSERT_NE(refused, nullptr);
    ASSERT_NE(accepted, nullptr);

    g_bRefusing = true;
    m_queue.Push(refused);
    for (int waited = 0; m_queue.WaitingFrames() != 0 && waited < 10000; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    g_bRefusing = false;
    EXPECT_GE(g_nRefused.load(), 1);
    EXPECT_EQ(m_queue.WaitingFrames(), 0);

    m_queue.Push(accepted);
    std::unique_lock guard(m_delivered.lock);
    m_delivered.arrived.wait_for(guard, std::chrono::seconds(30),
                                 [&] { return !m_delivered.packetSizes.empty(); });
    EXPECT_EQ(m_delivered.packetSizes, std::vector<int>{2});
    guard.unlock();
    av_frame_free(&refused);
    av_frame_free(&accepted);
}

TEST_F(OutputBufferFailureTest, RunningFramesAllocateNoPictureBuffers) {
    AVFrame* picture = YuyvPicture(1280, 720, 1);
    ASSERT_NE(picture, nullptr);
    m_queue.Push(picture);
    ASSERT_TRUE(m_delivered.WaitFor(1));

    const int before = g_nLarge.load();
    for (size_t frame = 2; frame <= 6; ++frame) {
        m_queue.Push(picture);
        ASSERT_TRUE(m_delivered.WaitFor(frame));
    }
    EXPECT_EQ(g_nLarge.load(), before);
    av_frame_free(&picture);
}

}  // namespace
}  // namespace pelorn
