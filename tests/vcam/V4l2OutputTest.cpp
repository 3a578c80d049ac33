#include "platform/V4l2Output.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/vcam/TConvertingSink.h"
#include "tools/vcam/TV4l2Sink.h"
#include "tools/vcam/TVCamConsumer.h"

namespace platform {
namespace {

// A device that answers like a loopback output and records what it is given.
class TFakeDevice final : public IV4l2Device {
public:
    struct TLog {
        std::vector<unsigned long> requests;
        std::vector<v4l2_format> formatsAsked;
        std::vector<std::vector<uint8_t>> writes;
    };

    explicit TFakeDevice(TLog* log) : m_pLog(log) {}

    uint32_t capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_CAPTURE;
    uint32_t deviceCaps = 0;
    // The driver's answer to S_FMT: changes the format in place, or fails.
    std::function<int(v4l2_format&)> answer = [](v4l2_format&) { return 0; };
    size_t shortWriteBy = 0;

    int Ioctl(unsigned long request, void* argument) override {
        m_pLog->requests.push_back(request);
        if (request == VIDIOC_QUERYCAP) {
            auto* caps = static_cast<v4l2_capability*>(argument);
            caps->capabilities = capabilities | (deviceCaps != 0 ? V4L2_CAP_DEVICE_CAPS : 0);
            caps->device_caps = deviceCaps;
            return 0;
        }
        if (request == VIDIOC_S_FMT) {
            auto* format = static_cast<v4l2_format*>(argument);
            m_pLog->formatsAsked.push_back(*format);
            return answer(*format);
        }
        return ENOTTY;
    }
    int Write(const void* bytes, size_t size, size_t* written) override {
        const auto* begin = static_cast<const uint8_t*>(bytes);
        m_pLog->writes.emplace_back(begin, begin + size);
        *written = size - shortWriteBy;
        return 0;
    }

private:
    TLog* m_pLog;
};

struct TPackingCase {
    TV4l2Packing packing;
    uint32_t fourcc;
    uint32_t bytesPerPixel;
};

std::string PackingName(const ::testing::TestParamInfo<TPackingCase>& info) {
    static const char* const names[] = {"Yuyv", "Bgr24", "Bgra"};
    return names[static_cast<int>(info.param.packing)];
}

class V4l2OutputFormatTest : public ::testing::TestWithParam<TPackingCase> {};

TEST_P(V4l2OutputFormatTest, SetsThePackedFormatOnTheOutputQueue) {
    TFakeDevice::TLog log;
    TV4l2Output output(std::make_unique<TFakeDevice>(&log));
    ASSERT_EQ(output.SetFormat(1280, 720, GetParam().packing), 0);

    ASSERT_EQ(log.formatsAsked.size(), 1u);
    const v4l2_format& asked = log.formatsAsked[0];
    EXPECT_EQ(asked.type, V4L2_BUF_TYPE_VIDEO_OUTPUT);
    EXPECT_EQ(asked.fmt.pix.width, 1280u);
    EXPECT_EQ(asked.fmt.pix.height, 720u);
    EXPECT_EQ(asked.fmt.pix.pixelformat, GetParam().fourcc);
    EXPECT_EQ(asked.fmt.pix.field, static_cast<uint32_t>(V4L2_FIELD_NONE));
    EXPECT_EQ(asked.fmt.pix.bytesperline, 1280 * GetParam().bytesPerPixel);
    EXPECT_EQ(asked.fmt.pix.sizeimage, 1280 * 720 * GetParam().bytesPerPixel);
    EXPECT_EQ(output.Format().fourcc, GetParam().fourcc);
    EXPECT_EQ(output.Format().sizeImage, 1280 * 720 * GetParam().bytesPerPixel);
}

INSTANTIATE_TEST_SUITE_P(Packings, V4l2OutputFormatTest,
                         ::testing::Values(TPackingCase{TV4l2Packing::Yuyv, V4L2_PIX_FMT_YUYV, 2},
                                           TPackingCase{TV4l2Packing::Bgr24, V4L2_PIX_FMT_BGR24, 3},
                                           TPackingCase{TV4l2Packing::Bgra, V4L2_PIX_FMT_ABGR32, 4}),
                         PackingName);

TEST(V4l2OutputTest, BgraFallsBackToTheOlderFourccWithTheSameBytes) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->answer = [](v4l2_format& format) {
        if (format.fmt.pix.pixelformat == V4L2_PIX_FMT_ABGR32) format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        return 0;
    };
    TV4l2Output output(std::move(device));
    ASSERT_EQ(output.SetFormat(64, 8, TV4l2Packing::Bgra), 0);
    ASSERT_EQ(log.formatsAsked.size(), 2u);
    EXPECT_EQ(log.formatsAsked[1].fmt.pix.pixelformat, V4L2_PIX_FMT_BGR32);
    EXPECT_EQ(output.Format().fourcc, V4L2_PIX_FMT_BGR32);
}

TEST(V4l2OutputTest, ADeviceThatChangesTheSizeOrLayoutIsRefused) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->answer = [](v4l2_format& format) {
        format.fmt.pix.width = 640;
        return 0;
    };
    TV4l2Output output(std::move(device));
    EXPECT_EQ(output.SetFormat(1920, 1080, TV4l2Packing::Yuyv), EINVAL);
    EXPECT_EQ(output.Format().fourcc, 0u);
}

