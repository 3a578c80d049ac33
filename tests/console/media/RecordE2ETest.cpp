// The recorder against real peers: nginx's RTMP module and an ffmpeg reading
// UDP MPEG-TS, both on 127.0.0.1; and corvane-cli killed mid-recording.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"
#include "tests/ChildProcess.h"
#include "tests/console/media/NginxServer.h"
#include "tests/console/media/RecordTestSupport.h"

namespace {

using namespace mediatest;
using testsupport::TChildProcess;
using Clock = std::chrono::steady_clock;

constexpr int64_t kFrameUs = 1000000 / 30;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Video and audio for `seconds` at about real speed; times continue from *at.
void PushMedia(console::TRecord& recorder, AVStream* stream, double seconds, int64_t* at) {
    const int frames = static_cast<int>(seconds * 30);
    for (int i = 0; i < frames; ++i) {
        auto picture = MakePicture(320, 240, AV_PIX_FMT_NV12, i);
        picture->pts = *at;
        picture->opaque = stream;
        recorder.PushVideo(picture.get());
        auto audio = MakeAudio(1600, 2, 48000, *at, stream);
        recorder.PushAudio(audio.get());
        *at += kFrameUs;
        std::this_thread::sleep_for(std::chrono::microseconds(kFrameUs));
    }
}

console::RecordParams PushParams() {
    auto params = VideoParams(320, 240);
    AddAudio(params);
    return params;
}

class RecordE2ETest : public testing::Test {
protected:
    void SetUp() override {
        common::ErrorTrail::Take();
        ASSERT_TRUE(m_server.Start()) << m_server.Log();
        m_pRecorder = MakeRecorder(m_folder);
    }

