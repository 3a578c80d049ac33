#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/EngineLibrary.h"
#include "engine/TCapEngineMain.h"
#include "platform/FakeCameraBackend.h"
#include "platform/MessageBox.h"
#include "tests/engine/CameraTestSupport.h"

namespace pelorn {
namespace {

using common::ErrorTrail;
using platform::FourCc;

struct TOutput {
    std::atomic<int> frames{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
};

long OnFrame(unsigned char* bytes, void* user, int) {
    auto* output = static_cast<TOutput*>(user);
    const auto* frame = reinterpret_cast<const AVFrame*>(bytes);
    output->width = frame->width;
    output->height = frame->height;
    ++output->frames;
    return 0;
}

platform::TCaptureInput Lavfi(const char* size) {
    return {"lavfi", std::string("testsrc2=size=") + size + ":rate=30,format=yuyv422", "pixel_format"};
}

class CameraEngineTest : public testing::Test {
protected:
    void SetUp() override {
        ErrorTrail::Take();
        platform::InstallCameraBackend(&m_fake);
        ASSERT_TRUE(PrepareEngineCreation());
        m_engine = std::make_unique<TCapEngineMain>(&OnFrame, &m_output, 0);
    }
    void TearDown() override {
        m_engine.reset();
        platform::InstallCameraBackend(nullptr);
        platform::SetMessageBoxHandler(nullptr);
        ErrorTrail::Take();
    }

    // A camera listing one YUYV mode at `rate`, read through `inputs` in turn.
    void AddCamera(uint32_t width, uint32_t height, uint32_t rate, std::vector<platform::TCaptureInput> inputs) {
        platform::TFakeCameraNode node;
        node.path = "/dev/video0";
        node.cardName = "Cam";
        node.formats = {{FourCc("YUYV"), {{width, height, {{1, rate}}}}}};
        node.inputs = std::move(inputs);
        m_fake.AddNode(std::move(node));
    }
    TCapOpenParam CameraParam(int16_t width, int16_t height, int16_t rate) {
        TCapOpenParam param = TCapOpenParam::WithoutSources(width, height, 28, rate);
        param.sources[0].kind = kCapSourceCamera;
        param.sources[0].name = "Cam";
        return param;
    }
    bool WaitForFrames(int count) {
        for (int waited = 0; waited < 20000 && m_output.frames < count; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return m_output.frames >= count;
    }

    platform::TFakeCameraBackend m_fake;
    TOutput m_output;
    std::unique_ptr<TCapEngineMain> m_engine;
};

TEST_F(CameraEngineTest, AFailureAtAnotherRateIsTriedOnceMoreAt30) {
    AddCamera(320, 240, 25, {Lavfi("160x120"), Lavfi("320x240")});
    TCapOpenParam param = CameraParam(320, 240, 25);
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    EXPECT_EQ(m_fake.InputCount(), 2);
    TCapVideoFormat at30{320, 240, 1, 30, 0, 0};
    EXPECT_NE(m_engine->Camera().MatchOpen("Cam", &at30), nullptr);
    EXPECT_EQ(param.actualFormat.width, 320);
    EXPECT_EQ(param.actualFormat.pixelFormat, 1);
    EXPECT_EQ(param.actualFormat.frameRate, 30);
    EXPECT_EQ(m_engine->GetState(nullptr), 2);
    EXPECT_TRUE(WaitForFrames(3));
}

TEST_F(CameraEngineTest, TheTrailCarriesEveryTryBehindTheEngineText) {
    for (int16_t rate : {25, 30}) {
        platform::TFakeCameraBackend fake;
        platform::InstallCameraBackend(&fake);
        platform::TFakeCameraNode node;
        node.path = "/dev/video0";
        node.cardName = "Cam";
        node.formats = {{FourCc("YUYV"), {{320, 240, {{1, static_cast<uint32_t>(rate)}}}}}};
        node.inputs = {Lavfi("160x120")};
        fake.AddNode(node);
        TCapOpenParam param = CameraParam(320, 240, rate);
        EXPECT_EQ(m_engine->Open(&param), 1);
        const std::string tries = rate == 30 ? "分辨率未达到要求\n\r" : "分辨率未达到要求\n\r分辨率未达到要求\n\r";
        EXPECT_EQ(ErrorTrail::Take(), "主信号初始化失败\r" + tries) << rate;
        EXPECT_EQ(m_engine->GetState(nullptr), 0);
        platform::InstallCameraBackend(&m_fake);
    }
}

TEST_F(CameraEngineTest, AnIdenticalSecondOpenReopensTheCamera) {
    AddCamera(320, 240, 30, {Lavfi("320x240")});
    TCapOpenParam param = CameraParam(320, 240, 30);
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    EXPECT_EQ(m_fake.InputCount(), 2);
    EXPECT_EQ(m_engine->GetState(nullptr), 2);
    m_engine->Stop();
    EXPECT_EQ(m_engine->Camera().GetState(), 0);
}

TEST_F(CameraEngineTest, PortraitOutputFromALandscapeCameraIsTurned) {
    AddCamera(1280, 720, 30, {Lavfi("1280x720")});
    TCapOpenParam param = CameraParam(720, 1280, 30);
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    ASSERT_TRUE(WaitForFrames(2));
    EXPECT_EQ(m_output.width, 720);
    EXPECT_EQ(m_output.height, 1280);
}

TEST_F(CameraEngineTest, ANullFrameShowsTheCameraReadTextAndTheEngineStaysOpen) {
    TPipe pipe;
    pipe.WriteFrames(3);
    AddCamera(64, 48, 30, {{"rawvideo", pipe.Url(), "pixel_format"}});
    std::mutex lock;
    std::vector<std::string> shown;
    platform::SetMessageBoxHandler([&](const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        shown.push_back(text);
    });
    TCapOpenParam param = CameraParam(64, 48, 30);
    ASSERT_EQ(m_engine->Open(&param), 0) << ErrorTrail::Peek();
    for (int waited = 0; waited < 10000; waited += 5) {
        std::lock_guard<std::mutex> guard(lock);
        if (!shown.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], "摄像机读取错误， 请检查设备并重新选择摄像机\r");
    }
    EXPECT_NE(m_engine->GetOpenParam(), nullptr);
    m_engine.reset();
}

}  // namespace
}  // namespace pelorn