TEST(V4l2OutputTest, OnlyAVideoOutputIsAccepted) {
    TFakeDevice::TLog log;
    auto capture = std::make_unique<TFakeDevice>(&log);
    capture->capabilities = V4L2_CAP_VIDEO_CAPTURE;
    EXPECT_EQ(TV4l2Output(std::move(capture)).CheckIsOutput(), ENODEV);

    // With per-node capabilities the node's own ones count.
    auto outputNode = std::make_unique<TFakeDevice>(&log);
    outputNode->capabilities = V4L2_CAP_VIDEO_CAPTURE;
    outputNode->deviceCaps = V4L2_CAP_VIDEO_OUTPUT;
    EXPECT_EQ(TV4l2Output(std::move(outputNode)).CheckIsOutput(), 0);
}

TEST(V4l2OutputTest, AShortWriteIsAnError) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->shortWriteBy = 1;
    TV4l2Output output(std::move(device));
    const std::vector<uint8_t> frame(100, 7);
    EXPECT_EQ(output.WriteFrame(frame.data(), frame.size()), EIO);
}

TEST(V4l2OutputTest, ANodeThatIsNoV4l2DeviceIsRefusedAtOpen) {
    char path[] = "/tmp/qndl-v4l2-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::unique_ptr<TV4l2Output> output;
    EXPECT_EQ(TV4l2Output::Open(path, &output), ENOTTY);
    EXPECT_EQ(output, nullptr);
    unlink(path);
    EXPECT_EQ(TV4l2Output::Open("/nonexistent/video9", &output), ENOENT);
}

TEST(V4l2SinkTest, EachFormatChangeSetsTheFormatAgainAndEachFrameIsOneWrite) {
    TFakeDevice::TLog log;
    pelorn::vcam::TV4l2Sink sink(std::make_unique<TV4l2Output>(std::make_unique<TFakeDevice>(&log)));
    ASSERT_EQ(sink.Configure(4, 2, 28), 0);
    const std::vector<uint8_t> bgra(4 * 2 * 4, 9);
    EXPECT_EQ(sink.Write(bgra.data(), bgra.size()), 0);
    ASSERT_EQ(sink.Configure(4, 2, 1), 0);
    const std::vector<uint8_t> yuyv(4 * 2 * 2, 5);
    EXPECT_EQ(sink.Write(yuyv.data(), yuyv.size()), 0);

    ASSERT_EQ(log.formatsAsked.size(), 2u);
    EXPECT_EQ(log.formatsAsked[1].fmt.pix.pixelformat, V4L2_PIX_FMT_YUYV);
    ASSERT_EQ(log.writes.size(), 2u);
    EXPECT_EQ(log.writes[0], bgra);
    EXPECT_EQ(log.writes[1], yuyv);
    // A frame of another size than configured is not handed on.
    EXPECT_EQ(sink.Write(bgra.data(), bgra.size()), EAGAIN);
    EXPECT_EQ(log.writes.size(), 2u);
}

TEST(V4l2SinkTest, LinesArePaddedToTheDevicesLineLength) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->answer = [](v4l2_format& format) {
        format.fmt.pix.bytesperline = 16;
        format.fmt.pix.sizeimage = 16 * format.fmt.pix.height;
        return 0;
    };
    pelorn::vcam::TV4l2Sink sink(std::make_unique<TV4l2Output>(std::move(device)));
    ASSERT_EQ(sink.Configure(3, 2, 3), 0);  // 9 bytes a line
    std::vector<uint8_t> frame(18);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(sink.Write(frame.data(), frame.size()), 0);
    ASSERT_EQ(log.writes.size(), 1u);
    ASSERT_EQ(log.writes[0].size(), 32u);
    EXPECT_EQ(log.writes[0][0], 1);
    EXPECT_EQ(log.writes[0][8], 9);
    EXPECT_EQ(log.writes[0][9], 0);
    EXPECT_EQ(log.writes[0][16], 10);
}

