#include <gtest/gtest.h>

extern "C" {
#include <libavutil/time.h>
}

#include <string>
#include <vector>

#include "common/ErrorTrail.h"
#include "console/media/RecordNaming.h"
#include "console/media/TRecord.h"
#include "tests/console/media/RecordTestSupport.h"

namespace {

using console::EDropCause;
using console::TRecord;
using namespace mediatest;

constexpr int64_t kFrameUs = 1000000 / 30;

int64_t Drops(const console::TRecordStats& stats, EDropCause cause) {
    return stats.videoDrops[static_cast<int>(cause)];
}

// Pushes `count` pictures at 30 fps whose stream time starts at `firstUs`.
void PushVideo(TRecord& recorder, AVStream* stream, int count, int64_t firstUs,
               int width = 320, int height = 240, AVPixelFormat format = AV_PIX_FMT_NV12) {
    for (int i = 0; i < count; ++i) {
        auto frame = MakePicture(width, height, format, i);
        frame->pts = firstUs + i * kFrameUs;
        frame->opaque = stream;
        recorder.PushVideo(frame.get());
    }
}

// Audio of 1024-sample frames at 48 kHz covering [firstUs, firstUs + spanUs).
void PushAudio(TRecord& recorder, AVStream* stream, int64_t firstUs, int64_t spanUs, int channels = 2) {
    constexpr int kSamples = 1024;
    for (int64_t t = 0; t < spanUs; t += kSamples * int64_t{1000000} / 48000) {
        auto frame = MakeAudio(kSamples, channels, 48000, firstUs + t, stream);
        recorder.PushAudio(frame.get());
    }
}

TEST(RecordTest, VideoOnlyDropsTheWarmUpAndWritesTheRest) {
    common::ErrorTrail::Take();
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord stream({1, 1000000}, 0);
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "v.mp4"}, VideoParams(320, 240)), 0);
    PushVideo(*recorder, stream.Get(), 90, 0);
    const auto stats = recorder->Stats();
    recorder->Close();
    // Frames 0..60 lie within 2 s of the stream's start; frame 61 fixes the
    // start and is the first written.
    EXPECT_EQ(Drops(stats, EDropCause::kWarmUp), 61);
    const auto info = ReadBack(folder / "v.mp4");
    ASSERT_EQ(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].packets, 29);
    EXPECT_TRUE(info.streams[0].dtsRising);
    EXPECT_EQ(common::ErrorTrail::Take(), "");
}

class AlignTest : public testing::TestWithParam<int> {};

// The alignment shifts every video time; frames still before the start are dropped.
TEST_P(AlignTest, ShiftsVideo) {
    const int alignMs = GetParam();
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord stream({1, 1000000}, 0);
    auto params = VideoParams(320, 240);
    params.avAlignMs = static_cast<int16_t>(alignMs);
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "a.mkv"}, params), 0);
    PushVideo(*recorder, stream.Get(), 120, 0);
    const auto stats = recorder->Stats();
    recorder->Close();
    const auto info = ReadBack(folder / "a.mkv");
    ASSERT_EQ(info.streams.size(), 1u);
    if (alignMs > 0) {
        EXPECT_NEAR(info.streams[0].firstPtsSec, 0.5, 0.002);
        EXPECT_EQ(info.streams[0].packets, 59);
    } else {
        EXPECT_EQ(Drops(stats, EDropCause::kBeforeStart), 16);
        EXPECT_EQ(info.streams[0].packets, 59 - 16);
    }
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, AlignTest, testing::Values(500, -500));

// Files and pushes in any case are used; others are skipped, and with none
// left Open fails.
TEST(RecordTest, OutputFilter) {
    for (const char* usable : {" x.MP4 ", "a.ts", "b.Flv", "c.mkv", "RTMP://h/live/s", "udp://127.0.0.1:9"})
        EXPECT_TRUE(console::IsUsableOutput(usable)) << usable;
    for (const char* skipped : {"", "  ", "a.avi", "rtsp://h/live", "mp4"})
        EXPECT_FALSE(console::IsUsableOutput(skipped)) << skipped;
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    common::ErrorTrail::Take();
    EXPECT_EQ(OpenRecorder(*recorder, {"", folder / "a.avi", "rtsp://127.0.0.1/x"}, VideoParams(64, 64)), 1);
    EXPECT_NE(common::ErrorTrail::Take().find("(TRecord::Open: m_arrMuxerFile.GetSize() == 0"), std::string::npos);
    EXPECT_EQ(OpenRecorder(*recorder, std::vector<std::string>(8, folder / "a.mkv"), VideoParams(64, 64)), 1);
    EXPECT_NE(common::ErrorTrail::Take().find("TRecord::Open: nOutCnt >= TMuxerMaxCnt"), std::string::npos);
}

