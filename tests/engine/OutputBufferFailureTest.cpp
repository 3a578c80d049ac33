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

TEST(OutputBufferFailureTest, AFrameWithoutAnOutputBufferIsSkippedAndTheNextDelivered) {
    TEngineLog log;
    TDelivered delivered;
    std::vector<uint8_t> canvas(DzOqcEngine::kScratchBytes);
    DzOqcEngine queue(&TDelivered::Output, &delivered, &log);
    const TPipelineConfig config{kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 28};
    queue.Configure(canvas.data(), &config);
    AVFrame* refused = YuyvPicture(1280, 720, 1);
    AVFrame* accepted = YuyvPicture(1280, 720, 2);
    ASSERT_NE(refused, nullptr);
    ASSERT_NE(accepted, nullptr);

    g_bRefusing = true;
    queue.Push(refused);
    for (int waited = 0; queue.WaitingFrames() != 0 && waited < 10000; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    g_bRefusing = false;
    EXPECT_GE(g_nRefused.load(), 1);
    EXPECT_EQ(queue.WaitingFrames(), 0);

    queue.Push(accepted);
    std::unique_lock guard(delivered.lock);
    delivered.arrived.wait_for(guard, std::chrono::seconds(30),
                               [&] { return !delivered.packetSizes.empty(); });
    EXPECT_EQ(delivered.packetSizes, std::vector<int>{2});
    guard.unlock();
    av_frame_free(&refused);
    av_frame_free(&accepted);
}

TEST(OutputBufferFailureTest, RunningFramesAllocateNoPictureBuffers) {
    TEngineLog log;
    TDelivered delivered;
    std::vector<uint8_t> canvas(DzOqcEngine::kScratchBytes);
    DzOqcEngine queue(&TDelivered::Output, &delivered, &log);
    const TPipelineConfig config{kModeSameSize, 1280, 720, AV_PIX_FMT_YUYV422, 1280, 720, 28};
    queue.Configure(canvas.data(), &config);
    AVFrame* picture = YuyvPicture(1280, 720, 1);
    ASSERT_NE(picture, nullptr);
    queue.Push(picture);
    ASSERT_TRUE(delivered.WaitFor(1));

    const int before = g_nLarge.load();
    for (size_t frame = 2; frame <= 6; ++frame) {
        queue.Push(picture);
        ASSERT_TRUE(delivered.WaitFor(frame));
    }
    EXPECT_EQ(g_nLarge.load(), before);
    av_frame_free(&picture);
}

}  // namespace
}  // namespace pelorn