TEST(V4l2SinkTest, AnUnknownFormatIsRefusedWithoutAskingTheDevice) {
    TFakeDevice::TLog log;
    pelorn::vcam::TV4l2Sink sink(std::make_unique<TV4l2Output>(std::make_unique<TFakeDevice>(&log)));
    EXPECT_EQ(sink.Configure(64, 8, 5), EINVAL);  // planar 4:4:4
    EXPECT_TRUE(log.formatsAsked.empty());
    const std::vector<uint8_t> frame(64 * 8 * 3);
    EXPECT_EQ(sink.Write(frame.data(), frame.size()), EAGAIN);
}

using pelorn::vcam::TConvertingSink;
using pelorn::vcam::TOutputChoice;
using pelorn::vcam::TRepeat;
using pelorn::vcam::TV4l2Sink;

std::unique_ptr<TConvertingSink> ConvertingSink(std::unique_ptr<TFakeDevice> device, TOutputChoice choice) {
    return std::make_unique<TConvertingSink>(
        std::make_unique<TV4l2Sink>(std::make_unique<TV4l2Output>(std::move(device))), choice);
}

struct TPixCase {
    const char* name;
    int pix;
    uint32_t fourcc;
    uint32_t bytesPerLine;
    uint32_t sizeImage;
};

class V4l2PixTest : public ::testing::TestWithParam<TPixCase> {};

// A 641 x 361 BGRA picture from the engine, as each --pix choice hands it on.
TEST_P(V4l2PixTest, NegotiatesTheChosenFormatAndWritesWholeImages) {
    TFakeDevice::TLog log;
    auto sink = ConvertingSink(std::make_unique<TFakeDevice>(&log), {GetParam().pix, 0, 0});
    ASSERT_EQ(sink->Configure(641, 361, pelorn::vcam::kAvBgra), 0);
    const std::vector<uint8_t> bgra(641 * 361 * 4, 60);
    ASSERT_EQ(sink->Write(bgra.data(), bgra.size()), 0);

    ASSERT_EQ(log.formatsAsked.size(), 1u);
    const v4l2_pix_format& asked = log.formatsAsked[0].fmt.pix;
    EXPECT_EQ(asked.width, 641u);
    EXPECT_EQ(asked.height, 361u);
    EXPECT_EQ(asked.pixelformat, GetParam().fourcc);
    EXPECT_EQ(asked.bytesperline, GetParam().bytesPerLine);
    EXPECT_EQ(asked.sizeimage, GetParam().sizeImage);
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(log.writes[0].size(), GetParam().sizeImage);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, V4l2PixTest,
    ::testing::Values(
        TPixCase{"yuyv", pelorn::vcam::kAvYuyv422, V4L2_PIX_FMT_YUYV, 642 * 2, 642 * 2 * 361},
        TPixCase{"i420", pelorn::vcam::kAvYuv420p, V4L2_PIX_FMT_YUV420, 642, 642 * 361 + 642 * 181},
        TPixCase{"nv12", pelorn::vcam::kAvNv12, V4L2_PIX_FMT_NV12, 642, 642 * 361 + 642 * 181},
        TPixCase{"rgb24", pelorn::vcam::kAvRgb24, V4L2_PIX_FMT_RGB24, 641 * 3, 641 * 3 * 361},
        TPixCase{"same", TOutputChoice::kSameFormat, V4L2_PIX_FMT_ABGR32, 641 * 4, 641 * 4 * 361}),
    [](const auto& info) { return std::string(info.param.name); });

struct TRefusal {
    const char* name;
    std::function<int(v4l2_format&)> answer;
    int error;
    const char* described;
};