TEST(RecordTest, SecondOpenAndEmptyClose) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    common::ErrorTrail::Take();
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "a.ts"}, VideoParams(64, 64)), 0);
    EXPECT_EQ(OpenRecorder(*recorder, {folder / "b.ts"}, VideoParams(64, 64)), 1);
    EXPECT_NE(common::ErrorTrail::Take().find("TRecord::Open: not Closed"), std::string::npos);
    recorder->Close();
    const std::string trail = common::ErrorTrail::Take();
    EXPECT_NE(trail.find("record error, m_nPushFrameCnt = 0"), std::string::npos);
    EXPECT_NE(trail.find("record error, m_nPopFrameCnt = 0"), std::string::npos);
    recorder->Close();
    EXPECT_EQ(common::ErrorTrail::Take(), "");
}

// One recorder, four containers, converted and scaled from BGRA, with audio:
// every file holds the same frames.
TEST(RecordTest, FourContainersHoldEqualFrames) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord video({1, 1000000}, -1);
    TStreamRecord audio({1, 1000000}, 0);
    auto params = VideoParams(320, 180, 30, AV_PIX_FMT_BGRA);
    params.srcVideo.width = 640;
    params.srcVideo.height = 360;
    AddAudio(params, 6);
    const std::vector<std::string> names = console::RecordFileNames(folder.Path(), 15, 0);
    ASSERT_EQ(names.size(), 4u);
    ASSERT_EQ(OpenRecorder(*recorder, names, params), 0);
    const int64_t first = 3000000;
    PushVideo(*recorder, video.Get(), 1, first, 640, 360, AV_PIX_FMT_BGRA);  // warm: stream start -1
    PushAudio(*recorder, audio.Get(), first, 2000000, 6);
    PushVideo(*recorder, video.Get(), 60, first + kFrameUs, 640, 360, AV_PIX_FMT_BGRA);
    recorder->Close();
    for (const auto& name : names) {
        const auto info = ReadBack(name);
        ASSERT_EQ(info.streams.size(), 2u) << name;
        EXPECT_EQ(info.streams[0].packets, 61) << name;  // the warm frame fixed the start
        EXPECT_EQ(info.streams[0].pixelFormat, AV_PIX_FMT_YUV420P) << name;
        EXPECT_EQ(info.streams[1].codec, "aac") << name;
        EXPECT_EQ(info.streams[1].channels, 6) << name;
        EXPECT_NEAR(info.streams[1].durationSec, 2.0, 0.1) << name;
    }
}

// Video stamped on the monotonic clock and audio on the wall clock meet on one
// time line: nothing is dropped for lying before the start.
TEST(RecordTest, VideoOnTheMonotonicClockWithAudioOnTheWallClock) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    const int64_t mono = av_gettime_relative();
    const int64_t wall = av_gettime();
    TStreamRecord video({1, 1000000}, mono - 3000000);
    TStreamRecord audio({1, 1000000}, wall);
    auto params = VideoParams(320, 240);
    AddAudio(params);
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "c.mkv"}, params), 0);
    PushVideo(*recorder, video.Get(), 1, mono);
    PushAudio(*recorder, audio.Get(), wall, 2000000);
    PushVideo(*recorder, video.Get(), 59, mono + kFrameUs);
    const auto stats = recorder->Stats();
    recorder->Close();
    EXPECT_EQ(Drops(stats, EDropCause::kBeforeStart), 0);
    const auto info = ReadBack(folder / "c.mkv");
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_GE(info.streams[0].packets, 58);
    EXPECT_NEAR(info.streams[0].durationSec, info.streams[1].durationSec, 0.2);
}

