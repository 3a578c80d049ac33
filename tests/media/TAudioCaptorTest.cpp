#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "console/media/TAudioCaptor.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "common/ErrorTrail.h"
#include "tests/media/PulseTestSupport.h"

namespace console {
namespace {

using namespace std::chrono_literals;

// Collects what the capture thread delivers.
struct TSink {
    std::mutex lock;
    std::vector<int16_t> samples;  // left channel
    std::vector<int64_t> lag;      // receipt time minus pts, microseconds
    int64_t firstPts = -1;
    bool opaqueOk = true;

    static void OnFrame(AVFrame* frame, void* self) {
        auto* sink = static_cast<TSink*>(self);
        std::lock_guard guard(sink->lock);
        const auto* stream = static_cast<const AVStream*>(frame->opaque);
        sink->opaqueOk = sink->opaqueOk && stream && stream->time_base.den == 1000000 &&
                         stream->start_time <= frame->pts;
        sink->lag.push_back(av_gettime_relative() - frame->pts);
        if (sink->firstPts < 0) sink->firstPts = frame->pts;
        const auto* data = reinterpret_cast<const int16_t*>(frame->data[0]);
        for (int i = 0; i < frame->nb_samples; ++i) sink->samples.push_back(data[i * 2]);
    }
    size_t Count() {
        std::lock_guard guard(lock);
        return samples.size();
    }
    // Waits (generously) until `count` samples have arrived.
    bool WaitFor(size_t count) {
        for (auto end = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < end;) {
            if (Count() >= count)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

struct TCaptorHolder {
    IAudioCaptor* captor = CreateInstance_IAudioCaptor();
    ~TCaptorHolder() { ReleaseInstance_IAudioCaptor(&captor); }
};

class AudioCaptorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new testsupport::TPulseServer();
        std::string error;
        ASSERT_TRUE(s_server->Start(&error)) << error;
        ASSERT_TRUE(s_server->PlayTone("qtest", 1000));
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    bool Open(const std::string& device) {
        const TAudioOpenParams params{device, &TSink::OnFrame, &m_sink};
        return m_holder.captor->Open(&params);
    }

    static testsupport::TPulseServer* s_server;
    TSink m_sink;
    TCaptorHolder m_holder;
};
testsupport::TPulseServer* AudioCaptorTest::s_server = nullptr;

TEST_F(AudioCaptorTest, CapturesTheToneOnTheMonotonicClock) {
    IAudioCaptor* captor = m_holder.captor;
    ASSERT_TRUE(Open("qtest.monitor")) << common::ErrorTrail::Take();
    TAudioSrcFormat format{};
    EXPECT_EQ(captor->GetFormatRecord(&format), kAudioOpen);
    EXPECT_EQ(format.sampleFormat, 1);
    EXPECT_EQ(format.sampleRate, 44100);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(captor->GetLastPtsUs(), -1);
    const int64_t startedUs = av_gettime_relative();
    EXPECT_EQ(captor->Start(), 1);
    EXPECT_EQ(captor->GetFormat(nullptr, nullptr, nullptr), kAudioCapturing);

    ASSERT_TRUE(m_sink.WaitFor(4410));
    const int64_t first = captor->GetLastPtsUs();
    ASSERT_TRUE(m_sink.WaitFor(m_sink.Count() + 44100));
    EXPECT_GT(captor->GetLastPtsUs(), first);
    captor->Stop();
    EXPECT_EQ(captor->GetFormat(nullptr, nullptr, nullptr), kAudioClosed);

    std::lock_guard guard(m_sink.lock);
    EXPECT_TRUE(m_sink.opaqueOk);
    // What the server delivered while the input was being opened is older
    // than Start and stays out.
    EXPECT_GE(m_sink.firstPts, startedUs);
    for (int64_t lag : m_sink.lag) {  // a realtime stamp would be years off
        EXPECT_GT(lag, -1'000'000);
        EXPECT_LT(lag, 5'000'000);
    }
    // The last second, once the tone is surely playing: 2,000 zero crossings.
    const std::vector<int16_t> tail(m_sink.samples.end() - 44100, m_sink.samples.end());
    int crossings = 0;
    for (size_t i = 1; i < tail.size(); ++i) crossings += (tail[i - 1] < 0) != (tail[i] < 0);
    EXPECT_NEAR(crossings, 2000, 100);
}

TEST_F(AudioCaptorTest, ASourceOpensByItsDescriptionToo) {
    EXPECT_TRUE(Open("Monitor of qtest")) << common::ErrorTrail::Take();
}

struct BadOpen {
    const char* device;
    bool withCallback;
    const char* text;
};
class AudioCaptorOpenTest : public AudioCaptorTest,
                            public ::testing::WithParamInterface<BadOpen> {};

TEST_P(AudioCaptorOpenTest, FailsWithItsText) {
    common::ErrorTrail::Take();
    const TAudioOpenParams params{GetParam().device,
                                  GetParam().withCallback ? &TSink::OnFrame : nullptr, &m_sink};
    EXPECT_FALSE(m_holder.captor->Open(&params));
    EXPECT_EQ(common::ErrorTrail::Take().rfind(GetParam().text, 0), 0u);
    EXPECT_EQ(m_holder.captor->GetFormat(nullptr, nullptr, nullptr), kAudioClosed);
    EXPECT_EQ(m_holder.captor->GetLastPtsUs(), -1);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, AudioCaptorOpenTest,
    ::testing::Values(BadOpen{"nosuch", true,
                              "Couldn't open input audio stream.（无法打开输入流）\n"},
                      BadOpen{"", true, "you have not set any capture device(没有指定采集设备) \n"},
                      BadOpen{"qtest.monitor", false, "参数错误\n"}));

// A server of its own, so that the suite's server stays unharmed.
class AudioCaptorServerLossTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_server.Start(&error)) << error;
        const TAudioOpenParams params{"qtest.monitor", &TSink::OnFrame, &m_sink};
        ASSERT_TRUE(m_holder.captor->Open(&params)) << common::ErrorTrail::Take();
        m_holder.captor->Start();
        ASSERT_TRUE(m_sink.WaitFor(4410));
    }

