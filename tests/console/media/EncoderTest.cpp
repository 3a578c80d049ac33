#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "common/ErrorTrail.h"
#include "console/media/CFFMpegAEnc.h"
#include "console/media/CFFMpegVEnc.h"
#include "console/media/MediaCodes.h"
#include "tests/console/media/MediaTestSupport.h"

namespace {

using console::CFFMpegAEnc;
using console::CFFMpegVEnc;
using mediatest::TPacketInfo;

constexpr int64_t kFrameUs = 33333;

// Encodes `count` frames captured at `captureUs` (µs) and flushes; every
// packet in output order.
std::vector<TPacketInfo> EncodeAll(CFFMpegVEnc& encoder, const std::vector<int64_t>& captureUs) {
    std::vector<TPacketInfo> packets;
    AVPacket* packet = nullptr;
    const auto collect = [&] {
        if (packet != nullptr)
            packets.push_back({packet->pts, packet->dts, (packet->flags & AV_PKT_FLAG_KEY) != 0});
    };
    for (size_t i = 0; i < captureUs.size(); ++i) {
        auto frame = mediatest::MakePicture(320, 240, AV_PIX_FMT_NV12, static_cast<int>(i));
        const int ret = encoder.Encode(&packet, frame.get(), &captureUs[i]);
        EXPECT_TRUE(ret == 0 || ret == console::kResultAgain) << ret;
        if (ret == 0) collect();
    }
    while (encoder.Encode(&packet, nullptr, nullptr) == 0) collect();
    return packets;
}

TEST(VideoEncoderTest, OpensTheGeneralEncoderOnNv12WithThePresetOfThePixelRate) {
    CFFMpegVEnc encoder;
    ASSERT_EQ(encoder.Open(27, 320, 240, AVRational{1, 30}, 30, 1000000), 0);
    EXPECT_EQ(encoder.EncoderName(), "libx264");
    EXPECT_EQ(encoder.CodecContext()->pix_fmt, AV_PIX_FMT_NV12);
    EXPECT_STREQ(CFFMpegVEnc::PresetFor(1920, 1080, {1, 30}), "ultrafast");
    EXPECT_STREQ(CFFMpegVEnc::PresetFor(1280, 720, {1, 30}), "superfast");
    EXPECT_STREQ(CFFMpegVEnc::PresetFor(640, 360, {1, 30}), "superfast");
    EXPECT_STREQ(CFFMpegVEnc::PresetFor(640, 360, {1, 25}), "veryfast");
}

// Capture gaps of 2-4 frames with B-frames: every packet keeps its frame's
// capture time and dts rises strictly, never past pts, through the flush.
TEST(VideoEncoderTest, PacketsKeepCaptureTimesAcrossGaps) {
    std::vector<int64_t> times;
    int64_t t = 1000000;
    for (int i = 0; i < 90; ++i) {
        times.push_back(t);
        t += kFrameUs * (i % 10 == 9 ? 2 + i % 3 : 1);
    }
    CFFMpegVEnc encoder;
    ASSERT_EQ(encoder.Open(27, 320, 240, AVRational{1, 30}, 100, 1000000), 0);
    ASSERT_GT(encoder.CodecContext()->has_b_frames, 0);
    const auto packets = EncodeAll(encoder, times);
    ASSERT_EQ(packets.size(), times.size());
    std::vector<int64_t> pts;
    for (size_t i = 0; i < packets.size(); ++i) {
        pts.push_back(packets[i].pts);
        EXPECT_LE(packets[i].dts, packets[i].pts) << i;
        if (i > 0) {
            EXPECT_GT(packets[i].dts, packets[i - 1].dts) << i;
        }
    }
    std::sort(pts.begin(), pts.end());
    EXPECT_EQ(pts, times);
}

TEST(VideoEncoderTest, GopOneGivesNoBFrames) {
    std::vector<int64_t> times;
    for (int i = 0; i < 20; ++i) times.push_back(i * kFrameUs);
    CFFMpegVEnc encoder;
    ASSERT_EQ(encoder.Open(27, 320, 240, AVRational{1, 30}, 1, 1000000), 0);
    EXPECT_EQ(encoder.CodecContext()->has_b_frames, 0);
    const auto packets = EncodeAll(encoder, times);
    ASSERT_EQ(packets.size(), times.size());
    for (size_t i = 0; i < packets.size(); ++i) EXPECT_EQ(packets[i].pts, times[i]);
}

TEST(VideoEncoderTest, ClosedEncoderAndUnknownCodecFail) {
    CFFMpegVEnc encoder;
    AVPacket* packet = nullptr;
    EXPECT_EQ(encoder.Encode(&packet, nullptr, nullptr), console::kResultFail);
    common::ErrorTrail::Take();
    EXPECT_EQ(encoder.Open(12345, 320, 240, AVRational{1, 30}, 30, 1000000), AVERROR_INVALIDDATA);
    EXPECT_NE(common::ErrorTrail::Take().find("avcodec_open2 err"), std::string::npos);
}

TEST(AudioEncoderTest, ChunksAreCutIntoCodecFrames) {
    CFFMpegAEnc encoder;
    ASSERT_EQ(encoder.Open(86018, 2, 44100, 128000), 0);
    const auto pcm = mediatest::Tone(441, 2, 44100);
    int consumed = 0;
    AVPacket* packet = nullptr;
    std::vector<int> consumedPerCall;
    for (int call = 0; call < 3; ++call) {
        encoder.Encode(pcm.data(), 441, &consumed, &packet);
        consumedPerCall.push_back(consumed);
    }
    EXPECT_EQ(consumedPerCall, (std::vector<int>{441, 441, 441}));

    CFFMpegAEnc whole;
    ASSERT_EQ(whole.Open(86018, 2, 44100, 128000), 0);
    const auto big = mediatest::Tone(4096, 2, 44100);
    const int16_t* at = big.data();
    int left = 4096;
    int calls = 0;
    while (left > 0) {
        whole.Encode(at, left, &consumed, &packet);
        EXPECT_EQ(consumed, 1024);
        at += consumed * 2;
        left -= consumed;
        ++calls;
    }
    EXPECT_EQ(calls, 4);
}

class AudioChannelsTest : public testing::TestWithParam<int> {};

// Any channel count opens (with the default layout of the count) and gives
// packets through the flush.
TEST_P(AudioChannelsTest, EncodesEveryChannelCount) {
    const int channels = GetParam();
    CFFMpegAEnc encoder;
    ASSERT_EQ(encoder.Open(86018, channels, 48000, 128000), 0);
    EXPECT_EQ(encoder.CodecContext()->ch_layout.nb_channels, channels);
    const auto pcm = mediatest::Tone(48000, channels, 48000);
    int packets = 0;
    int consumed = 0;
    AVPacket* packet = nullptr;
    for (int offset = 0; offset < 48000; offset += consumed) {
        const int ret = encoder.Encode(pcm.data() + offset * channels, 48000 - offset, &consumed, &packet);
        ASSERT_GE(ret, 0);
        if (packet != nullptr) ++packets;
    }
    while (encoder.Encode(nullptr, 0, &consumed, &packet) == 0) ++packets;
    EXPECT_GE(packets, 46);  // 48000 / 1024 frames
}

INSTANTIATE_TEST_SUITE_P(Counts, AudioChannelsTest, testing::Values(1, 2, 6));

TEST(AudioEncoderTest, RefusesOtherCodecs) {
    common::ErrorTrail::Take();
    CFFMpegAEnc encoder;
    EXPECT_EQ(encoder.Open(86017, 2, 48000, 128000), console::kResultFail);
    EXPECT_NE(common::ErrorTrail::Take().find("codecID != AV_CODEC_ID_AAC"), std::string::npos);
    int consumed = 0;
    AVPacket* packet = nullptr;
    EXPECT_EQ(encoder.Encode(nullptr, 0, &consumed, &packet), console::kResultFail);
}

}  // namespace