// An MP4 begins and ends with video and sound together: the first video
// frame kept stands at the start the audio fixed, the AAC encoder's priming
// frame lies before it, where the edit list hides it, and sound captured
// after the last picture is left out.
TEST(RecordTest, Mp4StartsAndEndsPictureAndSoundTogether) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord video({1, 1000000}, 0);
    TStreamRecord audio({1, 1000000}, 0);
    auto params = VideoParams(320, 240);
    AddAudio(params);
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "s.mp4"}, params), 0);
    const int64_t warm = TRecord::kWarmUpUs;
    PushVideo(*recorder, video.Get(), 1, warm);
    // Captured sound arrives a little after it was stamped.
    PushAudio(*recorder, audio.Get(), warm - 20000, 2500000);
    PushVideo(*recorder, video.Get(), 59, warm + kFrameUs);
    recorder->Close();
    const auto info = ReadBack(folder / "s.mp4");
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_NEAR(info.streams[0].firstPtsSec, 0.0, 0.001);
    EXPECT_NEAR(info.streams[1].firstPtsSec, -1024 / 48000.0, 0.001);
    const double videoEnd = info.streams[0].firstPtsSec + info.streams[0].durationSec;
    const double audioEnd = info.streams[1].firstPtsSec + info.streams[1].durationSec;
    EXPECT_NEAR(videoEnd, audioEnd, 1024 / 48000.0);
}

// References to one large picture count as the memory they would hold: past
// 512 MiB waiting, frames are refused.
TEST(RecordTest, RefusesFramesBeyondTheMemoryBound) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    TStreamRecord stream({1, 1000000}, -1);
    auto params = VideoParams(320, 180, 30, AV_PIX_FMT_BGRA);
    params.srcVideo.width = 1920;
    params.srcVideo.height = 1080;
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "m.ts"}, params), 0);
    auto picture = MakePicture(1920, 1080, AV_PIX_FMT_BGRA);
    picture->opaque = stream.Get();
    for (int i = 0; i < 150; ++i) {
        picture->pts = 3000000 + i * kFrameUs;
        recorder->PushVideo(picture.get());
    }
    const auto stats = recorder->Stats();
    recorder->Close();
    EXPECT_GT(Drops(stats, EDropCause::kMemoryBound), 0);
    EXPECT_EQ(Drops(stats, EDropCause::kQueueFull), 0);
    EXPECT_LE(stats.videoQueueMax, TRecord::kMaxQueuedBytes / static_cast<int64_t>(picture->buf[0]->size));
}

// Encoding at once keeps the encoder's frame counts; without an encoder it fails.
TEST(RecordTest, EncodeVideoNow) {
    TTempFolder folder;
    auto recorder = MakeRecorder(folder);
    auto picture = MakePicture(640, 360, AV_PIX_FMT_BGRA);
    EXPECT_EQ(recorder->EncodeVideoNow(picture.get()), -1);
    auto params = VideoParams(320, 180, 30, AV_PIX_FMT_BGRA);
    params.srcVideo.width = 640;
    params.srcVideo.height = 360;
    params.gop = 1;
    ASSERT_EQ(OpenRecorder(*recorder, {folder / "now.mkv"}, params), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(recorder->EncodeVideoNow(picture.get()), 0);
    recorder->Close();
    common::ErrorTrail::Take();
    const auto info = ReadBack(folder / "now.mkv");
    ASSERT_EQ(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].packets, 10);
    EXPECT_NEAR(info.streams[0].durationSec, 10 / 30.0, 0.01);
}

TEST(RecordNamingTest, BitRatesAndFileNames) {
    EXPECT_EQ(console::RecordBitRate(2), 2097152);
    EXPECT_EQ(console::RecordBitRate(5), 15728640);
    EXPECT_EQ(console::PushBitRate(0), 524288);
    EXPECT_EQ(console::PushBitRate(5), 8388608);
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    EXPECT_EQ(console::RecordFileNames("/r", 9, std::mktime(&local)),
              (std::vector<std::string>{"/r/TRec_2026.3.4.5.6.7_.mp4", "/r/TRec_2026.3.4.5.6.7_.mkv"}));
}

}  // namespace
