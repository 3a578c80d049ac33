#include "engine/TCapEngineMain.h"

#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/EngineLibrary.h"
#include "engine/VCamLayout.h"
#include "engine/VCamWriter.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

using common::ErrorTrail;

struct TDelivered {
    std::atomic<int> frames{0};
    std::atomic<int> cameraInUse{-1};
    std::atomic<int64_t> lastSequence{-1};
};

long CountFrame(unsigned char* bytes, void* user, int cameraInUse) {
    auto* delivered = static_cast<TDelivered*>(user);
    const auto* frame = reinterpret_cast<const AVFrame*>(bytes);
    delivered->lastSequence = frame->pkt_size;
    delivered->cameraInUse = cameraInUse;
    ++delivered->frames;
    return 0;
}

// A small YUYV picture, as a source would deliver it.
AVFrame* NewPicture() {
    AVFrame* frame = av_frame_alloc();
    frame->format = 1;
    frame->width = 64;
    frame->height = 4;
    av_frame_get_buffer(frame, 1);
    return frame;
}

TCapOpenParam NoSourceParam(int16_t format = 28) {
    TCapOpenParam param = TCapOpenParam::WithoutSources(1920, 1080, format, 30);
    param.actualFormat = {1, 2, 3, 4, 5, 6};
    return param;
}

class TCapEngineMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        ErrorTrail::Take();
        // As the factory does: the run-time modules the compositor sets up with.
        ASSERT_TRUE(PrepareEngineCreation());
        // CTest runs these cases side by side: each process its own block.
        const std::string suffix = "_engine_" + std::to_string(getpid());
        VCamWriter::OverrideNamesForTesting(vcam::kMappingName + suffix, vcam::kEventName + suffix);
        m_engine = std::make_unique<TCapEngineMain>(&CountFrame, &m_delivered, 0xFFFFFFFF);
    }
    void TearDown() override {
        m_engine.reset();
        VCamWriter::OverrideNamesForTesting("", "");
    }

    TDelivered m_delivered;
    std::unique_ptr<TCapEngineMain> m_engine;
};

TEST_F(TCapEngineMainTest, OpenWithUnsupportedColourFormatFailsAndStartsNothing) {
    TCapOpenParam param = NoSourceParam(2);
    EXPECT_EQ(m_engine->Open(&param), 1);
    EXPECT_EQ(ErrorTrail::Take(), "不支持的颜色输出格式\r");
    EXPECT_EQ(m_engine->GetOpenParam(), nullptr);

    AVFrame* frame = NewPicture();
    m_engine->DoInputPin(frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_engine->OutputQueue().WaitingFrames(), 1);  // no worker runs
    EXPECT_EQ(m_delivered.frames.load(), 0);
    av_frame_free(&frame);
}

TEST_F(TCapEngineMainTest, OpenWithoutARecordFails) {
    EXPECT_EQ(m_engine->Open(nullptr), 1);
    EXPECT_EQ(ErrorTrail::Take(), "pOpenParam = NULL\r");
}

TEST_F(TCapEngineMainTest, EachAcceptedColourFormatOpens) {
    for (int16_t format : {3, 28, 1}) {
        TCapOpenParam param = NoSourceParam(format);
        EXPECT_EQ(m_engine->Open(&param), 0) << format;
    }
    EXPECT_EQ(ErrorTrail::Take(), "");
}

TEST_F(TCapEngineMainTest, SourceKindsNotBuiltYetFailAsAnUnopenedMainSource) {
    for (int16_t kind : {kCapSourceCamera, kCapSourceFile, kCapSourceScreen}) {
        TCapOpenParam param = NoSourceParam();
        param.sources[0].kind = kind;
        param.sources[0].name = "x";
        EXPECT_EQ(m_engine->Open(&param), 1);
        // No camera is called "x": it has no capture mode at all.
        EXPECT_EQ(ErrorTrail::Take(), kind == kCapSourceCamera ? "不支持的输出格式\r" : "主信号初始化失败\r");
        EXPECT_EQ(m_engine->GetOpenParam(), nullptr);
    }
}

