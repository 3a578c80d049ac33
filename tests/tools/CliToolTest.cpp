// corvane-cli's command line: the options that stand for the console's
// settings, and clear errors for bad ones.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/cli/TCliAudio.h"
#include "tools/cli/TCliOptions.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace corvane::cli {
namespace {

bool Parse(std::vector<const char*> args, TCliOptions& options, std::string& error) {
    args.insert(args.begin(), "corvane-cli");
    return ParseCliOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(CliOptionsTest, EveryOptionIsRead) {
    TCliOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"clip.mp4", "--size", "1920x1080", "--format", "bgra", "--fps", "25",
                       "--seconds", "62", "--record-dir", "/r", "--types", "15", "--bitrate-index",
                       "3", "--gop", "1", "--align", "500", "--push", "RTMP://h/live/s", "--push",
                       "udp://127.0.0.1:9", "--push-size", "1280x720", "--feed", "tone", "--template", "3", "--no-vcam"},
                      options, error))
        << error;
    EXPECT_EQ(options.width, 1920);
    EXPECT_EQ(options.pixelFormat, 28);
    EXPECT_EQ(options.types, 15u);
    EXPECT_EQ(options.bitrateIndex, 3);
    EXPECT_FALSE(options.pushBitrateIndex);
    EXPECT_EQ(options.alignMs, 500);
    EXPECT_EQ(options.templateSlot, 3);
    EXPECT_EQ(options.pushes.size(), 2u);
    EXPECT_EQ(options.pushWidth, 1280);
    EXPECT_EQ(options.audio, EAudioSource::kTone);
    EXPECT_FALSE(options.virtualCamera);
}

class CliBadOptionTest : public testing::TestWithParam<std::vector<const char*>> {};

TEST_P(CliBadOptionTest, IsRefusedWithAReason) {
    TCliOptions options;
    std::string error;
    EXPECT_FALSE(Parse(GetParam(), options, error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliBadOptionTest,
    testing::Values(std::vector<const char*>{}, std::vector<const char*>{"a.mp4", "--types", "16"},
                    std::vector<const char*>{"a.mp4", "--push", "rtsp://h/x"},
                    std::vector<const char*>{"a.mp4", "--feed", "mic"},
                    std::vector<const char*>{"a.mp4", "--audio", "mic", "--no-audio"},
                    std::vector<const char*>{"a.mp4", "--template", "6"},
                    std::vector<const char*>{"a.mp4", "--bitrate-index", "6"},
                    std::vector<const char*>{"a.mp4", "--push-size"}));

}  // namespace
}  // namespace corvane::cli

// Frames of 441 samples at 44.1 kHz arrive with up to 30 ms of scheduling
// jitter; 20 ms of samples go missing half way. The tally reports the loss,
// not the jitter.
TEST(CliAudioTallyTest, ReportsLostSamplesAndIgnoresArrivalJitter) {
    corvane::cli::TAudioTally tally;
    AVFrame* frame = av_frame_alloc();
    frame->sample_rate = 44100;
    frame->nb_samples = 441;
    const int jitterUs[] = {0, 30000, 5000, 12000, 0, 27000, 1000};
    int64_t capturedUs = 0;
    for (int i = 0; i < 800; ++i) {
        capturedUs += 10000;
        if (i == 400) capturedUs += 20000;  // a gap the samples do not cover
        tally.Note(frame, 1000000 + capturedUs + 3000 + jitterUs[i % 7]);
    }
    av_frame_free(&frame);
    char text[256] = {};
    std::FILE* out = fmemopen(text, sizeof(text) - 1, "w");
    tally.Print("summary", out);
    std::fclose(out);
    EXPECT_NE(std::string(text).find(": -20.0 ms"), std::string::npos) << text;
}
