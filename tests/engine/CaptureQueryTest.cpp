#include <gtest/gtest.h>

#include "engine/capture/CaptureQuery.h"
#include "platform/FakeCameraBackend.h"

namespace pelorn {
namespace {

using platform::FourCc;
using platform::TFakeCameraNode;
using platform::TFakeFormat;
using platform::TFakeFrameSize;

constexpr uint32_t kYuyv = FourCc("YUYV");
constexpr uint32_t kMjpg = FourCc("MJPG");

TFakeFrameSize Size(uint32_t width, uint32_t height, std::vector<platform::TFakeInterval> intervals = {{1, 30}},
                    bool range = false) {
    return {width, height, std::move(intervals), range};
}

TFakeCameraNode Camera(std::string path, std::vector<TFakeFormat> formats, std::string card = "Cam",
                       bool capture = true) {
    TFakeCameraNode node;
    node.path = std::move(path);
    node.cardName = std::move(card);
    node.capture = capture;
    node.formats = std::move(formats);
    return node;
}

struct TQueryCase {
    const char* label;
    std::vector<TFakeFormat> formats;
    int16_t width, height, rate;
    int wantMode;
    int16_t wantWidth, wantHeight, wantRate;
};

class CaptureQueryTest : public testing::TestWithParam<TQueryCase> {
protected:
    void SetUp() override { platform::InstallCameraBackend(&m_fake); }
    void TearDown() override { platform::InstallCameraBackend(nullptr); }

    int Query(const char* name, int16_t width, int16_t height, int16_t rate) {
        m_width = 1280, m_height = 720, m_rate = 30, m_request = -1;
        return QueryCaptureMode(name, width, height, rate, &m_width, &m_height, &m_rate, &m_request);
    }

    platform::TFakeCameraBackend m_fake;
    int16_t m_width = 0, m_height = 0, m_rate = 0;
    int32_t m_request = -1;
};

TEST_P(CaptureQueryTest, ChoosesSizeRateAndMode) {
    const TQueryCase& c = GetParam();
    m_fake.AddNode(Camera("/dev/video0", c.formats));
    EXPECT_EQ(Query("Cam", c.width, c.height, c.rate), c.wantMode);
    EXPECT_EQ(m_width, c.wantWidth);
    EXPECT_EQ(m_height, c.wantHeight);
    EXPECT_EQ(m_rate, c.wantRate);
}

const std::vector<TFakeFormat> k720 = {{kYuyv, {Size(1280, 720)}}};
const std::vector<TFakeFormat> k720And1080 = {{kYuyv, {Size(1280, 720), Size(1920, 1080)}}};
const std::vector<TFakeFormat> kRange5To30 = {{kYuyv, {Size(1280, 720, {{1, 30}, {1, 5}}, true)}}};
const std::vector<TFakeFormat> kListed30And15 = {{kYuyv, {Size(1280, 720, {{1, 30}, {1, 15}})}}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureQueryTest,
    testing::Values(TQueryCase{"exact", k720, 1280, 720, 30, 1, 1280, 720, 30},
                    TQueryCase{"exchanged", k720, 720, 1280, 30, 2, 1280, 720, 30},
                    TQueryCase{"nearSmaller", k720, 1920, 1080, 30, 4, 1280, 720, 30},
                    TQueryCase{"nearLarger", k720And1080, 640, 360, 30, 8, 1280, 720, 30},
                    TQueryCase{"portraitSmaller", k720, 1080, 1920, 30, 6, 1280, 720, 30},
                    TQueryCase{"portraitLarger", k720, 360, 640, 30, 10, 1280, 720, 30},
                    TQueryCase{"aboveHi", kRange5To30, 1280, 720, 60, 1, 1280, 720, 30},
                    TQueryCase{"underLo", kRange5To30, 1280, 720, 3, 1, 1280, 720, 5},
                    TQueryCase{"accepted", kRange5To30, 1280, 720, 25, 1, 1280, 720, 25},
                    TQueryCase{"notAccepted", kListed30And15, 1280, 720, 25, 1, 1280, 720, 30},
                    TQueryCase{"noIntervals", {{kYuyv, {Size(1280, 720, {})}}}, 1280, 720, 25, 1, 1280, 720, 25},
                    TQueryCase{"rateZero", k720, 1280, 720, 0, 0, 1280, 720, 30},
                    TQueryCase{"h264Only", {{FourCc("H264"), {Size(1280, 720)}}}, 1280, 720, 30, 0, 1280, 720, 30}),
    [](const testing::TestParamInfo<TQueryCase>& info) { return std::string(info.param.label); });

TEST_F(CaptureQueryTest, PrefersTheFormatNearestTheRate) {
    m_fake.AddNode(Camera("/dev/video0", {{kYuyv, {Size(1920, 1080, {{1, 5}})}},
                                          {kMjpg, {Size(1920, 1080, {{1, 30}})}}}));
    EXPECT_EQ(Query("Cam", 1920, 1080, 30), 1);
    EXPECT_EQ(m_rate, 30);
    EXPECT_EQ(m_request, platform::kMjpegRequest);
}

TEST_F(CaptureQueryTest, TakesTheFirstCaptureNodeOfTheNameOrTheNamedNode) {
    m_fake.AddNode(Camera("/dev/video0", {}, "Cam", false));
    m_fake.AddNode(Camera("/dev/video1", {{kMjpg, {Size(1280, 720)}}}));
    m_fake.AddNode(Camera("/dev/video2", {{kYuyv, {Size(1280, 720)}}}));
    EXPECT_EQ(Query("Cam", 1280, 720, 30), 1);
    EXPECT_EQ(m_request, platform::kMjpegRequest);
    EXPECT_EQ(Query("/dev/video2", 1280, 720, 30), 1);
    EXPECT_EQ(m_request, 1);
    EXPECT_EQ(Query("Ca", 1280, 720, 30), 0);
    EXPECT_EQ(Query(nullptr, 1280, 720, 30), 0);
    EXPECT_EQ(FindCapturePin("/dev/video0"), nullptr);
}

}  // namespace
}  // namespace pelorn
