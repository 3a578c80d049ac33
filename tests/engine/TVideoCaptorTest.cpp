#include "engine/capture/TVideoCaptor.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
}

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"
#include "tests/engine/CameraTestSupport.h"

namespace pelorn {
namespace {

using common::ErrorTrail;
using Clock = std::chrono::steady_clock;

std::string Media(const char* name) { return std::string(QUINDLE_TEST_MEDIA_DIR) + "/" + name; }

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct TReceiver {
    std::atomic<int> pictures{0};
    std::atomic<int> nulls{0};
    std::atomic<void*> opaque{nullptr};
    std::atomic<bool> block{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> keep{false};
    std::atomic<AVFrame*> kept{nullptr};
    std::atomic<int64_t> firstPts{AV_NOPTS_VALUE};

    static void Callback(AVFrame* frame, void* user) {
        TReceiver& self = *static_cast<TReceiver*>(user);
        if (frame == nullptr) {
            ++self.nulls;
            return;
        }
        self.opaque = frame->opaque;
        int64_t none = AV_NOPTS_VALUE;
        self.firstPts.compare_exchange_strong(none, frame->best_effort_timestamp);
        if (self.keep && self.kept == nullptr) self.kept = av_frame_clone(frame);
        ++self.pictures;
        while (self.block) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        self.returned = true;
    }
};

class VideoCaptorTest : public testing::Test {
protected:
    void TearDown() override {
        m_captor.Stop();
        unsetenv("QUINDLE_CAMERA_STANDIN");
        ErrorTrail::Take();
    }
    void UseStandin(const std::string& camera) { setenv("QUINDLE_CAMERA_STANDIN", camera.c_str(), 1); }

    TCamOpenParam Param(int width, int height, int rate = 30, int pixelFormat = -1) {
        TCamOpenParam param;
        param.deviceName = "Cam";
        param.width = width;
        param.height = height;
        param.frameRate = rate;
        param.pixelFormat = pixelFormat;
        param.callback = &TReceiver::Callback;
        param.user = &m_receiver;
        return param;
    }
    int Open(TCamOpenParam param, TCapVideoFormat* actual = nullptr) { return m_captor.Open(&param, actual); }
    std::string FirstTrailText() {
        const std::string trail = ErrorTrail::Take();
        return trail.substr(0, trail.find('\r'));
    }

    TReceiver m_receiver;
    TVideoCaptor m_captor;
};

const char kRawStandin[] = "Cam|320x240@30|lavfi|testsrc2=size=320x240:rate=30,format=yuyv422";

struct TOpenCase {
    const char* label;
    std::string standin;
    int pixelFormat;     // requested
    int16_t delivered;   // the decoder's pixel format
};

class VideoCaptorOpenTest : public VideoCaptorTest, public testing::WithParamInterface<TOpenCase> {};

TEST_P(VideoCaptorOpenTest, OpensDeliversAndMatches) {
    UseStandin(GetParam().standin);
    TCapVideoFormat actual{};
    ASSERT_EQ(Open(Param(320, 240, 30, GetParam().pixelFormat), &actual), 1) << ErrorTrail::Peek();
    EXPECT_EQ(actual.width, 320);
    EXPECT_EQ(actual.height, 240);
    EXPECT_EQ(actual.pixelFormat, GetParam().delivered);
    EXPECT_EQ(actual.frameRate, 30);
    TCapVideoFormat format{};
    EXPECT_EQ(m_captor.GetFormat(&format), 1);
    EXPECT_EQ(format.pixelFormat, GetParam().delivered);

    TCapVideoFormat request{320, 240, static_cast<int16_t>(GetParam().pixelFormat), 30, 0, 0};
    TCapVideoFormat* held = m_captor.MatchOpen("Cam", &request);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->width, 320);
    request.frameRate = 25;
    EXPECT_EQ(m_captor.MatchOpen("Cam", &request), nullptr);
    request.frameRate = 30;
    EXPECT_EQ(m_captor.MatchOpen("Cam2", &request), nullptr);

    EXPECT_EQ(m_captor.Start(), 1);
    EXPECT_EQ(m_captor.GetState(), 2);
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.pictures >= 5; }));
    EXPECT_EQ(m_receiver.opaque, m_captor.GetStream());
    m_captor.Stop();
    EXPECT_EQ(m_captor.GetState(), 0);
    EXPECT_EQ(m_captor.GetStream(), nullptr);
    EXPECT_EQ(m_receiver.nulls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    StandIns, VideoCaptorOpenTest,
    testing::Values(TOpenCase{"raw", kRawStandin, 1, 1},
                    TOpenCase{"mjpeg", "Cam|320x240@30|mjpeg|" + Media("cam_320x240_30.mjpeg"), -2, 13}),
    [](const testing::TestParamInfo<TOpenCase>& info) { return std::string(info.param.label); });

