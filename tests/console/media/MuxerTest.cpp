#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "console/media/CFFMpegVEnc.h"
#include "console/media/MediaCodes.h"
#include "console/media/TMuxer.h"
#include "tests/console/media/MediaTestSupport.h"
#include "tests/console/media/LoopbackSockets.h"

namespace {

using console::TMuxer;

class ContainerTest : public testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(ContainerTest, FollowsTheDestination) {
    const auto [destination, format] = GetParam();
    const char* chosen = console::ContainerFor(destination);
    EXPECT_STREQ(chosen == nullptr ? "" : chosen, format);
}

INSTANTIATE_TEST_SUITE_P(Destinations, ContainerTest,
                         testing::Values(std::make_tuple("rtmp://127.0.0.1/live/s", "flv"),
                                         std::make_tuple("RTMP://127.0.0.1/live/s", "flv"),
                                         std::make_tuple("udp://127.0.0.1:1234", "mpegts"),
                                         std::make_tuple("UDP://127.0.0.1:1234", "mpegts"),
                                         std::make_tuple("/tmp/a.mkv", "")));

// Writes `seconds` of 30 fps video to `path`; `closeAtEnd` false leaves the
// file as a killed process would.
void WriteVideo(const std::string& path, int seconds, bool closeAtEnd) {
    console::CFFMpegVEnc encoder;
    TMuxer muxer;
    if (encoder.Open(27, 320, 240, AVRational{1, 30}, 30, 500000) != 0) return;
    if (muxer.Open(path) != 0 || muxer.AddStream(encoder.CodecContext()) != 0 || muxer.Start() != 0)
        return;
    AVPacket* packet = nullptr;
    for (int i = 0; i < seconds * 30; ++i) {
        auto frame = mediatest::MakePicture(320, 240, AV_PIX_FMT_NV12, i);
        const int64_t captureUs = i * int64_t{1000000} / 30;
        if (encoder.Encode(&packet, frame.get(), &captureUs) == 0 && packet != nullptr)
            muxer.Write(0, packet, AVRational{1, 1000000});
    }
    if (!closeAtEnd) return;
    while (encoder.Encode(&packet, nullptr, nullptr) == 0) muxer.Write(0, packet, {1, 1000000});
    muxer.Close();
}

class KilledRecordingTest : public testing::TestWithParam<const char*> {};

// A process killed while writing leaves a file that plays to within its last
// second: fragmented MP4, Matroska with clusters of at most 1 s.
TEST_P(KilledRecordingTest, KeepsAllButTheLastSecond) {
    mediatest::TTempFolder folder;
    const std::string path = folder / (std::string("killed.") + GetParam());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WriteVideo(path, 4, false);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const auto info = mediatest::ReadBack(path);
    ASSERT_TRUE(info.opened);
    ASSERT_EQ(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].codec, "h264");
    EXPECT_EQ(info.streams[0].pixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_GE(info.streams[0].durationSec, 2.9);
}

INSTANTIATE_TEST_SUITE_P(Containers, KilledRecordingTest, testing::Values("mp4", "mkv"));

TEST(MuxerTest, AudioOnAVideoOnlyOutputFails) {
    mediatest::TTempFolder folder;
    console::CFFMpegVEnc encoder;
    ASSERT_EQ(encoder.Open(27, 320, 240, AVRational{1, 30}, 30, 500000), 0);
    TMuxer muxer;
    ASSERT_EQ(muxer.Open(folder / "video.mkv"), 0);
    EXPECT_STREQ(muxer.FormatName(), "matroska");
    ASSERT_EQ(muxer.AddStream(encoder.CodecContext()), 0);
    ASSERT_EQ(muxer.Start(), 0);
    EXPECT_EQ(muxer.AddStream(encoder.CodecContext()), console::kResultFail);
    AVPacket* packet = av_packet_alloc();
    av_new_packet(packet, 16);
    EXPECT_EQ(muxer.Write(1, packet, AVRational{1, 48000}), console::kResultFail);
    EXPECT_EQ(muxer.PacketsWritten(), 0);
    av_packet_free(&packet);
    muxer.Close();
    muxer.Close();
}

// A server that accepts and never answers: the connect ends with an error
// after the network limit instead of hanging.
TEST(MuxerTest, SilentServerEndsTheOpen) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = mediatest::LoopbackAddress(0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    TMuxer muxer;
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/live/s";
    EXPECT_LT(muxer.Open(url), 0);
    close(listener);
}

}  // namespace
