#include "engine/capture/TJpegDecoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace pelorn {
namespace {

// Sizes off the 16-pixel block grid, so partial blocks and rounded chroma
// planes are read too.
constexpr int kWidth = 322;
constexpr int kHeight = 242;

// A mid-grey picture with a white left half.
std::vector<uint8_t> Encode(int sampling) {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3, 128);
    for (int y = 0; y < kHeight; ++y) std::memset(&rgb[static_cast<size_t>(y) * kWidth * 3], 255, kWidth / 2 * 3);
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg, &size, sampling, 95, 0), 0);
    std::vector<uint8_t> out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

struct TSamplingCase {
    const char* label;
    int sampling;
    TJpegDecoder::Result result;
    AVPixelFormat format;  // on kPicture
};

class JpegDecoderSamplingTest : public testing::TestWithParam<TSamplingCase> {};

TEST_P(JpegDecoderSamplingTest, DecodesFourTwoTwoAndFourTwoZeroOnly) {
    const std::vector<uint8_t> jpeg = Encode(GetParam().sampling);
    AVFrame* frame = av_frame_alloc();
    {
        TJpegDecoder decoder;
        ASSERT_EQ(decoder.Decode(jpeg.data(), static_cast<int>(jpeg.size()), frame), GetParam().result);
    }
    if (GetParam().result == TJpegDecoder::Result::kPicture) {
        // Read after the decoder is gone: the frame owns its pixels.
        EXPECT_EQ(frame->format, GetParam().format);
        EXPECT_EQ(frame->width, kWidth);
        EXPECT_EQ(frame->height, kHeight);
        EXPECT_EQ(frame->color_range, AVCOL_RANGE_JPEG);
        const int chromaRows = GetParam().format == AV_PIX_FMT_YUVJ420P ? (kHeight + 1) / 2 : kHeight;
        const uint8_t* lastRow = frame->data[0] + static_cast<ptrdiff_t>(kHeight - 1) * frame->linesize[0];
        EXPECT_NEAR(lastRow[0], 255, 2);
        EXPECT_NEAR(lastRow[kWidth - 1], 128, 2);
        EXPECT_NEAR(frame->data[1][static_cast<ptrdiff_t>(chromaRows - 1) * frame->linesize[1]], 128, 2);
    } else {
        EXPECT_EQ(frame->buf[0], nullptr);
    }
    av_frame_free(&frame);
}

INSTANTIATE_TEST_SUITE_P(
    Samplings, JpegDecoderSamplingTest,
    testing::Values(TSamplingCase{"s422", TJSAMP_422, TJpegDecoder::Result::kPicture, AV_PIX_FMT_YUVJ422P},
                    TSamplingCase{"s420", TJSAMP_420, TJpegDecoder::Result::kPicture, AV_PIX_FMT_YUVJ420P},
                    TSamplingCase{"s444", TJSAMP_444, TJpegDecoder::Result::kRefused, AV_PIX_FMT_NONE},
                    TSamplingCase{"gray", TJSAMP_GRAY, TJpegDecoder::Result::kRefused, AV_PIX_FMT_NONE}),
    [](const testing::TestParamInfo<TSamplingCase>& info) { return std::string(info.param.label); });

enum class EDamage { kZeroSize, kUndefinedTable, kCutShort, kNoData };

struct TDamageCase {
    const char* label;
    EDamage damage;
    TJpegDecoder::Result result;
};

std::vector<uint8_t> Damaged(EDamage damage) {
    std::vector<uint8_t> jpeg = Encode(TJSAMP_422);
    const uint8_t frameMarker[] = {0xFF, 0xC0};
    const auto frameHeader = std::search(jpeg.begin(), jpeg.end(), std::begin(frameMarker), std::end(frameMarker));
    switch (damage) {
    case EDamage::kZeroSize:  // height and width
        std::fill(frameHeader + 5, frameHeader + 9, 0);
        break;
    case EDamage::kUndefinedTable:  // the first component's quantisation table
        frameHeader[12] = 3;
        break;
    case EDamage::kCutShort:
        jpeg.resize(jpeg.size() * 2 / 3);
        break;
    case EDamage::kNoData:
        jpeg.clear();
        break;
    }
    return jpeg;
}

class JpegDecoderDamageTest : public testing::TestWithParam<TDamageCase> {};

TEST_P(JpegDecoderDamageTest, RefusesWhatItCannotReadAndFillsWhatEndsEarly) {
    const std::vector<uint8_t> jpeg = Damaged(GetParam().damage);
    TJpegDecoder decoder;
    AVFrame* frame = av_frame_alloc();
    EXPECT_EQ(decoder.Decode(jpeg.data(), static_cast<int>(jpeg.size()), frame), GetParam().result);
    EXPECT_EQ(frame->buf[0] != nullptr, GetParam().result == TJpegDecoder::Result::kPicture);
    av_frame_free(&frame);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, JpegDecoderDamageTest,
    testing::Values(TDamageCase{"zero_size", EDamage::kZeroSize, TJpegDecoder::Result::kRefused},
                    TDamageCase{"undefined_table", EDamage::kUndefinedTable, TJpegDecoder::Result::kRefused},
                    TDamageCase{"cut_short", EDamage::kCutShort, TJpegDecoder::Result::kPicture},
                    TDamageCase{"no_data", EDamage::kNoData, TJpegDecoder::Result::kRefused}),
    [](const testing::TestParamInfo<TDamageCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace pelorn