// A live camera keeps capturing while its receiver is still being set up;
// what it captured then must not arrive in a heap once Start is called.
TEST_F(VideoCaptorTest, PicturesCapturedBeforeStartAreNotDelivered) {
    UseStandin("Cam|320x240@30|lavfi|testsrc2=size=320x240:rate=30,format=yuyv422,realtime");
    ASSERT_EQ(Open(Param(320, 240)), 1) << ErrorTrail::Peek();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the receiver's set-up: 18 pictures
    EXPECT_EQ(m_receiver.pictures, 0);
    m_captor.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.pictures > 0; }));
    const int64_t first = av_rescale_q(m_receiver.firstPts, m_captor.GetStream()->time_base, AVRational{1, 30});
    EXPECT_GE(first, 9) << "picture " << first << " was delivered first";
}

TEST_F(VideoCaptorTest, RefusesBadParametersWithTheirTexts) {
    TCamOpenParam noName = Param(320, 240);
    noName.deviceName.clear();
    EXPECT_EQ(Open(noName), 0);
    EXPECT_EQ(FirstTrailText(), "you have not set any capture device(没有指定采集设备) \n");
    TCamOpenParam noCallback = Param(320, 240);
    noCallback.callback = nullptr;
    EXPECT_EQ(Open(noCallback), 0);
    EXPECT_EQ(FirstTrailText(), "参数错误\n");
    EXPECT_EQ(m_captor.Open(nullptr, nullptr), 0);
    EXPECT_EQ(Open(Param(320, 240)), 0);  // no stand-in, no camera of that name
    EXPECT_EQ(FirstTrailText(), "Couldn't open input video stream.（无法打开输入流）\n");
    EXPECT_EQ(m_captor.GetState(), 0);
}

TEST_F(VideoCaptorTest, SizeOtherThanRequestedFailsClosed) {
    UseStandin(kRawStandin);
    for (int width : {640, 0}) {
        EXPECT_EQ(Open(Param(width, 240)), 0);
        EXPECT_EQ(FirstTrailText(), "分辨率未达到要求\n");
        EXPECT_EQ(m_captor.GetState(), 0);
        EXPECT_EQ(m_captor.GetStream(), nullptr);
    }
}

TEST_F(VideoCaptorTest, SilentPipeFailsTheFirstFrameInAboutThreeSeconds) {
    TPipe pipe;
    UseStandin("Cam|64x48@30|rawvideo|" + pipe.Url());
    const auto start = Clock::now();
    EXPECT_EQ(Open(Param(64, 48, 30, 1)), 0);
    EXPECT_EQ(FirstTrailText(), "未能打通第一帧\n");
    EXPECT_GE(MsSince(start), 2900);
    EXPECT_LT(MsSince(start), 10000);
    EXPECT_EQ(m_captor.GetState(), 0);
}

TEST_F(VideoCaptorTest, PipeFallingSilentGivesOneNullFrameAndStaysStartedUntilStop) {
    TPipe pipe;
    pipe.WriteFrames(4);
    UseStandin("Cam|64x48@30|rawvideo|" + pipe.Url());
    ASSERT_EQ(Open(Param(64, 48, 30, 1)), 1) << ErrorTrail::Peek();
    m_captor.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.nulls > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_receiver.nulls, 1);
    EXPECT_EQ(m_captor.GetState(), 2);
    m_captor.Stop();
    EXPECT_EQ(m_captor.GetState(), 0);
}

TEST_F(VideoCaptorTest, StopCutsAWaitingReaderShort) {
    TPipe pipe;
    pipe.WriteFrames(1);
    UseStandin("Cam|64x48@30|rawvideo|" + pipe.Url());
    ASSERT_EQ(Open(Param(64, 48, 30, 1)), 1) << ErrorTrail::Peek();
    m_captor.Start();
    const auto start = Clock::now();
    m_captor.Stop();
    EXPECT_LT(MsSince(start), 1000);
}

// A copy of the clip in which every `step`-th picture from the second on
// (every one with step 0) claims a size of 0 x 0, followed by `extra` copies
// with nothing but such pictures; `kept` counts the pictures left intact.
struct TDamagedClip {
    std::string path;
    int kept = 0;
    TDamagedClip(const char* folder, size_t step, int extra) {
        std::ifstream in(Media("cam_320x240_30.mjpeg"), std::ios::binary);
        const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        path = std::string(folder) + "/damaged.mjpeg";
        std::ofstream out(path, std::ios::binary);
        out << Damage(original, step, &kept);
        int none = 0;
        for (int i = 0; i < extra; ++i) out << Damage(original, 0, &none);
    }
    static std::string Damage(std::string clip, size_t step, int* kept) {
        size_t index = 0;
        for (size_t at = clip.find("\xFF\xD8\xFF"); at != std::string::npos;
             at = clip.find("\xFF\xD8\xFF", at + 3), ++index) {
            if (step == 0 ? false : step == 1 ? index == 0 : index % step != 1) {
                ++*kept;
                continue;
            }
            const size_t frameHeader = clip.find("\xFF\xC0", at);
            clip.replace(frameHeader + 5, 4, 4, '\0');
        }
        return clip;
    }
};

