#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/console/media/RecordTestSupport.h"

namespace {

using namespace mediatest;

// Close while the video and the audio thread keep pushing: every push
// returns, pushes after Close are refused and the file is finished.
TEST(RecordThreadedTest, CloseRacesPushes) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord video({1, 1000000}, -1);
    TStreamRecord audio({1, 1000000}, 0);
    for (int round = 0; round < 3; ++round) {
        auto params = VideoParams(160, 120);
        AddAudio(params);
        const std::string name = folder / ("race" + std::to_string(round) + ".mkv");
        ASSERT_EQ(OpenRecorder(*recorder, {name}, params), 0);
        std::atomic<bool> stop{false};
        std::atomic<int> refusedAudio{0};
        std::thread videoThread([&] {
            auto frame = MakePicture(160, 120, AV_PIX_FMT_NV12);
            frame->opaque = video.Get();
            for (int64_t i = 0; !stop; ++i) {
                frame->pts = 3000000 + i * 33333;
                recorder->PushVideo(frame.get());
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        // Each thread keeps one frame until it ends: FFmpeg's reference
        // counts are atomics the thread sanitizer does not see, so a buffer
        // freed by the pusher while the worker had read it would look racy.
        std::thread audioThread([&] {
            auto frame = MakeAudio(480, 2, 48000, 0, audio.Get());
            for (int64_t i = 0; !stop; ++i) {
                frame->pts = i * 10000;
                if (recorder->PushAudio(frame.get()) == -1) ++refusedAudio;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        recorder->Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
        videoThread.join();
        audioThread.join();
        EXPECT_GT(refusedAudio, 0);
        const auto info = ReadBack(name);
        ASSERT_TRUE(info.opened) << name;
        EXPECT_GT(info.streams[0].packets, 0) << name;
    }
}

}  // namespace
