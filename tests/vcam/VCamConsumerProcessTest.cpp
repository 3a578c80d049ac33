// qndl-vcam as a child process against a writer in the test.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/VCamWriter.h"
#include "platform/PerfCounter.h"
#include "tests/ChildProcess.h"
#include "tests/vcam/VCamTestSupport.h"

namespace pelorn {
namespace {

using namespace vcam;
using namespace vcam::test;

constexpr int kBgra = 28;
constexpr int kYuyv = 1;

using testsupport::ReadWholeFile;

// ffprobe's key=value lines for the first video stream of `input`.
std::string Probe(const std::string& input) {
    const std::string command = std::string(FFPROBE_PATH) +
                                " -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=pix_fmt,width,height,nb_read_frames -of default=nw=1 " +
                                input + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
    return output;
}

// qndl-vcam with the given arguments.
class TConsumerProcess : public testsupport::TChildProcess {
public:
    bool Start(const std::vector<std::string>& args, const std::string& stderrPath) {
        std::vector<std::string> all{QNDL_VCAM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        return TChildProcess::Start(all, stderrPath);
    }
    bool WaitForStderr(const std::string& text) const {
        return WaitUntil([&] { return Stderr().find(text) != std::string::npos; });
    }
};

class VCamConsumerProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_names = UniqueNames("Consumer");
        m_dir = std::filesystem::temp_directory_path() / ("qndl-vcam-" + m_names.mapping.substr(7));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        platform::PerfCounter::OverrideForTesting(nullptr);
        std::filesystem::remove_all(m_dir);
    }

    std::vector<std::string> Args(std::vector<std::string> output) const {
        output.insert(output.end(), {"--name", m_names.mapping, "--event", m_names.event});
        return output;
    }
    std::string PathOf(const char* file) const { return (m_dir / file).string(); }

    // Creates the writer's block, resets it for 64 x 8 BGRA and opens a view.
    void StartWriter(VCamWriter& writer, TBlockView& view) const {
        ASSERT_EQ(writer.Create(), 0);
        writer.Reset(64, 8, kBgra);
        ASSERT_EQ(view.Open(m_names.mapping), 0);
    }

    // Writes `count` frames whose bytes are all `first`, `first` + 1, ...
    // with pts of the same numbers, then waits until the reader took them.
    static void WriteAndWait(VCamWriter& writer, const TBlockView& view, AVFrame* frame, int first,
                             int count) {
        for (int i = first; i < first + count; ++i) {
            std::memset(frame->data[0], i & 0xFF, static_cast<size_t>(frame->linesize[0]) * frame->height);
            frame->pts = i;
            writer.Write(frame);
        }
        ASSERT_TRUE(WaitUntil([&] { return view.ReadIndex() == view.WriteIndex(); }));
    }