class VideoCaptorDamageTest : public VideoCaptorTest {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(m_folder), nullptr); }
    void TearDown() override {
        VideoCaptorTest::TearDown();
        std::filesystem::remove_all(m_folder);
    }
    char m_folder[32] = "/tmp/quindle-camera-XXXXXX";
};

TEST_F(VideoCaptorDamageTest, SkipsDamagedPictures) {
    const TDamagedClip clip(m_folder, 3, 0);
    UseStandin("Cam|320x240@30|mjpeg|" + clip.path);
    ASSERT_EQ(Open(Param(320, 240, 30, -2)), 1) << ErrorTrail::Peek();
    // A file runs ahead of any camera: waiting for Start, the reader keeps it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m_captor.Start();
    EXPECT_TRUE(WaitUntil([&] { return m_receiver.pictures >= clip.kept - 1; }));  // the first went to Open
    m_captor.Stop();
    EXPECT_EQ(m_receiver.nulls, 0);
}

TEST_F(VideoCaptorDamageTest, NothingButDamageFailsTheFirstFrame) {
    const TDamagedClip clip(m_folder, 0, 2);
    UseStandin("Cam|320x240@30|mjpeg|" + clip.path);
    EXPECT_EQ(Open(Param(320, 240, 30, -2)), 0);
    EXPECT_EQ(FirstTrailText(), "未能打通第一帧\n");
}

TEST_F(VideoCaptorDamageTest, DamageWithoutEndEndsTheReaderWithANullFrame) {
    const TDamagedClip clip(m_folder, 1, 2);
    UseStandin("Cam|320x240@30|mjpeg|" + clip.path);
    ASSERT_EQ(Open(Param(320, 240, 30, -2)), 1) << ErrorTrail::Peek();
    // The reader mostly fails before Start; its report waits for Start.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_receiver.nulls, 0);
    m_captor.Start();
    EXPECT_TRUE(WaitUntil([&] { return m_receiver.nulls > 0; }));
    EXPECT_EQ(m_receiver.pictures, 0);  // the one intact picture went to Open
}

TEST_F(VideoCaptorTest, StopLeavesAReaderBlockedInTheCallbackToFreeItself) {
    UseStandin(kRawStandin);
    ASSERT_EQ(Open(Param(320, 240)), 1) << ErrorTrail::Peek();
    m_receiver.block = true;
    m_captor.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.pictures > 0; }));
    const auto start = Clock::now();
    m_captor.Stop();
    EXPECT_GE(MsSince(start), 2900);
    EXPECT_LT(MsSince(start), 10000);
    EXPECT_EQ(m_captor.GetState(), 0);
    m_receiver.block = false;
    EXPECT_TRUE(WaitUntil([] { return TVideoCaptor::LiveSessionCount() == 0; }));
    EXPECT_EQ(m_receiver.pictures, 1);
}

TEST_F(VideoCaptorTest, APictureKeptPastStopHoldsItsSessionUntilReleased) {
    UseStandin(kRawStandin);
    const int before = TVideoCaptor::LiveSessionCount();
    ASSERT_EQ(Open(Param(320, 240)), 1) << ErrorTrail::Peek();
    m_receiver.keep = true;
    m_captor.Start();
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.kept.load() != nullptr; }));
    m_captor.Stop();
    AVFrame* kept = m_receiver.kept.exchange(nullptr);
    EXPECT_EQ(TVideoCaptor::LiveSessionCount(), before + 1);
    // Read after Stop: the sanitizers see a freed stream or picture.
    EXPECT_EQ(static_cast<const AVStream*>(kept->opaque)->codecpar->width, 320);
    EXPECT_GE(kept->data[0][0], 16);  // a limited-range luma
    av_frame_free(&kept);
    EXPECT_EQ(TVideoCaptor::LiveSessionCount(), before);
}

}  // namespace
}  // namespace pelorn

// A pooled picture buffer changes hands through FFmpeg's reference count,
// whose atomics in libavutil the thread sanitizer does not see: when the
// engine's worker lets go of a picture before the reader does, the reader's
// release is the last, and the next copy into that buffer, or the pool's
// freeing of it, looks unordered with the worker's reads.
extern "C" const char* __tsan_default_suppressions() {
    return "race:av_frame_copy\nrace:av_buffer_pool_uninit\n";
}
