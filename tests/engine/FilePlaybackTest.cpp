// A media file as the engine's main source: opening it, the scaling mode its
// size gives, playback through the output queue, and reopening.

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/ErrorTrail.h"
#include "engine/EngineLibrary.h"
#include "engine/TCapEngineMain.h"

namespace pelorn {
namespace {

using common::ErrorTrail;

std::string Media(const char* name) { return std::string(QUINDLE_TEST_MEDIA_DIR) + "/" + name; }

struct TOutput {
    std::atomic<int> frames{0};
    std::atomic<int64_t> lastPts{-1};
    std::atomic<bool> wrongShape{false};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    std::atomic<int> format{0};
};

long OnFrame(unsigned char* bytes, void* user, int) {
    auto* output = static_cast<TOutput*>(user);
    const auto* frame = reinterpret_cast<const AVFrame*>(bytes);
    if (frame->width != output->width || frame->height != output->height ||
        frame->format != output->format || frame->data[0] == nullptr) {
        output->wrongShape = true;
    }
    output->lastPts = frame->pts;
    ++output->frames;
    return 0;
}

TCapOpenParam FileParam(const std::string& path, int16_t width = 1280, int16_t height = 720,
                        int16_t format = 28) {
    TCapOpenParam param;
    param.sources[0].kind = kCapSourceFile;
    param.sources[0].name = path;
    param.sources[1].kind = kCapSourceNone;
    param.outWidth = width;
    param.outHeight = height;
    param.outFormat = format;
    param.outFrameRate = 30;
    return param;
}

class FilePlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_QUIET);
        ErrorTrail::Take();
        m_output.width = 1280;
        m_output.height = 720;
        m_output.format = 28;
        // What the factory does first: the modules the engine loads.
        ASSERT_TRUE(PrepareEngineCreation());
        m_engine = std::make_unique<TCapEngineMain>(&OnFrame, &m_output, 0);
    }

    // The bound only has to tell "plays" from "stuck": under the thread
    // sanitizer on a busy machine the engine delivers a frame a second or
    // less, dropping the rest as late.
    bool WaitForFrames(int count, int limit_ms = 90000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        while (m_output.frames.load() < count) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    TOutput m_output;
    std::unique_ptr<TCapEngineMain> m_engine;
};

TEST_F(FilePlaybackTest, FileOfTheOutputSizePlaysAndReportsItsFormat) {
    TCapOpenParam param = FileParam(Media("pic_1280x720_30.mkv"));
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    EXPECT_EQ(param.actualFormat.width, 1280);
    EXPECT_EQ(param.actualFormat.height, 720);
    EXPECT_EQ(param.actualFormat.pixelFormat, 0);
    EXPECT_EQ(param.actualFormat.frameRate, 30);
    EXPECT_EQ(m_engine->OutputQueue().Config().mode, kModeSameSize);
    EXPECT_EQ(m_engine->GetState(nullptr), 2);

    ASSERT_TRUE(WaitForFrames(20));  // more than the file holds: it loops
    EXPECT_FALSE(m_output.wrongShape.load());

    m_engine->Stop();
    EXPECT_EQ(m_engine->GetState(nullptr), 0);
    const int frames = m_output.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // What waited in the queue, and the frame the worker was handing over
    // while Stop returned.
    EXPECT_LE(m_output.frames.load(), frames + DzOqcEngine::kMaxBacklog + 1);
    EXPECT_EQ(ErrorTrail::Take(), "");
}

TEST_F(FilePlaybackTest, SmallerFileIsScaledUpAndLargerScaledDown) {
    TCapOpenParam smaller = FileParam(Media("pic_640x360_30.mkv"));
    ASSERT_EQ(m_engine->Open(&smaller), 0) << ErrorTrail::Peek();
    EXPECT_EQ(m_engine->OutputQueue().Config().mode, kModeScaleUp);
    EXPECT_EQ(smaller.actualFormat.width, 640);

    TCapOpenParam larger = FileParam(Media("pic_1920x1080_30.mkv"));
    ASSERT_EQ(m_engine->Open(&larger), 0) << ErrorTrail::Peek();
    EXPECT_EQ(m_engine->OutputQueue().Config().mode, kModeScaleDown);
    EXPECT_EQ(larger.actualFormat.height, 1080);
    ASSERT_TRUE(WaitForFrames(3));
    EXPECT_FALSE(m_output.wrongShape.load());
}

