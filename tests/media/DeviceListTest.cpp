#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "console/media/TEnumDShowDevices.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "console/media/PixFmtName.h"
#include "platform/FakeCameraBackend.h"
#include "tests/media/PulseTestSupport.h"

namespace console {
namespace {

std::string Numbered(const char* prefix, int n) {
    std::string text(prefix);
    text += n < 10 ? "0" : "";
    text += std::to_string(n);
    return text;
}

struct TListing {
    std::unique_ptr<TDShowDeviceList> list = std::make_unique<TDShowDeviceList>();
    int videoWalks = 0;

    // Lists with a camera walk that finds nothing and counts its calls.
    void Run(CaptureDeviceWalk audioWalk = {}) {
        TEnumDShowDevices([this](std::vector<TCaptureDevice>*) { ++videoWalks; },
                          std::move(audioWalk))
            .Enumerate(list.get());
    }
};

class PulseListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_server.Start(&error)) << error;
    }
    testsupport::TPulseServer m_server;
    TListing m_listing;
};

TEST_F(PulseListingTest, AServerWithoutSourcesListsNothingAfterFourAttempts) {
    ASSERT_TRUE(m_server.Pactl({"unload-module", "module-null-sink"}));
    m_listing.Run();
    EXPECT_EQ(m_listing.list->audioCount, 0);
    EXPECT_EQ(m_listing.list->videoCount, 0);
    EXPECT_EQ(m_listing.videoWalks, TEnumDShowDevices::kAttempts);
}

TEST_F(PulseListingTest, TwentyFiveSinksGiveTheFirstTwentyInServerOrder) {
    for (int i = 1; i <= 25; ++i)
        ASSERT_TRUE(m_server.AddNullSink(Numbered("s", i), Numbered("Sink", i)));
    m_listing.Run();
    const TDShowDeviceList& list = *m_listing.list;
    ASSERT_EQ(list.audioCount, 20);
    EXPECT_STREQ(list.audioNames[0], "Monitor of qtest");
    EXPECT_STREQ(list.audioAltNames[0], "qtest.monitor");
    for (int i = 1; i < 20; ++i) EXPECT_EQ(list.audioAltNames[i], Numbered("s", i) + ".monitor");
}

TEST_F(PulseListingTest, TheDefaultSourceComesFirstAndMonitorsLast) {
    ASSERT_TRUE(m_server.Pactl({"load-module", "module-null-source", "source_name=mic1"}));
    ASSERT_TRUE(m_server.Pactl({"load-module", "module-null-source", "source_name=mic2"}));
    ASSERT_TRUE(m_server.Pactl({"set-default-source", "mic2"}));
    m_listing.Run();
    const TDShowDeviceList& list = *m_listing.list;
    ASSERT_EQ(list.audioCount, 3);
    EXPECT_STREQ(list.audioAltNames[0], "mic2");
    EXPECT_STREQ(list.audioAltNames[1], "mic1");
    EXPECT_STREQ(list.audioAltNames[2], "qtest.monitor");
}

TEST(NoServerListingTest, ReturnsWithoutHanging) {
    testsupport::TNoPulseServer none;
    TListing listing;
    listing.Run();
    EXPECT_LE(listing.list->audioCount, TDShowDeviceList::kMaxDevices);
    for (int i = 0; i < listing.list->audioCount; ++i) {
        const std::string name = listing.list->audioAltNames[i];
        EXPECT_TRUE(name == "default" || name.find("CARD=") != std::string::npos) << name;
    }
}

TEST(ListingTest, ALongAlternativeNameIsSkippedAndALongFriendlyNameCut) {
    TListing listing;
    listing.Run([](std::vector<TCaptureDevice>* devices) {
        *devices = {{"a", std::string(256, 'x')},
                    {std::string(254, 'f') + "麦克风", std::string(255, 'y')},
                    {"c", "c"}};
    });
    const TDShowDeviceList& list = *listing.list;
    ASSERT_EQ(list.audioCount, 2);
    EXPECT_EQ(std::string(list.audioNames[0]), std::string(254, 'f'));  // not inside a character
    EXPECT_EQ(std::string(list.audioAltNames[0]), std::string(255, 'y'));
    EXPECT_STREQ(list.audioNames[1], "c");
}

class CameraListingTest : public ::testing::Test {
protected:
    void SetUp() override { platform::InstallCameraBackend(&m_fake); }
    void TearDown() override { platform::InstallCameraBackend(nullptr); }

    void AddNode(std::string path, std::string card, bool capture = true, int queryCapError = 0) {
        platform::TFakeCameraNode node;
        node.path = std::move(path);
        node.cardName = std::move(card);
        node.capture = capture;
        node.queryCapError = queryCapError;
        m_fake.AddNode(std::move(node));
    }

    platform::TFakeCameraBackend m_fake;
};

// Capture nodes among metadata nodes, a sub-device that refuses the
// capability query and a node whose path does not fit: the first twenty
// capture nodes, in node order.
TEST_F(CameraListingTest, ListsTheFirstTwentyCaptureNodesInOrder) {
    AddNode("/dev/v4l-subdev0", "sensor", true, ENOTTY);
    AddNode("/dev/" + std::string(300, 'v'), "Too long");
    for (int i = 0; i < 22; ++i) {
        AddNode("/dev/video" + std::to_string(2 * i), Numbered("Cam", i));
        AddNode("/dev/video" + std::to_string(2 * i + 1), Numbered("Cam", i), false);
    }
    TDShowDeviceList list{};
    TEnumDShowDevices({}, [](std::vector<TCaptureDevice>* devices) { *devices = {{"mic", "mic"}}; })
        .Enumerate(&list);
    ASSERT_EQ(list.videoCount, 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(list.videoNames[i], Numbered("Cam", i));
        EXPECT_EQ(list.videoAltNames[i], "/dev/video" + std::to_string(2 * i));
    }
}

struct PixFmtCase {
    int format;
    const char* name;
};
class PixFmtNameTest : public ::testing::TestWithParam<PixFmtCase> {};

TEST_P(PixFmtNameTest, NamesTheEnumerator) {
    EXPECT_STREQ(PixFmtName(GetParam().format), GetParam().name);
}
INSTANTIATE_TEST_SUITE_P(Formats, PixFmtNameTest,
                         ::testing::Values(PixFmtCase{0, "yuv420p"}, PixFmtCase{1, "yuyv422"},
                                           PixFmtCase{3, "bgr24"}, PixFmtCase{8, "gray8"},
                                           PixFmtCase{AV_PIX_FMT_BGRA, "bgra"},
                                           PixFmtCase{AV_PIX_FMT_NV12, "nv12"},
                                           PixFmtCase{AV_PIX_FMT_NB - 1, "p416le"},
                                           PixFmtCase{-1, ""}, PixFmtCase{AV_PIX_FMT_NB, ""}));

}  // namespace
}  // namespace console
