#include <gtest/gtest.h>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "console/TImageDraw.h"

namespace console {
namespace {

class TCountingWindow final : public IDrawWindow {
public:
    void RequestRepaint() override { requests.fetch_add(1); }
    std::atomic<int> requests{0};
};

AVFrame* MakeFrame(int64_t pts) {
    AVFrame* frame = av_frame_alloc();
    frame->width = 64;
    frame->height = 36;
    frame->format = AV_PIX_FMT_BGRA;
    frame->pts = pts;
    av_frame_get_buffer(frame, 0);
    return frame;
}

// The delivering thread hands 300 frames over while the window's thread is
// stalled between two repaints: every Draw returns without it, only the
// newest frame stays referenced, one repaint is asked for, and the next
// repaint shows the newest frame.
TEST(ImageDrawHandOverTest, DrawsDuringAStalledWindowNeverWaitAndKeepOnlyTheNewest) {
    constexpr int kDraws = 300;
    TCountingWindow window;
    TImageDraw draw;
    ASSERT_EQ(draw.Init(&window), 0);
    ASSERT_EQ(draw.SetFormat(64, 36, AV_PIX_FMT_BGRA), 0);

    std::vector<AVFrame*> frames;
    for (int i = 0; i <= kDraws; ++i) frames.push_back(MakeFrame(i));

    std::mutex lock;
    std::condition_variable changed;
    bool firstShown = false, deliveryDone = false;
    int64_t shownFirst = -1, shownAfter = -1;

    std::thread windowThread([&] {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return window.requests.load() == 1; });
        draw.Redraw();
        shownFirst = draw.Shown()->pts;
        firstShown = true;
        changed.notify_all();
        // Stalled until the delivering thread has finished.
        changed.wait(hold, [&] { return deliveryDone; });
        draw.Redraw();
        shownAfter = draw.Shown()->pts;
    });

    ASSERT_EQ(draw.Draw(frames[0], {}), 0);
    {
        std::lock_guard<std::mutex> hold(lock);
        changed.notify_all();
    }
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return firstShown; });
    }
    std::thread deliverer([&] {
        for (int i = 1; i <= kDraws; ++i) EXPECT_EQ(draw.Draw(frames[i], {}), 0);
    });
    deliverer.join();

    EXPECT_EQ(window.requests.load(), 2);
    EXPECT_EQ(draw.ReplacedFrames(), kDraws - 1);
    for (int i = 1; i < kDraws; ++i) ASSERT_EQ(av_buffer_get_ref_count(frames[i]->buf[0]), 1) << i;
    EXPECT_EQ(av_buffer_get_ref_count(frames[kDraws]->buf[0]), 2);
    {
        std::lock_guard<std::mutex> hold(lock);
        deliveryDone = true;
        changed.notify_all();
    }
    windowThread.join();
    EXPECT_EQ(shownFirst, 0);
    EXPECT_EQ(shownAfter, kDraws);
    EXPECT_EQ(av_buffer_get_ref_count(frames[0]->buf[0]), 1);
    for (AVFrame*& frame : frames) av_frame_free(&frame);
}

// While the window polls, frames ask for no repaint; a frame handed over
// just before polling ends is reported so that the window takes it.
TEST(ImageDrawHandOverTest, PolledWindowIsNotWokenAndLeavingPollingReportsAWaitingFrame) {
    TCountingWindow window;
    TImageDraw draw;
    ASSERT_EQ(draw.Init(&window), 0);
    ASSERT_EQ(draw.SetFormat(64, 36, AV_PIX_FMT_BGRA), 0);
    AVFrame* frame = MakeFrame(7);
    draw.SetPolled(true);
    std::thread deliverer([&] { EXPECT_EQ(draw.Draw(frame, {}), 0); });
    deliverer.join();
    EXPECT_EQ(window.requests.load(), 0);
    EXPECT_TRUE(draw.SetPolled(false));
    ASSERT_TRUE(draw.Redraw());
    EXPECT_EQ(draw.Shown()->pts, 7);
    EXPECT_FALSE(draw.SetPolled(false));
    av_frame_free(&frame);
}

}  // namespace
}  // namespace console