TEST_F(FilePlaybackTest, WiderButLowerFileIsRefused) {
    TCapOpenParam param = FileParam(Media("pic_1920x480_30.mkv"));
    EXPECT_EQ(m_engine->Open(&param), 1);
    EXPECT_EQ(ErrorTrail::Take(), "不支持的文件格式\r");
    EXPECT_EQ(m_engine->GetOpenParam(), nullptr);
    EXPECT_EQ(m_engine->GetState(nullptr), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_output.frames.load(), 0);  // and not left playing
}

TEST_F(FilePlaybackTest, FileThatCannotBeOpenedFailsAsTheMainSource) {
    TCapOpenParam missing = FileParam(Media("no-such-file.mkv"));
    EXPECT_EQ(m_engine->Open(&missing), 1);
    EXPECT_EQ(ErrorTrail::Take(), "主信号初始化失败\r");
    TCapOpenParam audioOnly = FileParam(Media("audio_only.m4a"));
    EXPECT_EQ(m_engine->Open(&audioOnly), 1);
    EXPECT_EQ(ErrorTrail::Take(), "主信号初始化失败\r");
}

TEST_F(FilePlaybackTest, SecondIdenticalOpenKeepsTheFileRunning) {
    TCapOpenParam param = FileParam(Media("pic_1280x720_30.mkv"));
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    ASSERT_TRUE(WaitForFrames(10));
    const int32_t queued = m_engine->OutputQueue().InputFrameCount();
    const int64_t ptsBefore = m_output.lastPts.load();

    TCapOpenParam again = FileParam(Media("pic_1280x720_30.mkv"));
    ASSERT_EQ(m_engine->Open(&again), 0);
    EXPECT_EQ(again.actualFormat.width, 1280);
    EXPECT_EQ(m_engine->GetState(nullptr), 2);
    // Neither the queue was reconfigured nor the file restarted: its time
    // stamps go on from where they were.
    EXPECT_GE(m_engine->OutputQueue().InputFrameCount(), queued);
    const int frames = m_output.frames.load();
    ASSERT_TRUE(WaitForFrames(frames + 3));
    EXPECT_GT(m_output.lastPts.load(), ptsBefore);

    // Another output size does reopen.
    m_output.width = 1920;
    m_output.height = 1080;
    TCapOpenParam bigger = FileParam(Media("pic_1280x720_30.mkv"), 1920, 1080);
    ASSERT_EQ(m_engine->Open(&bigger), 0);
    EXPECT_EQ(m_engine->OutputQueue().Config().mode, kModeScaleUp);
    EXPECT_LT(m_engine->OutputQueue().InputFrameCount(), queued);
}

TEST_F(FilePlaybackTest, AfterAFailedOpenTheSameFileOpensAgain) {
    TCapOpenParam param = FileParam(Media("pic_640x360_30.mkv"));
    ASSERT_EQ(m_engine->Open(&param), 0);
    TCapOpenParam refused = FileParam(Media("pic_1920x480_30.mkv"));
    ASSERT_EQ(m_engine->Open(&refused), 1);  // stops the running file
    ErrorTrail::Take();

    // The engine still holds the first file's parameters; it must not take
    // the stopped file for a running one.
    TCapOpenParam again = FileParam(Media("pic_640x360_30.mkv"));
    ASSERT_EQ(m_engine->Open(&again), 0);
    EXPECT_EQ(m_engine->GetState(nullptr), 2);
    const int frames = m_output.frames.load();
    EXPECT_TRUE(WaitForFrames(frames + 5));
}

TEST_F(FilePlaybackTest, YuyvOutputFromAFile) {
    m_output.format = 1;
    TCapOpenParam param = FileParam(Media("pic_1280x720_30.mkv"), 1280, 720, 1);
    ASSERT_EQ(m_engine->Open(&param), 0);
    EXPECT_TRUE(m_engine->OutputQueue().Stage(kStageOutConvert).toOutput);
    ASSERT_TRUE(WaitForFrames(3));
    EXPECT_FALSE(m_output.wrongShape.load());
}

TEST_F(FilePlaybackTest, ReleasingAPlayingEngineStopsTheFile) {
    TCapOpenParam param = FileParam(Media("pic_640x360_30.mkv"));
    ASSERT_EQ(m_engine->Open(&param), 0);
    ASSERT_TRUE(WaitForFrames(3));
    m_engine.reset();
    const int frames = m_output.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_output.frames.load(), frames);
}

}  // namespace
}  // namespace pelorn
