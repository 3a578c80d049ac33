// corvane-cli run as the console would be: settings from its store (flags
// win), audio captured from a private PulseAudio server, layout slots.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "console/media/RecordNaming.h"
#include "console/services/SettingsStore.h"
#include "tests/ChildProcess.h"
#include "tests/console/media/MediaTestSupport.h"
#include "tests/media/PulseTestSupport.h"

namespace {

namespace fs = std::filesystem;
using mediatest::TTempFolder;

struct TProbe {
    int width = 0;
    int height = 0;
    double fps = 0;  // video frames over the time they span
    std::string audioCodec;
    int sampleRate = 0;
    int channels = 0;
    double toneShare = 0;  // of the audio's power at 1 kHz, 1 for a pure tone
};

// The power at 1 kHz over the whole power of 100 ms blocks (exactly 100
// periods at 44100 Hz), averaged over the blocks after the first.
class TToneMeter {
public:
    void Add(float sample) {
        m_block.push_back(sample);
        if (static_cast<int>(m_block.size()) < kBlock) return;
        double re = 0, im = 0, power = 0;
        for (int i = 0; i < kBlock; ++i) {
            const double phase = 2 * M_PI * 1000.0 * i / 44100.0;
            re += m_block[i] * std::cos(phase);
            im += m_block[i] * std::sin(phase);
            power += m_block[i] * m_block[i];
        }
        if (++m_nBlocks > 1 && power > 0) m_sum += (re * re + im * im) / (kBlock * power / 2);
        m_block.clear();
    }
    double Share() const { return m_nBlocks > 1 ? m_sum / (m_nBlocks - 1) : 0; }

private:
    static constexpr int kBlock = 4410;
    std::vector<float> m_block;
    int m_nBlocks = 0;
    double m_sum = 0;
};

TProbe Probe(const std::string& path) {
    TProbe probe;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return probe;
    AVCodecContext* decoder = nullptr;
    int video = -1, audio = -1;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    if (video >= 0) {
        probe.width = format->streams[video]->codecpar->width;
        probe.height = format->streams[video]->codecpar->height;
    }
    if (audio >= 0) {
        const AVCodecParameters* par = format->streams[audio]->codecpar;
        probe.audioCodec = avcodec_get_name(par->codec_id);
        probe.sampleRate = par->sample_rate;
        probe.channels = par->ch_layout.nb_channels;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, par);
        if (avcodec_open2(decoder, codec, nullptr) < 0 || decoder->sample_fmt != AV_SAMPLE_FMT_FLTP)
            avcodec_free_context(&decoder);
    }
    TToneMeter meter;
    int64_t frames = 0;
    double first = 1e9, last = -1e9;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (video >= 0 && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            const double at = packet->pts * av_q2d(format->streams[video]->time_base);
            first = std::min(first, at);
            last = std::max(last, at);
            ++frames;
        } else if (packet->stream_index == audio && decoder != nullptr &&
                   avcodec_send_packet(decoder, packet) >= 0) {
            while (avcodec_receive_frame(decoder, frame) >= 0) {
                const auto* left = reinterpret_cast<const float*>(frame->data[0]);
                for (int i = 0; i < frame->nb_samples; ++i) meter.Add(left[i]);
            }
        }
        av_packet_unref(packet);
    }
    if (frames > 1 && last > first) probe.fps = static_cast<double>(frames - 1) / (last - first);
    probe.toneShare = meter.Share();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return probe;
}

// Recordings in a folder by their extension.
std::set<std::string> Extensions(const std::string& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.insert(entry.path().extension().string());
    return found;
}

std::string FileWithExtension(const std::string& folder, const std::string& extension) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == extension) return entry.path().string();
    return {};
}

// Every test has a store of its own in a fresh XDG_CONFIG_HOME, which the
// runner inherits. The runner plays a 25 fps clip: the engine hands a file's
// pictures on at the file's own rate.
class CliRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_clipFolder = new TTempFolder();
        testsupport::TChildProcess ffmpeg;
        ASSERT_TRUE(ffmpeg.Start({FFMPEG_PATH, "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                  "testsrc2=size=640x360:rate=25", "-t", "20", "-c:v", "libx264", "-preset",
                                  "ultrafast", "-pix_fmt", "yuv420p", Clip()},
                                 *s_clipFolder / "ffmpeg.err"));
        ASSERT_EQ(ffmpeg.WaitForExit(60000), 0) << ffmpeg.Stderr();
    }
    static void TearDownTestSuite() {
        delete s_clipFolder;
        s_clipFolder = nullptr;
    }
    static std::string Clip() { return *s_clipFolder / "clip25.mp4"; }

    void SetUp() override {
        setenv("XDG_CONFIG_HOME", (m_home / "config").c_str(), 1);
        fs::create_directories(m_home / "stored");
        fs::create_directories(m_home / "flagged");
    }

    // The runner's exit status, its output in m_out and m_err.
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {CORVANE_CLI_PATH, Clip()});
        testsupport::TChildProcess cli;
        if (!cli.Start(args, m_home / "err", m_home / "out")) return -1;
        const int status = cli.WaitForExit(90000);
        m_out = cli.Stdout();
        m_err = cli.Stderr();
        return status;
    }

    static TTempFolder* s_clipFolder;
    TTempFolder m_home;
    std::string m_out, m_err;
};
TTempFolder* CliRunTest::s_clipFolder = nullptr;

