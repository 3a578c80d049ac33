#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "platform/CaptureDevices.h"
#include "platform/FakeCameraBackend.h"

namespace platform {
namespace {

TFakeCameraNode Node(std::string path, std::string card, bool capture = true, int openError = 0) {
    TFakeCameraNode node;
    node.path = std::move(path);
    node.cardName = std::move(card);
    node.capture = capture;
    node.openError = openError;
    return node;
}

class CaptureDevicesTest : public testing::Test {
protected:
    void SetUp() override { InstallCameraBackend(&m_fake); }
    void TearDown() override { InstallCameraBackend(nullptr); }
    TFakeCameraBackend m_fake;
};

TEST_F(CaptureDevicesTest, ListsCaptureNodesInOrderSkippingMetadataAndUnopenable) {
    m_fake.AddNode(Node("/dev/video0", "Cam A"));
    m_fake.AddNode(Node("/dev/video1", "Cam A", false));
    m_fake.AddNode(Node("/dev/video2", "Busy", true, EBUSY));
    m_fake.AddNode(Node("/dev/video3", "Cam B"));
    const std::vector<TCaptureNode> nodes = ListCaptureNodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].cardName, "Cam A");
    EXPECT_EQ(nodes[0].path, "/dev/video0");
    EXPECT_EQ(nodes[1].cardName, "Cam B");
    EXPECT_EQ(nodes[1].path, "/dev/video3");
}

TEST_F(CaptureDevicesTest, RangesGiveTheRequestedSizeOrTheirLargest) {
    TFakeCameraNode node = Node("/dev/video0", "Range");
    node.formats = {{FourCc("YUYV"), {{160, 120, {{1, 30}, {1, 5}}, true}, {1920, 1080, {}}}, true}};
    m_fake.AddNode(node);
    std::unique_ptr<IV4l2Device> device;
    ASSERT_EQ(m_fake.OpenNode("/dev/video0", &device), 0);
    for (auto [w, h, wantW, wantH] : {std::tuple{640, 360, 640, 360}, {1080, 1920, 1920, 1080}, {4096, 2160, 1920, 1080}}) {
        const std::vector<TCaptureMode> modes = ReadCaptureModes(*device, w, h);
        ASSERT_EQ(modes.size(), 1u);
        EXPECT_EQ(modes[0].width, wantW);
        EXPECT_EQ(modes[0].height, wantH);
        EXPECT_EQ(modes[0].avgTimePerFrame, 333333);
        EXPECT_TRUE(modes[0].AcceptsInterval(400000));
        EXPECT_FALSE(modes[0].AcceptsInterval(2100000));
    }
}

TEST_F(CaptureDevicesTest, StandinVariableDescribesOneNode) {
    InstallCameraBackend(nullptr);
    setenv("QUINDLE_CAMERA_STANDIN", "Desk Cam|640x480@25|mjpeg|pipe:3|x", 1);
    const std::vector<TCaptureNode> nodes = ListCaptureNodes();
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].cardName, "Desk Cam");
    const TCaptureInput input = CameraBackend().InputFor(nodes[0].path);
    EXPECT_EQ(input.format, "mjpeg");
    EXPECT_EQ(input.url, "pipe:3|x");
    std::unique_ptr<IV4l2Device> device;
    ASSERT_EQ(CameraBackend().OpenNode(nodes[0].path, &device), 0);
    const std::vector<TCaptureMode> modes = ReadCaptureModes(*device, 0, 0);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0].pixelRequest, kMjpegRequest);
    EXPECT_EQ(modes[0].avgTimePerFrame, 400000);
    unsetenv("QUINDLE_CAMERA_STANDIN");
}

TEST(CameraStandinTest, MalformedTextsDescribeNothing) {
    TFakeCameraNode node;
    for (const char* text : {"", "Cam", "Cam|640x480@25|lavfi", "|640x480@25|lavfi|x", "Cam|640x480|lavfi|x",
                             "Cam|0x480@25|lavfi|x", "Cam|640x480@0|lavfi|x", "Cam|640x480@25||x"})
        EXPECT_FALSE(ParseCameraStandin(text, &node)) << text;
}

}  // namespace
}  // namespace platform