    TNames m_names;
    std::filesystem::path m_dir;
};

TEST_F(VCamConsumerProcessTest, EveryFrameArrivesInOrderInTheRawOutput) {
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--out", PathOf("out.raw")}), PathOf("err.txt")));
    ASSERT_TRUE(consumer.WaitForStderr("waiting for the writer"));  // started before the writer

    VCamWriter writer(m_names.mapping, m_names.event);
    TBlockView view;
    ASSERT_NO_FATAL_FAILURE(StartWriter(writer, view));
    AVFrame* frame = NewFrame(64, 8, kBgra);
    for (int burst = 0; burst < 6; ++burst) WriteAndWait(writer, view, frame, burst * 10, 10);

    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    const std::string raw = ReadWholeFile(PathOf("out.raw"));
    constexpr size_t kFrameBytes = 64 * 8 * 4;
    ASSERT_EQ(raw.size(), 60 * kFrameBytes);
    for (size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(raw.substr(i * kFrameBytes, kFrameBytes), std::string(kFrameBytes, static_cast<char>(i)))
            << "frame " << i;
    }
    EXPECT_NE(consumer.Stderr().find("total read 60 missed 0 full 0 formats 0"), std::string::npos)
        << consumer.Stderr();
    av_frame_free(&frame);
}

TEST_F(VCamConsumerProcessTest, TheConsumersHeartbeatTurnsTheWriterStateOnAndItsEndOff) {
    platform::PerfCounter::OverrideForTesting(&TFakeClock::Read);
    VCamWriter writer(m_names.mapping, m_names.event);
    TBlockView view;
    ASSERT_NO_FATAL_FAILURE(StartWriter(writer, view));
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--discard"}), PathOf("err.txt")));

    // Each frame is read before the check that follows it: a Write without a
    // frame runs the check alone.
    AVFrame* frame = NewFrame(64, 8, kBgra);
    std::vector<int> states;
    for (int i = 0; i < 4; ++i) {
        WriteAndWait(writer, view, frame, i, 1);
        TFakeClock::AdvanceMs(600);
        states.push_back(writer.Write(nullptr));
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(view.Heartbeat().load(), 4u);

    consumer.Signal(SIGINT);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    states.clear();
    for (int i = 0; i < 3; ++i) {
        writer.Write(frame);
        TFakeClock::AdvanceMs(600);
        states.push_back(writer.Write(nullptr));
    }
    EXPECT_EQ(states, (std::vector<int>{1, 1, 0}));
    av_frame_free(&frame);
}

TEST_F(VCamConsumerProcessTest, SigtermEndsAConsumerStillWaitingForItsWriter) {
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--discard"}), PathOf("err.txt")));
    ASSERT_TRUE(consumer.WaitForStderr("waiting for the writer"));
    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    EXPECT_NE(consumer.Stderr().find("total read 0"), std::string::npos);
}

TEST_F(VCamConsumerProcessTest, AWriterThatRestartsWithAnotherFormatIsFollowed) {
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--out", PathOf("out.raw")}), PathOf("err.txt")));
    AVFrame* bgra = NewFrame(64, 8, kBgra);
    AVFrame* yuyv = NewFrame(32, 4, kYuyv);
    {
        VCamWriter first(m_names.mapping, m_names.event);
        ASSERT_EQ(first.Create(), 0);
        first.Reset(64, 8, kBgra);
        TBlockView view;
        ASSERT_EQ(view.Open(m_names.mapping), 0);
        WriteAndWait(first, view, bgra, 1, 5);
    }  // removes the block and the event
    ASSERT_FALSE(platform::TSharedMemory::Exists(m_names.mapping));

    VCamWriter second(m_names.mapping, m_names.event);
    ASSERT_EQ(second.Create(), 0);
    second.Reset(32, 4, kYuyv);
    TBlockView view;
    ASSERT_EQ(view.Open(m_names.mapping), 0);
    WriteAndWait(second, view, yuyv, 11, 5);

    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    const std::string raw = ReadWholeFile(PathOf("out.raw"));
    ASSERT_EQ(raw.size(), 5u * 2048 + 5u * 256);
    EXPECT_EQ(raw.substr(4 * 2048, 2048), std::string(2048, '\x05'));
    EXPECT_EQ(raw.substr(5 * 2048, 256), std::string(256, '\x0b'));
    EXPECT_EQ(raw.substr(5 * 2048 + 4 * 256, 256), std::string(256, '\x0f'));
    const std::string log = consumer.Stderr();
    EXPECT_NE(log.find("the writer went away"), std::string::npos) << log;
    EXPECT_NE(log.find("total read 10 missed 0 full 0 formats 1 dropped 0 reconnects 1"), std::string::npos)
        << log;
    av_frame_free(&yuyv);
    av_frame_free(&bgra);
}

TEST_F(VCamConsumerProcessTest, FramesLostToAFullRingAreCountedFromThePtsGap) {
    VCamWriter writer(m_names.mapping, m_names.event);
    TBlockView view;
    ASSERT_NO_FATAL_FAILURE(StartWriter(writer, view));
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--discard"}), PathOf("err.txt")));
    AVFrame* frame = NewFrame(64, 8, kBgra);
    WriteAndWait(writer, view, frame, 0, 5);

    consumer.Stop();
    for (int i = 5; i < 30; ++i) {
        frame->pts = i;
        writer.Write(frame);
    }
    EXPECT_EQ(writer.RingFullCount(), 6);  // pts 24 to 29
    consumer.Signal(SIGCONT);
    ASSERT_TRUE(WaitUntil([&] { return view.ReadIndex() == view.WriteIndex(); }));
    WriteAndWait(writer, view, frame, 30, 1);

    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    EXPECT_NE(consumer.Stderr().find("total read 25 missed 6 full 1"), std::string::npos)
        << consumer.Stderr();
    av_frame_free(&frame);
}

TEST_F(VCamConsumerProcessTest, AY4mStreamCarriesTheFramesAsPlanarYuv) {
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--out", PathOf("out.y4m"), "--y4m", "--fps", "25"}), PathOf("err.txt")));
    VCamWriter writer(m_names.mapping, m_names.event);
    TBlockView view;
    ASSERT_NO_FATAL_FAILURE(StartWriter(writer, view));
    AVFrame* white = NewFrame(64, 8, kBgra, 0xFF);
    for (int i = 0; i < 3; ++i) writer.Write(white);
    ASSERT_TRUE(WaitUntil([&] { return view.ReadIndex() == view.WriteIndex(); }));

    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    const std::string y4m = ReadWholeFile(PathOf("out.y4m"));
    const std::string header = "YUV4MPEG2 W64 H8 F25:1 Ip A1:1 C444\n";
    constexpr size_t kFrame = 6 + 64 * 8 * 3;
    ASSERT_EQ(y4m.size(), header.size() + 3 * kFrame);
    EXPECT_EQ(y4m.substr(0, header.size()), header);
    EXPECT_EQ(y4m.substr(header.size() + 2 * kFrame, 6), "FRAME\n");
    EXPECT_NEAR(static_cast<uint8_t>(y4m[header.size() + 6]), 235, 1);
    av_frame_free(&white);
}

TEST_F(VCamConsumerProcessTest, BadOptionsAndADeviceThatIsNoVideoOutputFailAtOnce) {
    TConsumerProcess usage;
    ASSERT_TRUE(usage.Start({"--discard", "--out", "x"}, PathOf("usage.txt")));
    EXPECT_EQ(usage.WaitForExit(), 2);
    TConsumerProcess noDevice;
    ASSERT_TRUE(noDevice.Start(Args({"--v4l2", PathOf("usage.txt")}), PathOf("err.txt")));
    EXPECT_EQ(noDevice.WaitForExit(), 1);
    EXPECT_NE(noDevice.Stderr().find("is no V4L2 video output"), std::string::npos);
}

struct TProbeCase {
    const char* name;
    std::vector<std::string> args;
    std::string probeInput;  // before the path
    std::string expected;
};

class VCamConvertedStreamTest : public VCamConsumerProcessTest,
                                public ::testing::WithParamInterface<TProbeCase> {};

// The stream goes through the same conversion as a device; ffprobe reads it
// back with the format, size and frame count it should have.
TEST_P(VCamConvertedStreamTest, FfprobeReadsTheConvertedStreamBack) {
    TConsumerProcess consumer;
    std::vector<std::string> args{"--out", PathOf("out")};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ASSERT_TRUE(consumer.Start(Args(args), PathOf("err.txt")));
    VCamWriter writer(m_names.mapping, m_names.event);
    ASSERT_EQ(writer.Create(), 0);
    writer.Reset(63, 8, kBgra);
    TBlockView view;
    ASSERT_EQ(view.Open(m_names.mapping), 0);
    AVFrame* frame = NewFrame(63, 8, kBgra, 0x80);
    WriteAndWait(writer, view, frame, 1, 7);

    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);
    EXPECT_EQ(Probe(GetParam().probeInput + " " + PathOf("out")), GetParam().expected)
        << consumer.Stderr();
    av_frame_free(&frame);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, VCamConvertedStreamTest,
    ::testing::Values(
        TProbeCase{"RawYuyv", {"--pix", "yuyv"}, "-f rawvideo -pixel_format yuyv422 -video_size 63x8",
                   "width=63\nheight=8\npix_fmt=yuyv422\nnb_read_frames=7\n"},
        TProbeCase{"Y4mI420Scaled", {"--y4m", "--pix", "i420", "--size", "32x6"}, "",
                   "width=32\nheight=6\npix_fmt=yuv420p\nnb_read_frames=7\n"},
        TProbeCase{"Y4mYuyv", {"--y4m", "--pix", "yuyv"}, "",
                   "width=63\nheight=8\npix_fmt=yuv422p\nnb_read_frames=7\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// While the writer is silent the last picture is written again at the frame
// rate, then the dark slate; SIGTERM still ends the run at once.
TEST_F(VCamConsumerProcessTest, ASilentWriterGetsItsLastPictureRepeatedThenTheSlate) {
    TConsumerProcess consumer;
    ASSERT_TRUE(consumer.Start(Args({"--out", PathOf("out.yuv"), "--pix", "yuyv", "--repeat", "--fps", "30"}),
                               PathOf("err.txt")));
    VCamWriter writer(m_names.mapping, m_names.event);
    TBlockView view;
    ASSERT_NO_FATAL_FAILURE(StartWriter(writer, view));
    AVFrame* frame = NewFrame(64, 8, kBgra);
    WriteAndWait(writer, view, frame, 0x10, 1);
    WriteAndWait(writer, view, frame, 0xF0, 1);

    constexpr size_t kFrameBytes = 64 * 8 * 2;
    const auto lastFrame = [&] {
        const std::string yuv = ReadWholeFile(PathOf("out.yuv"));
        const size_t whole = yuv.size() / kFrameBytes * kFrameBytes;
        return whole == 0 ? std::string() : yuv.substr(whole - kFrameBytes, kFrameBytes);
    };
    std::string slate(kFrameBytes, '\x80');
    for (size_t i = 0; i < kFrameBytes; i += 2) slate[i] = 37;
    ASSERT_TRUE(WaitUntil([&] { return lastFrame() == slate; }))
        << ReadWholeFile(PathOf("out.yuv")).size() << " bytes; " << consumer.Stderr();
    consumer.Signal(SIGTERM);
    EXPECT_EQ(consumer.WaitForExit(), 0);

    const std::string yuv = ReadWholeFile(PathOf("out.yuv"));
    ASSERT_EQ(yuv.size() % kFrameBytes, 0u);
    const std::string second = yuv.substr(kFrameBytes, kFrameBytes);
    size_t repeats = 0;
    while ((repeats + 3) * kFrameBytes <= yuv.size() && yuv.substr((repeats + 2) * kFrameBytes, kFrameBytes) == second) {
        ++repeats;
    }
    // 2 s of silence at 30 a second: about 58 repeats before the slate.
    EXPECT_GE(repeats, 20u);
    EXPECT_EQ(yuv.substr((repeats + 2) * kFrameBytes, kFrameBytes), slate);
    EXPECT_NE(consumer.Stderr().find("total read 2 "), std::string::npos) << consumer.Stderr();
    av_frame_free(&frame);
}

TEST_F(VCamConsumerProcessTest, BadDeviceChoicesFailAtOnceWithTheirReason) {
    TConsumerProcess missing;
    ASSERT_TRUE(missing.Start(Args({"--v4l2", PathOf("video99")}), PathOf("missing.txt")));
    EXPECT_EQ(missing.WaitForExit(), 1);
    EXPECT_NE(missing.Stderr().find("no such device node"), std::string::npos) << missing.Stderr();
    TConsumerProcess badPix;
    ASSERT_TRUE(badPix.Start(Args({"--v4l2", "auto", "--pix", "mjpeg"}), PathOf("pix.txt")));
    EXPECT_EQ(badPix.WaitForExit(), 2);
    EXPECT_NE(badPix.Stderr().find("--pix takes"), std::string::npos);
}

}  // namespace
}  // namespace pelorn