TEST_F(TCapEngineMainTest, OpenKeepsACopyAndReportsTheDeliveredFormat) {
    TCapOpenParam param = NoSourceParam();
    param.sources[1].region = {0, 0, 1919, 1079};
    ASSERT_EQ(m_engine->Open(&param), 0);
    const TCapOpenParam* kept = m_engine->GetOpenParam();
    ASSERT_NE(kept, nullptr);
    EXPECT_NE(kept, &param);
    EXPECT_EQ(kept->outWidth, 1920);
    EXPECT_EQ(kept->outFormat, 28);
    EXPECT_EQ(kept->sources[1].region.right, 1919);
    EXPECT_EQ(param.actualFormat.width, kDefaultVideoFormat.width);
    EXPECT_EQ(param.actualFormat.pixelFormat, kDefaultVideoFormat.pixelFormat);

    TCapOpenParam* state = nullptr;
    EXPECT_EQ(m_engine->GetState(&state), 0);
    EXPECT_EQ(state, kept);
    EXPECT_EQ(m_engine->GetState(nullptr), 0);
}

TEST_F(TCapEngineMainTest, StopForgetsTheOpenParametersAndStopWhileNotOpenChangesNothing) {
    EXPECT_EQ(m_engine->Stop(), 0);
    EXPECT_EQ(m_engine->GetOpenParam(), nullptr);
    TCapOpenParam param = NoSourceParam();
    ASSERT_EQ(m_engine->Open(&param), 0);
    EXPECT_EQ(m_engine->Stop(), 0);
    EXPECT_EQ(m_engine->GetOpenParam(), nullptr);
    EXPECT_EQ(m_engine->Stop(), 0);
    EXPECT_EQ(ErrorTrail::Take(), "");
}

TEST_F(TCapEngineMainTest, IdenticalSecondOpenDoesNotReconfigureTheQueue) {
    TCapOpenParam param = NoSourceParam();
    ASSERT_EQ(m_engine->Open(&param), 0);
    AVFrame* frame = NewPicture();
    m_engine->DoInputPin(frame);
    ASSERT_EQ(m_engine->Open(&param), 0);
    EXPECT_EQ(m_engine->OutputQueue().InputFrameCount(), 1);
    param.outWidth = 1280;
    param.outHeight = 720;
    ASSERT_EQ(m_engine->Open(&param), 0);
    EXPECT_EQ(m_engine->OutputQueue().InputFrameCount(), 0);  // reconfigured
    av_frame_free(&frame);
}