struct SettingsCase {
    const char* name;
    std::vector<std::string> flags;
    const char* folder;
    std::set<std::string> extensions;
    int width, height;
};

class RecordingSettingsTest : public CliRunTest, public ::testing::WithParamInterface<SettingsCase> {};

// Stored Client 640 x 360 at 25, FileExt TS + MKV and a folder; the flags
// given win over the store, the rest still comes from it. The store is only
// read.
TEST_P(RecordingSettingsTest, RecordsWithTheStoredSettingsUnlessAFlagWins) {
    ASSERT_TRUE(console::WriteClient(640, 360, 25, 1));
    ASSERT_TRUE(console::WriteRecord(0, 2, 25, console::kFileExtTs | console::kFileExtMkv));
    const std::string stored = m_home / "stored";
    char16_t folder[260] = {};
    std::copy(stored.begin(), stored.end(), folder);
    ASSERT_EQ(console::WriteString(folder, "RecordPath", "Record"), 0);

    std::vector<std::string> args = {"--seconds", "4", "--no-audio", "--no-vcam"};
    for (const std::string& flag : GetParam().flags)
        args.push_back(flag == "FLAGGED" ? m_home / "flagged" : flag);
    ASSERT_EQ(Run(args), 0) << m_err;

    const std::string recorded = m_home / GetParam().folder;
    ASSERT_EQ(Extensions(recorded), GetParam().extensions) << m_out;
    for (const std::string& extension : GetParam().extensions) {
        const TProbe probe = Probe(FileWithExtension(recorded, extension));
        EXPECT_EQ(probe.width, GetParam().width) << extension;
        EXPECT_EQ(probe.height, GetParam().height) << extension;
        EXPECT_NEAR(probe.fps, 25, 1) << extension;
    }
    // What the console writes at its start is not written by the runner.
    EXPECT_FALSE(console::IsStored("EXE", ""));
    EXPECT_FALSE(console::IsStored("VideoDevName", "InputMain"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordingSettingsTest,
    ::testing::Values(SettingsCase{"Stored", {}, "stored", {".mkv", ".ts"}, 640, 360},
                      SettingsCase{"FlagsWin",
                                   {"--size", "320x240", "--types", "1", "--record-dir", "FLAGGED"},
                                   "flagged",
                                   {".mp4"},
                                   320,
                                   240}),
    [](const auto& info) { return std::string(info.param.name); });

// A slot whose stored template is damaged plays its default.
TEST_F(CliRunTest, ADamagedTemplatePlaysTheDefault) {
    ASSERT_EQ(console::RenameTemplate(u"坏", 3), 1);  // a name without layers
    ASSERT_EQ(Run({"--template", "3", "--seconds", "1", "--types", "0", "--no-audio", "--no-vcam"}), 0) << m_err;
    EXPECT_NE(m_out.find("template 3 \"自定义4\" (default)"), std::string::npos) << m_out;
}

class CliAudioRunTest : public CliRunTest {
protected:
    static void SetUpTestSuite() {
        CliRunTest::SetUpTestSuite();
        s_server = new testsupport::TPulseServer();
        std::string error;
        ASSERT_TRUE(s_server->Start(&error)) << error;
        ASSERT_TRUE(s_server->PlayTone("qtest", 1000));
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
        CliRunTest::TearDownTestSuite();
    }
    static testsupport::TPulseServer* s_server;
};
testsupport::TPulseServer* CliAudioRunTest::s_server = nullptr;

TEST_F(CliAudioRunTest, RecordsTheCapturedToneAsAac) {
    ASSERT_EQ(Run({"--audio", "qtest.monitor", "--seconds", "5", "--types", "1", "--size", "640x360",
                   "--record-dir", m_home / "flagged", "--no-vcam"}),
              0)
        << m_err;
    const TProbe probe = Probe(FileWithExtension(m_home / "flagged", ".mp4"));
    EXPECT_EQ(probe.audioCodec, "aac");
    EXPECT_EQ(probe.sampleRate, 44100);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_GT(probe.toneShare, 0.8);
}

TEST_F(CliAudioRunTest, AnUnknownInputFailsWithTheOpenTexts) {
    EXPECT_EQ(Run({"--audio", "nosuch", "--record-dir", m_home / "flagged", "--no-vcam"}), 1);
    EXPECT_NE(m_err.find("Couldn't open input audio stream."), std::string::npos) << m_err;
    EXPECT_NE(m_err.find("RestartAudio: OpenAudioStream error"), std::string::npos) << m_err;
    EXPECT_TRUE(fs::is_empty(m_home / "flagged"));
}

}  // namespace