    testsupport::TPulseServer m_server;
    TSink m_sink;
    TCaptorHolder m_holder;
};

TEST_F(AudioCaptorServerLossTest, AKilledServerEndsTheThread) {
    m_server.Kill();
    size_t before = 0;
    do {  // until no frame arrives for half a second
        before = m_sink.Count();
        std::this_thread::sleep_for(500ms);
    } while (m_sink.Count() != before);
    EXPECT_EQ(m_holder.captor->GetFormat(nullptr, nullptr, nullptr), kAudioCapturing);
    m_holder.captor->Stop();
}

TEST_F(AudioCaptorServerLossTest, StopReturnsFromAFrozenServer) {
    m_server.Freeze();
    const auto start = std::chrono::steady_clock::now();
    m_holder.captor->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    const size_t after = m_sink.Count();
    m_server.Thaw();  // the thread left behind must not call back any more
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_sink.Count(), after);
}

// ALSA's "null" device delivers whatever its buffer holds, so only the
// format and the flow are checked.
TEST(AudioCaptorNoServerTest, FallsBackToAlsa) {
    testsupport::TNoPulseServer none;
    TSink sink;
    TCaptorHolder holder;
    const TAudioOpenParams params{"null", &TSink::OnFrame, &sink};
    ASSERT_TRUE(holder.captor->Open(&params)) << common::ErrorTrail::Take();
    TAudioSrcFormat format{};
    holder.captor->GetFormatRecord(&format);
    EXPECT_EQ(format.sampleRate, 44100);
    EXPECT_EQ(format.channels, 2);
    holder.captor->Start();
    EXPECT_TRUE(sink.WaitFor(4410));
    holder.captor->Stop();
}

}  // namespace
}  // namespace console