    TTempFolder m_folder;
    TNginxServer m_server{m_folder.Path()};
    TStreamRecord m_stream{{1, 1000000}, -1};
    std::unique_ptr<console::TRecord> m_pRecorder;
    int64_t m_nAt = 3000000;
};

// The push read back from nginx's copy and from an ffmpeg listening on UDP:
// every encoded frame arrives, in rising dts order.
TEST_F(RecordE2ETest, PushReadsBackFromNginxAndUdp) {
    const int udpPort = FreePort(SOCK_DGRAM);
    const std::string udpCopy = m_folder / "udp.ts";
    TChildProcess reader;
    ASSERT_TRUE(reader.Start({FFMPEG_PATH, "-nostdin", "-v", "error", "-y", "-i",
                              "udp://127.0.0.1:" + std::to_string(udpPort) + "?timeout=3000000&fifo_size=100000",
                              "-c", "copy", "-f", "mpegts", udpCopy},
                             m_folder / "ffmpeg.err"));
    ASSERT_TRUE(testsupport::WaitFor([&] { return !CanBind(SOCK_DGRAM, udpPort); }))
        << "ffmpeg does not listen";
    const std::string file = m_folder / "local.mkv";
    ASSERT_EQ(OpenRecorder(*m_pRecorder, {m_server.Url(), "udp://127.0.0.1:" + std::to_string(udpPort) + "?pkt_size=1316", file},
                           PushParams()),
              0)
        << common::ErrorTrail::Peek();
    PushMedia(*m_pRecorder, m_stream.Get(), 3, &m_nAt);
    m_pRecorder->Close();
    const auto stats = m_pRecorder->Stats();
    EXPECT_EQ(reader.WaitForExit(20000), 0) << reader.Stderr();
    m_server.Quit();
    const auto local = ReadBack(file);
    ASSERT_EQ(local.streams.size(), 2u);
    for (const std::string& copy : {m_server.Recording(), udpCopy}) {
        const auto info = ReadBack(copy);
        ASSERT_EQ(info.streams.size(), 2u) << copy;
        const auto& video = info.streams[0].codec == "h264" ? info.streams[0] : info.streams[1];
        const auto& audio = info.streams[0].codec == "h264" ? info.streams[1] : info.streams[0];
        EXPECT_EQ(video.packets, local.streams[0].packets) << copy;
        EXPECT_EQ(video.pixelFormat, AV_PIX_FMT_YUV420P) << copy;
        EXPECT_TRUE(video.dtsRising) << copy;
        EXPECT_EQ(audio.codec, "aac") << copy;
        EXPECT_NEAR(video.durationSec - video.firstPtsSec, 3.0, 0.2) << copy;
    }
    EXPECT_EQ(stats.VideoDrops(), 0);
    EXPECT_EQ(common::ErrorTrail::Take(), "");
}

// nginx killed mid-push: the file keeps recording, the push reports its error.
TEST_F(RecordE2ETest, KilledServerLeavesTheFileRecording) {
    const std::string file = m_folder / "local.mp4";
    ASSERT_EQ(OpenRecorder(*m_pRecorder, {m_server.Url(), file}, PushParams()), 0);
    PushMedia(*m_pRecorder, m_stream.Get(), 1, &m_nAt);
    m_server.Kill();
    PushMedia(*m_pRecorder, m_stream.Get(), 2, &m_nAt);
    m_pRecorder->Close();
    const auto stats = m_pRecorder->Stats();
    ASSERT_EQ(stats.outputs.size(), 2u);
    EXPECT_TRUE(stats.outputs[0].failed);
    EXPECT_GT(stats.outputs[0].errors, 0);
    EXPECT_FALSE(stats.outputs[1].failed);
    EXPECT_NE(common::ErrorTrail::Take().find("TStream::Push"), std::string::npos);
    const auto info = ReadBack(file);
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_EQ(info.streams[0].packets, stats.videoEncoded);
}

// nginx killed mid-push and started again 3 s later on its port: the push
// reopens and the server's second recording reads back from a keyframe.
TEST_F(RecordE2ETest, PushReconnectsToARestartedServer) {
    ASSERT_EQ(OpenRecorder(*m_pRecorder, {m_server.Url(), m_folder / "local.ts"}, PushParams()), 0);
    PushMedia(*m_pRecorder, m_stream.Get(), 1, &m_nAt);
    m_server.Kill();
    std::filesystem::remove(m_server.Recording());
    const auto killedAt = Clock::now();
    std::thread restart([&] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        for (int attempt = 0; attempt < 20 && !m_server.StartOn(m_server.Port()); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    // Real time, past the second attempt at 6 s and two more gops.
    while (SecondsSince(killedAt) < 9) PushMedia(*m_pRecorder, m_stream.Get(), 0.5, &m_nAt);
    restart.join();
    const auto before = m_pRecorder->Stats();
    m_pRecorder->Close();
    m_server.Quit();
    ASSERT_EQ(before.outputs.size(), 2u);
    EXPECT_FALSE(before.outputs[0].failed);
    const auto copy = ReadBack(m_server.Recording());
    ASSERT_EQ(copy.streams.size(), 2u);
    EXPECT_GT(copy.streams[0].packets + copy.streams[1].packets, 60);
    common::ErrorTrail::Take();
}

// A stopped server holds neither Open nor Close beyond the network limit.
TEST_F(RecordE2ETest, StoppedServerHoldsNeitherOpenNorClose) {
    ASSERT_EQ(OpenRecorder(*m_pRecorder, {m_server.Url(), m_folder / "a.ts"}, PushParams()), 0);
    PushMedia(*m_pRecorder, m_stream.Get(), 0.5, &m_nAt);
    m_server.Pause();
    PushMedia(*m_pRecorder, m_stream.Get(), 1, &m_nAt);
    auto start = Clock::now();
    m_pRecorder->Close();
    const double closeSeconds = SecondsSince(start);
    EXPECT_LT(closeSeconds, 6.0);

    auto second = MakeRecorder(m_folder);
    start = Clock::now();
    EXPECT_EQ(OpenRecorder(*second, {m_server.Url("t")}, PushParams()), 1);
    const double openSeconds = SecondsSince(start);
    EXPECT_LT(openSeconds, 6.0);
    std::printf("stopped server: Close %.2f s, Open %.2f s\n", closeSeconds, openSeconds);
    common::ErrorTrail::Take();
}

// Frames the runner reported encoded by its file recorder, summed over its
// per-second lines ("  file: in N enc M ...").
int64_t ReportedFileFrames(const std::string& out) {
    int64_t frames = 0;
    for (size_t at = out.find("  file: in "); at != std::string::npos; at = out.find("  file: in ", at + 1)) {
        const size_t enc = out.find(" enc ", at);
        if (enc != std::string::npos) frames += std::strtoll(out.c_str() + enc + 5, nullptr, 10);
    }
    return frames;
}

// corvane-cli killed 10 s into a four-container recording: every file holds
// what was encoded up to 2 s before the kill.
TEST(CliE2ETest, KilledRunnerLeavesPlayableFiles) {
    TTempFolder folder;
    TChildProcess cli;
    ASSERT_TRUE(cli.Start({CORVANE_CLI_PATH, AV_SAMPLE_PATH, "--seconds", "60", "--types", "15",
                           "--record-dir", folder.Path(), "--feed", "tone", "--no-vcam"},
                          folder / "cli.err", folder / "cli.out"));
    ASSERT_TRUE(testsupport::WaitFor([&] { return cli.Stdout().find("recording") != std::string::npos; }, 30000))
        << cli.Stderr();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.WaitForExit(), 128 + SIGKILL);
    const int64_t reported = ReportedFileFrames(cli.Stdout());
    EXPECT_GT(reported, 0);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        if (entry.path().filename().string().rfind("TRec_", 0) != 0) continue;
        ++files;
        const auto info = ReadBack(entry.path().string());
        ASSERT_TRUE(info.opened) << entry.path();
        ASSERT_GE(info.streams.size(), 1u) << entry.path();
        EXPECT_EQ(info.streams[0].codec, "h264") << entry.path();
        EXPECT_GE(info.streams[0].packets, reported - 2 * 30) << entry.path();
    }
    EXPECT_EQ(files, 4);
}

}  // namespace