TEST_F(TCapEngineMainTest, FramesReachTheCallbackStampedAndNumbered) {
    TCapOpenParam param = NoSourceParam();
    ASSERT_EQ(m_engine->Open(&param), 0);
    AVFrame* frame = NewPicture();
    for (int i = 0; i < 3; ++i) {
        m_engine->DoInputPin(frame);
        EXPECT_EQ(frame->pkt_size, i);
        EXPECT_GT(frame->pkt_duration, 0);
        while (m_delivered.frames.load() <= i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(m_delivered.lastSequence.load(), 2);
    EXPECT_EQ(m_delivered.cameraInUse.load(), 0);
    EXPECT_EQ(m_engine->InputCount(), 3);
    av_frame_free(&frame);
}

std::atomic<int64_t> g_fakeNow{0};
int64_t FakeClock() { return g_fakeNow.load(); }

TEST_F(TCapEngineMainTest, SteadyTwentyFiveFramesPerSecondGivePktDts2500) {
    TCapOpenParam param = NoSourceParam();
    ASSERT_EQ(m_engine->Open(&param), 0);
    platform::PerfCounter::OverrideForTesting(&FakeClock);
    g_fakeNow = 5'000'000'000;
    AVFrame* frame = NewPicture();
    std::vector<int64_t> dts;
    for (int i = 0; i < 125; ++i) {  // five seconds
        m_engine->DoInputPin(frame);
        dts.push_back(frame->pkt_dts);
        g_fakeNow += 40'000'000;
    }
    platform::PerfCounter::OverrideForTesting(nullptr);
    EXPECT_EQ(dts.front(), 0);
    EXPECT_EQ(dts[49], 0);  // the first window has not closed yet
    EXPECT_EQ(dts.back(), 2500);
    av_frame_free(&frame);
}

TEST_F(TCapEngineMainTest, NullFrameShowsTheCameraErrorAndEmptiesTheTrail) {
    std::vector<std::string> shown;
    platform::SetMessageBoxHandler([&](const std::string& text) { shown.push_back(text); });
    ErrorTrail::Add("earlier");
    m_engine->DoInputPin(nullptr);
    platform::SetMessageBoxHandler(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "摄像机读取错误， 请检查设备并重新选择摄像机\rearlier\r");
    EXPECT_EQ(ErrorTrail::Take(), "");
    EXPECT_EQ(m_engine->InputCount(), 0);
}

TEST_F(TCapEngineMainTest, ParameterListAndAccessors) {
    TCapParamList list;
    ASSERT_EQ(m_engine->GetParamList(&list), 5);
    EXPECT_EQ(list.count, 5);
    const char* names[] = {"主体抠像", "主体强化", "屏幕蒙绿", "美白", "美肤"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list.entries[i].name, names[i]);
    EXPECT_EQ(list.entries[1].minimum, -16);
    EXPECT_EQ(list.entries[2].defaultValue, 100);

    EXPECT_EQ(m_engine->GetParamFlags(2), 3);
    EXPECT_EQ(m_engine->GetParamFlags(6), 0x804);
    EXPECT_EQ(m_engine->GetParam(2), 100);
    EXPECT_EQ(m_engine->GetParam(6), -1);  // reserved: not initialised
    EXPECT_EQ(m_engine->GetParam(9), 5);
    m_engine->SetParam(300, 2);
    EXPECT_EQ(m_engine->GetParam(2), 255);
    m_engine->SetParam(-500, 0);
    EXPECT_EQ(m_engine->GetParam(0), -100);
}

TEST_F(TCapEngineMainTest, ParameterIndicesOutsideTheTableTouchNothing) {
    for (int index : {-1, 16, 1000}) {
        EXPECT_EQ(m_engine->SetParam(5, index), 0);
        EXPECT_EQ(m_engine->GetParam(index), 0);
        EXPECT_EQ(m_engine->GetParamFlags(index), 0);
    }
}

TEST_F(TCapEngineMainTest, ProcessFlagsAreReplacedWhole) {
    m_engine->SetProcessFlags(0x80 | 0x200);
    EXPECT_EQ(m_engine->GetProcessFlags(), 0x280);
    m_engine->SetProcessFlags(0x80);
    EXPECT_EQ(m_engine->GetProcessFlags(), 0x80);
}

TEST_F(TCapEngineMainTest, SetScreenRegionCopiesTheRegionOnlyWhileOpen) {
    TCapRegion region{10, 20, 30, 40};
    m_engine->SetScreenRegion(1, 1920, 1080, &region);
    TCapOpenParam param = NoSourceParam();
    ASSERT_EQ(m_engine->Open(&param), 0);
    m_engine->SetScreenRegion(1, 1920, 1080, &region);
    EXPECT_EQ(m_engine->GetOpenParam()->sources[1].region.bottom, 40);
    m_engine->SetScreenRegion(5, 1920, 1080, &region);  // no such entry: ignored
    m_engine->SetScreenRegion(0, 1920, 1080, nullptr);
    EXPECT_EQ(m_engine->GetOpenParam()->sources[0].region.left, -1);
}

TEST_F(TCapEngineMainTest, ListScreensWithoutDisplaysReturnsNone) {
    std::string names[4];
    unsigned primary = 7;
    EXPECT_EQ(m_engine->ListScreens(names, &primary, 4), 0);
    EXPECT_EQ(primary, 0u);
}

}  // namespace
}  // namespace pelorn