class V4l2RefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(V4l2RefusalTest, ARefusedFormatIsReportedAndNothingIsWritten) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->answer = GetParam().answer;
    auto sink = ConvertingSink(std::move(device), {pelorn::vcam::kAvYuyv422, 64, 8});
    EXPECT_EQ(sink->Prepare(), GetParam().error);
    EXPECT_STREQ(pelorn::vcam::DescribeOutputError(GetParam().error), GetParam().described);
    EXPECT_EQ(sink->Configure(64, 8, pelorn::vcam::kAvBgra), GetParam().error);
    const std::vector<uint8_t> bgra(64 * 8 * 4);
    EXPECT_EQ(sink->Write(bgra.data(), bgra.size()), EAGAIN);
    EXPECT_EQ(sink->Repeat(TRepeat::Slate), EAGAIN);
    EXPECT_TRUE(log.writes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Devices, V4l2RefusalTest,
    ::testing::Values(TRefusal{"OtherFourcc",
                               [](v4l2_format& f) {
                                   f.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
                                   return 0;
                               },
                               EINVAL, "the format is refused"},
                      TRefusal{"HeldByAnotherWriter", [](v4l2_format&) { return EBUSY; }, EBUSY,
                               "another writer holds the device"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(V4l2SinkTest, PlanarLinesArePaddedToTheDevicesLineLength) {
    TFakeDevice::TLog log;
    auto device = std::make_unique<TFakeDevice>(&log);
    device->answer = [](v4l2_format& format) {
        format.fmt.pix.bytesperline = 16;
        format.fmt.pix.sizeimage = 16 * 2 + 16 * 1;
        return 0;
    };
    TV4l2Sink sink(std::make_unique<TV4l2Output>(std::move(device)));
    ASSERT_EQ(sink.Configure(6, 2, pelorn::vcam::kAvYuv420p), 0);
    // Y 6 x 2, U 3 x 1, V 3 x 1
    const std::vector<uint8_t> i420 = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    ASSERT_EQ(sink.Write(i420.data(), i420.size()), 0);
    ASSERT_EQ(log.writes.size(), 1u);
    const std::vector<uint8_t>& written = log.writes[0];
    ASSERT_EQ(written.size(), 48u);
    EXPECT_EQ(written[5], 1);
    EXPECT_EQ(written[6], 0);
    EXPECT_EQ(written[16], 2);
    EXPECT_EQ(written[32], 3);  // U lines are 8 long
    EXPECT_EQ(written[35], 0);
    EXPECT_EQ(written[40], 4);
}

TEST(ConvertingSinkTest, TheDeviceKeepsItsFormatWhenTheEngineChangesAndShowsTheSlateWhenAsked) {
    TFakeDevice::TLog log;
    auto sink = ConvertingSink(std::make_unique<TFakeDevice>(&log), {pelorn::vcam::kAvYuyv422, 0, 0});
    ASSERT_EQ(sink->Configure(4, 2, pelorn::vcam::kAvBgra), 0);
    const std::vector<uint8_t> white(4 * 2 * 4, 255);
    ASSERT_EQ(sink->Write(white.data(), white.size()), 0);
    ASSERT_EQ(sink->Repeat(TRepeat::LastPicture), 0);
    ASSERT_EQ(sink->Configure(8, 4, pelorn::vcam::kAvYuyv422), 0);
    const std::vector<uint8_t> yuyv(8 * 4 * 2, 128);
    ASSERT_EQ(sink->Write(yuyv.data(), yuyv.size()), 0);
    ASSERT_EQ(sink->Repeat(TRepeat::Slate), 0);

    EXPECT_EQ(log.formatsAsked.size(), 1u);
    ASSERT_EQ(log.writes.size(), 4u);
    EXPECT_EQ(log.writes[1], log.writes[0]);
    EXPECT_EQ(log.writes[0][0], 235);  // white
    EXPECT_EQ(log.writes[2].size(), 4u * 2 * 2);
    EXPECT_EQ(log.writes[3], (std::vector<uint8_t>{37, 128, 37, 128, 37, 128, 37, 128,
                                                    37, 128, 37, 128, 37, 128, 37, 128}));
}

struct TPickCase {
    const char* name;
    std::vector<TV4l2Node> nodes;
    int error;
    const char* path;
};

class PickOutputNodeTest : public ::testing::TestWithParam<TPickCase> {};

TEST_P(PickOutputNodeTest, PicksTheLabelledNodeOrTheOnlyOne) {
    std::string path = "unset";
    EXPECT_EQ(PickOutputNode(GetParam().nodes, "Quindle Camera", &path), GetParam().error);
    EXPECT_EQ(path, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, PickOutputNodeTest,
    ::testing::Values(
        TPickCase{"Labelled", {{"/dev/video4", "Other"}, {"/dev/video7", "Quindle Camera"}}, 0, "/dev/video7"},
        TPickCase{"OnlyOne", {{"/dev/video4", "Dummy video device (0x0000)"}}, 0, "/dev/video4"},
        TPickCase{"None", {}, ENODEV, "unset"},
        TPickCase{"SeveralUnlabelled", {{"/dev/video4", "A"}, {"/dev/video5", "B"}}, ENOTUNIQ, "unset"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(V4l2OutputTest, NodesThatAreNoVideoOutputsAreNotListed) {
    char dir[] = "/tmp/qndl-nodes-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    for (const char* name : {"video0", "video12", "media0"}) std::ofstream(std::string(dir) + "/" + name) << "x";
    EXPECT_TRUE(ListOutputNodes(dir).empty());
    EXPECT_TRUE(ListOutputNodes(std::string(dir) + "/missing").empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform
