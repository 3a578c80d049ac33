#include "engine/capture/TFileCaptor.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using common::ErrorTrail;

std::string Media(const char* name) { return std::string(QUINDLE_TEST_MEDIA_DIR) + "/" + name; }

// ---- Frame-rate choice ----------------------------------------------------------------------

bool SameRate(AVRational a, AVRational b) { return a.num == b.num && a.den == b.den; }

TEST(FileCaptorFrameRateTest, AverageRateWithoutValueTakesTheRealBaseRate) {
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({0, 0}, {25, 1}), {25, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({0, 1}, {30, 1}), {30, 1}));
    // Neither known: the denominator is made usable.
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({0, 0}, {0, 0}), {0, 1}));
}

TEST(FileCaptorFrameRateTest, DoubleRateOutsideTheFilmRangeKeepsTheAverage) {
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({25, 1}, {50, 1}), {25, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({120, 1}, {60, 1}), {120, 1}));
    // Half the rate inside 23..32 does take the real base rate.
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({60, 1}, {30, 1}), {30, 1}));
}

TEST(FileCaptorFrameRateTest, NearlyEqualRatesPreferAStandardRate) {
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({2997, 100}, {30, 1}), {30, 1}));
    // The real base rate is not standard but the average is: keep it.
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({25, 1}, {255, 10}), {25, 1}));
    // Neither is standard: the one closer to a whole number wins.
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({271, 10}, {27, 1}), {27, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({27, 1}, {271, 10}), {27, 1}));
}

TEST(FileCaptorFrameRateTest, ImplausibleAverageGivesWayToAPlausibleRealRate) {
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({1000, 1}, {25, 1}), {25, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({1, 2}, {25, 1}), {25, 1}));
    // Both plausible and far apart: the average stands.
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({10, 1}, {25, 1}), {10, 1}));
}

TEST(FileCaptorFrameRateTest, EqualOrUnusableRealRateKeepsTheAverage) {
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({30, 1}, {30, 1}), {30, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({30, 1}, {30, 0}), {30, 1}));
    EXPECT_TRUE(SameRate(TFileCaptor::ChooseFrameRate({30, 1}, {-30, 1}), {30, 1}));
}

// ---- Playback clock ---------------------------------------------------------------------------

constexpr int64_t kFrameMicros = 1000000 / 30;

TFileCaptor::TPlaybackClock ThirtyPerSecondClock() {
    TFileCaptor::TPlaybackClock clock;
    clock.streamTimeBase = {1, 30};
    return clock;
}

TEST(FileCaptorClockTest, FramesAreDueAtTheirOffsetFromTheFirstFrame) {
    TFileCaptor::TPlaybackClock clock = ThirtyPerSecondClock();
    EXPECT_EQ(clock.DueWall(100, 5'000'000), 5'000'000);
    EXPECT_EQ(clock.DueWall(101, 5'001'000), 5'000'000 + kFrameMicros);
    EXPECT_EQ(clock.DueWall(130, 5'002'000), 6'000'000);
    // The new pts is the wall time passed, in the stream's time base.
    EXPECT_EQ(clock.Restamp(6'000'000), 30);
}

TEST(FileCaptorClockTest, ANewPassContinuesFromTheLastFrameOfThePassBefore) {
    TFileCaptor::TPlaybackClock clock = ThirtyPerSecondClock();
    const int64_t start = 1'000'000;
    for (int pts = 0; pts < 10; ++pts) clock.DueWall(pts, start);
    const int64_t lastOfFirstPass = clock.DueWall(9, start);

    clock.passCount = 1;
    EXPECT_EQ(clock.DueWall(0, start), lastOfFirstPass);
    EXPECT_EQ(clock.passLength, 9);
    EXPECT_EQ(clock.DueWall(1, start), start + 333'333);  // ten frames after the first

    clock.passCount = 2;
    EXPECT_EQ(clock.DueWall(0, start), start + 600'000);  // two passes of nine intervals
}

TEST(FileCaptorClockTest, WithoutTheFirstTimeStampAgainLaterPassesAreNotHeldBack) {
    TFileCaptor::TPlaybackClock clock = ThirtyPerSecondClock();
    for (int pts = 5; pts < 15; ++pts) clock.DueWall(pts, 1'000'000);
    clock.passCount = 1;
    // The second pass starts at pts 6: pass length stays unknown.
    EXPECT_EQ(clock.DueWall(6, 9'000'000), 1'000'000 + kFrameMicros);
    EXPECT_EQ(clock.passLength, 0);
}

TEST(FileCaptorClockTest, WildTimeStampsSaturateInsteadOfOverflowing) {
    TFileCaptor::TPlaybackClock clock = ThirtyPerSecondClock();
    clock.DueWall(std::numeric_limits<int64_t>::min() + 1, 1'000'000);
    const int64_t farAhead = clock.DueWall(std::numeric_limits<int64_t>::max(), 1'000'000);
    EXPECT_GT(farAhead, 1'000'000);
    clock.passCount = 1;
    clock.passLength = std::numeric_limits<int64_t>::max();
    EXPECT_GT(clock.DueWall(0, 1'000'000), 1'000'000);
}

// ---- Opening ----------------------------------------------------------------------------------

class FileCaptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_QUIET);  // damaged files are meant to make the decoder complain
        ErrorTrail::Take();
    }

    // What reached the callback, as seen on the playback thread.
    struct TDelivered {
        std::mutex lock;
        std::vector<int64_t> ptsMicros;     // re-stamped pts
        std::vector<int64_t> arrivalMicros;  // clock reading in the callback
        std::atomic<int> count{0};
        std::atomic<bool> wrongPicture{false};
        int width = 0;
        int height = 0;
    };

    static void OnFrame(AVFrame* frame, void* user) {
        auto* delivered = static_cast<TDelivered*>(user);
        const auto* stream = static_cast<const AVStream*>(frame->opaque);
        std::lock_guard guard(delivered->lock);
        if (stream == nullptr || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            frame->data[0] == nullptr ||
            (delivered->width != 0 && frame->width != delivered->width) ||
            (delivered->height != 0 && frame->height != delivered->height)) {
            delivered->wrongPicture = true;
        } else {
            delivered->ptsMicros.push_back(
                av_rescale_q(frame->pts, stream->time_base, AVRational{1, 1000000}));
            delivered->arrivalMicros.push_back(av_gettime_relative());
        }
        ++delivered->count;
    }

    // Waits until `count` frames arrived or `limit_ms` passed.
    bool WaitForFrames(int count, int limit_ms) {
        for (int waited = 0; waited < limit_ms; waited += 5) {
            if (m_delivered.count.load() >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_delivered.count.load() >= count;
    }

    TFileCaptor m_captor;
    TDelivered m_delivered;
};

TEST_F(FileCaptorTest, OpenReportsWhatFailed) {
    EXPECT_EQ(m_captor.Open(Media("no-such-file.mp4"), &OnFrame, nullptr, &m_delivered, 0), -1);
    EXPECT_EQ(m_captor.OpenW(nullptr, &OnFrame, nullptr, &m_delivered), -1);
    EXPECT_EQ(m_captor.Open(Media("audio_only.m4a"), &OnFrame, nullptr, &m_delivered, 0), -3);
    EXPECT_EQ(m_captor.GetFormat(nullptr), 0);
    EXPECT_EQ(m_captor.GetFrameCount(), 0);
}

TEST_F(FileCaptorTest, StartAfterAFailedOpenReturnsNullAndLeavesTheError) {
    ErrorTrail::Add("earlier");
    ASSERT_EQ(m_captor.Open(Media("audio_only.m4a"), &OnFrame, nullptr, &m_delivered, 1), -3);
    EXPECT_EQ(m_captor.Start(), nullptr);
    EXPECT_EQ(ErrorTrail::Take(), "TFileCaptor::StartCapture error\rearlier\r");
    EXPECT_EQ(m_captor.GetFormat(nullptr), 0);

    TFileCaptor neverOpened;
    EXPECT_EQ(neverOpened.Start(), nullptr);
    EXPECT_EQ(ErrorTrail::Take(), "TFileCaptor::StartCapture error\r");
}

TEST_F(FileCaptorTest, FormatAndStateFollowOpenStartAndStop) {
    ASSERT_EQ(m_captor.Open(Media("av_320x240_30.mp4"), &OnFrame, nullptr, &m_delivered, 0), 0);
    TCapVideoFormat format = kDefaultVideoFormat;
    EXPECT_EQ(m_captor.GetFormat(&format), 1);
    EXPECT_EQ(format.width, 320);
    EXPECT_EQ(format.height, 240);
    EXPECT_EQ(format.pixelFormat, 0);  // AV_PIX_FMT_YUV420P
    EXPECT_EQ(format.frameRate, 30);
    EXPECT_EQ(format.reserved, -1);  // left alone
    EXPECT_EQ(m_captor.GetFrameCount(), 60);

    ASSERT_NE(m_captor.Start(), nullptr);
    EXPECT_EQ(m_captor.GetFormat(nullptr), 2);
    EXPECT_TRUE(m_captor.IsPlaying());
    EXPECT_EQ(m_captor.Stop(), 0);
    EXPECT_EQ(m_captor.GetFormat(nullptr), 0);
    EXPECT_FALSE(m_captor.IsPlaying());

    // Opened again, the captor is back to "opened", not "running".
    ASSERT_EQ(m_captor.Open(Media("av_320x240_30.mp4"), &OnFrame, nullptr, &m_delivered, 0), 0);
    EXPECT_EQ(m_captor.GetFormat(nullptr), 1);
}

// ---- Playback ---------------------------------------------------------------------------------

TEST_F(FileCaptorTest, ThirtyFramesPerSecondOfWallClockWithPtsTheElapsedTime) {
    m_delivered.width = 320;
    m_delivered.height = 240;
    ASSERT_EQ(m_captor.Open(Media("av_320x240_30.mp4"), &OnFrame, nullptr, &m_delivered, 0), 0);
    platform::TManualResetEvent* ended = m_captor.Start();
    ASSERT_NE(ended, nullptr);
    ASSERT_TRUE(WaitForFrames(1, 5000));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int afterOneSecond = m_delivered.count.load();
    ASSERT_TRUE(ended->WaitFor(20000));
    m_captor.Stop();

    // Paced, not poured out: the 2 s file is half delivered after 1 s (wide
    // margins for a loaded machine), and at the end every frame arrived.
    EXPECT_GE(afterOneSecond, 15);
    EXPECT_LE(afterOneSecond, 50);
    EXPECT_EQ(m_delivered.count.load(), 60);
    EXPECT_FALSE(m_delivered.wrongPicture.load());

    std::lock_guard guard(m_delivered.lock);
    ASSERT_EQ(m_delivered.ptsMicros.size(), 60u);
    for (size_t i = 0; i < m_delivered.ptsMicros.size(); ++i) {
        const int64_t elapsed = m_delivered.arrivalMicros[i] - m_delivered.arrivalMicros[0];
        // Both taken right before the call (the first picture's pts is the
        // time since playback began, about 0); a busy machine may preempt
        // the worker between the two readings.
        EXPECT_NEAR(m_delivered.ptsMicros[i], elapsed, 50'000) << i;
    }
    EXPECT_TRUE(std::is_sorted(m_delivered.ptsMicros.begin(), m_delivered.ptsMicros.end()));
}

TEST_F(FileCaptorTest, LoopingRestartsWithoutAPause) {
    ASSERT_EQ(m_captor.Open(Media("loop_320x240_30.mp4"), &OnFrame, nullptr, &m_delivered, 1), 0);
    ASSERT_NE(m_captor.Start(), nullptr);
    // Ten frames a pass: 35 frames are more than three passes.
    ASSERT_TRUE(WaitForFrames(35, 20000));
    EXPECT_TRUE(m_captor.IsPlaying());
    m_captor.Stop();

    std::lock_guard guard(m_delivered.lock);
    int64_t longestGap = 0;
    for (size_t i = 1; i < m_delivered.ptsMicros.size(); ++i) {
        longestGap = std::max(longestGap, m_delivered.ptsMicros[i] - m_delivered.ptsMicros[i - 1]);
    }
    // One frame interval is 33 ms; a rewind that held back a whole pass
    // (300 ms) or restarted the clock would stand out.
    EXPECT_LT(longestGap, 250'000);
    // Not poured out either: 35 frames take about a second.
    const int64_t span = m_delivered.ptsMicros[34] - m_delivered.ptsMicros[0];
    EXPECT_GT(span, 34 * kFrameMicros / 2);
}

TEST_F(FileCaptorTest, StopDuringALongTimeStampGapReturnsPromptly) {
    ASSERT_EQ(m_captor.Open(Media("gap_320x240_30.mkv"), &OnFrame, nullptr, &m_delivered, 0), 0);
    platform::TManualResetEvent* ended = m_captor.Start();
    ASSERT_NE(ended, nullptr);
    ASSERT_TRUE(WaitForFrames(5, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_delivered.count.load(), 5);  // the sixth frame is ten minutes away

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(m_captor.Stop(), 0);
    const auto stopped = std::chrono::steady_clock::now() - before;
    // Far below the gap; the bound only has to tell "cut short" from "waited".
    EXPECT_LT(stopped, std::chrono::seconds(10));
    EXPECT_TRUE(ended->IsSet());
    EXPECT_EQ(m_delivered.count.load(), 5);
}

TEST_F(FileCaptorTest, DestructionStopsARunningPlayback) {
    auto captor = std::make_unique<TFileCaptor>();
    ASSERT_EQ(captor->Open(Media("loop_320x240_30.mp4"), &OnFrame, nullptr, &m_delivered, 1), 0);
    ASSERT_NE(captor->Start(), nullptr);
    ASSERT_TRUE(WaitForFrames(3, 10000));
    captor.reset();
    const int count = m_delivered.count.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_delivered.count.load(), count);
}

// Keeps the first picture it is handed, as a receiver queueing pictures does.
struct TKeeper {
    std::atomic<AVFrame*> kept{nullptr};
    AVRational timeBase{0, 1};  // of the kept picture's stream, read in the callback

    static void Keep(AVFrame* frame, void* user) {
        auto* self = static_cast<TKeeper*>(user);
        if (self->kept.load() != nullptr) return;
        self->timeBase = static_cast<const AVStream*>(frame->opaque)->time_base;
        self->kept = av_frame_clone(frame);
    }
};

TEST_F(FileCaptorTest, APictureKeptPastTheCaptorStillNamesItsStream) {
    TKeeper keeper;
    auto captor = std::make_unique<TFileCaptor>();
    ASSERT_EQ(captor->Open(Media("av_320x240_30.mp4"), &TKeeper::Keep, nullptr, &keeper, 0), 0);
    ASSERT_NE(captor->Start(), nullptr);
    for (int waited = 0; keeper.kept.load() == nullptr && waited < 10000; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(keeper.kept.load(), nullptr);
    captor->Stop();
    captor.reset();

    // Read after the captor is gone: the sanitizers see a closed file's stream.
    AVFrame* kept = keeper.kept.exchange(nullptr);
    const auto* stream = static_cast<const AVStream*>(kept->opaque);
    EXPECT_EQ(av_cmp_q(stream->time_base, keeper.timeBase), 0);
    EXPECT_EQ(stream->codecpar->width, 320);
    av_frame_free(&kept);  // the last hold: closes the file
}

// ---- Network source ---------------------------------------------------------------------------

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Serves `bytes` to one client on 127.0.0.1 and then keeps the connection
// open without sending more, as a stalled network source does.
class TStalledServer {
public:
    explicit TStalledServer(std::vector<char> bytes) : m_bytes(std::move(bytes)) {
        m_nListen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_nListen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(m_nListen, 1) == 0 &&
            getsockname(m_nListen, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~TStalledServer() {
        Close();
        m_thread.join();
        ::close(m_nListen);
    }

    int Port() const { return m_nPort; }
    // Ends the connection (the client then reads the end of the stream).
    void Close() {
        std::lock_guard guard(m_lock);
        m_bClosing = true;
        ::shutdown(m_nListen, SHUT_RDWR);  // also wakes a pending accept
        m_changed.notify_all();
    }

private:
    void Serve() {
        const int client = accept(m_nListen, nullptr, nullptr);
        if (client < 0) return;
        for (size_t sent = 0; sent < m_bytes.size();) {
            const ssize_t n = ::send(client, m_bytes.data() + sent, m_bytes.size() - sent, 0);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [this] { return m_bClosing; });
        ::close(client);
    }

    std::vector<char> m_bytes;
    int m_nListen = -1;
    int m_nPort = 0;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bClosing = false;
    std::thread m_thread;
};

TEST_F(FileCaptorTest, StopCutsABlockedNetworkReadShort) {
    std::vector<char> bytes = ReadAll(Media("stream_320x240_30.mkv"));
    bytes.resize(bytes.size() * 2 / 3);
    TStalledServer server(std::move(bytes));
    ASSERT_NE(server.Port(), 0);
    const std::string url = "tcp://127.0.0.1:" + std::to_string(server.Port());

    // Each step that could hang runs aside; a hung one fails the test and is
    // released by closing the connection.
    auto opened = std::async(std::launch::async, [&] {
        return m_captor.Open(url, &OnFrame, nullptr, &m_delivered, 0);
    });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        server.Close();
        FAIL() << "Open did not return";
    }
    ASSERT_EQ(opened.get(), 0);
    ASSERT_NE(m_captor.Start(), nullptr);
    ASSERT_TRUE(WaitForFrames(5, 10000));
    // Delivery stops once the reader waits for bytes that never come.
    for (int last = -1, rounds = 0; m_delivered.count.load() != last && rounds < 40; ++rounds) {
        last = m_delivered.count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    EXPECT_LT(m_delivered.count.load(), 90);  // the whole stream was never sent

    auto stopped = std::async(std::launch::async, [this] { return m_captor.Stop(); });
    const bool prompt = stopped.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    server.Close();
    stopped.wait();
    EXPECT_TRUE(prompt) << "Stop waited for the network";
}

// ---- Damaged files ----------------------------------------------------------------------------

enum class TDamage { kTruncatedHalf, kTruncatedTenth, kHeaderOnly, kOverwritten, kGarbage };

struct TDamageCase {
    const char* source;
    TDamage damage;
    const char* name;
};

std::vector<char> Damage(std::vector<char> bytes, TDamage damage) {
    std::mt19937 random(20240611);
    switch (damage) {
        case TDamage::kTruncatedHalf:
            bytes.resize(bytes.size() / 2);
            break;
        case TDamage::kTruncatedTenth:
            bytes.resize(bytes.size() / 10);
            break;
        case TDamage::kHeaderOnly:
            bytes.resize(std::min<size_t>(bytes.size(), 600));
            break;
        case TDamage::kOverwritten:
            // Runs of random bytes all over the file past its first kilobyte.
            for (int run = 0; run < 40; ++run) {
                const size_t at = 1024 + random() % (bytes.size() - 1100);
                for (size_t i = 0; i < 48 && at + i < bytes.size(); ++i) {
                    bytes[at + i] = static_cast<char>(random());
                }
            }
            break;
        case TDamage::kGarbage:
            bytes.assign(64 * 1024, 0);
            for (char& byte : bytes) byte = static_cast<char>(random());
            break;
    }
    return bytes;
}

class DamagedFileTest : public FileCaptorTest, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(DamagedFileTest, FailsCleanlyOrPlaysWhatItCan) {
    const TDamageCase& damageCase = GetParam();
    const fs::path path = fs::temp_directory_path() /
                          ("quindle-damaged-" + std::to_string(getpid()) + "-" + damageCase.name);
    {
        const std::vector<char> bytes = Damage(ReadAll(Media(damageCase.source)), damageCase.damage);
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    const int opened = m_captor.Open(path.string(), &OnFrame, nullptr, &m_delivered, 1);
    EXPECT_TRUE(opened == 0 || opened == -1 || opened == -2 || opened == -3) << opened;
    if (opened == 0) {
        TCapVideoFormat format = kDefaultVideoFormat;
        m_captor.GetFormat(&format);
        m_delivered.width = format.width;
        m_delivered.height = format.height;
        platform::TManualResetEvent* ended = m_captor.Start();
        ASSERT_NE(ended, nullptr);
        ended->WaitFor(700);
    } else {
        EXPECT_EQ(m_captor.Start(), nullptr);
    }
    EXPECT_EQ(m_captor.Stop(), 0);
    EXPECT_FALSE(m_delivered.wrongPicture.load());
    fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedFileTest,
    ::testing::Values(TDamageCase{"av_320x240_30.mp4", TDamage::kTruncatedHalf, "mp4_half"},
                      TDamageCase{"av_320x240_30.mp4", TDamage::kOverwritten, "mp4_overwritten"},
                      TDamageCase{"pic_640x360_30.mkv", TDamage::kTruncatedHalf, "mkv_half"},
                      TDamageCase{"pic_640x360_30.mkv", TDamage::kTruncatedTenth, "mkv_tenth"},
                      TDamageCase{"pic_640x360_30.mkv", TDamage::kHeaderOnly, "mkv_header"},
                      TDamageCase{"pic_640x360_30.mkv", TDamage::kOverwritten, "mkv_overwritten"},
                      TDamageCase{"gap_320x240_30.mkv", TDamage::kOverwritten, "gap_overwritten"},
                      TDamageCase{"av_320x240_30.mp4", TDamage::kGarbage, "garbage"}),
    [](const ::testing::TestParamInfo<TDamageCase>& info) { return info.param.name; });

// A bitmap header without a bit depth leaves the raw picture without a pixel
// format, and its decoder refuses to open.
TEST_F(FileCaptorTest, AVideoDecoderThatDoesNotOpenMeansNoDecodableVideo) {
    std::vector<char> bytes = ReadAll(Media("raw_64x48_5.avi"));
    const std::string_view view(bytes.data(), bytes.size());
    const size_t format = view.find("strf");
    ASSERT_NE(format, std::string_view::npos);
    constexpr size_t kBitCount = 8 + 14;  // chunk header, then the bitmap header's field
    ASSERT_LT(format + kBitCount + 1, bytes.size());
    bytes[format + kBitCount] = bytes[format + kBitCount + 1] = 0;
    const fs::path path =
        fs::temp_directory_path() / ("quindle-nodepth-" + std::to_string(getpid()) + ".avi");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(m_captor.Open(Media("raw_64x48_5.avi"), &OnFrame, nullptr, &m_delivered, 0), 0);
    EXPECT_EQ(m_captor.Open(path.string(), &OnFrame, nullptr, &m_delivered, 0), -3);
    EXPECT_EQ(m_captor.GetFormat(nullptr), 0);
    EXPECT_EQ(m_captor.Start(), nullptr);
    m_captor.Stop();
    fs::remove(path);
}

// The transport stream still announces its audio after every audio packet
// is gone, so the stream has no channel count.
TEST_F(FileCaptorTest, AnAudioStreamWithoutChannelsIsNotDecodedAndTheVideoPlays) {
    ASSERT_EQ(m_captor.Open(Media("av_320x240_30.ts"), &OnFrame, nullptr, &m_delivered, 0), 0);
    EXPECT_TRUE(m_captor.DecodesAudio());
    m_captor.Stop();

    const fs::path path = fs::temp_directory_path() /
                          ("quindle-silent-" + std::to_string(getpid()) + ".ts");
    {
        constexpr size_t kPacket = 188;
        const std::vector<char> bytes = ReadAll(Media("av_320x240_30.ts"));
        ASSERT_EQ(bytes.size() % kPacket, 0u);
        std::ofstream out(path, std::ios::binary);
        for (size_t at = 0; at < bytes.size(); at += kPacket) {
            const int pid = ((bytes[at + 1] & 0x1f) << 8) | static_cast<uint8_t>(bytes[at + 2]);
            if (pid != 0x101) out.write(bytes.data() + at, kPacket);
        }
    }
    ASSERT_EQ(m_captor.Open(path.string(), &OnFrame, nullptr, &m_delivered, 0), 0);
    EXPECT_FALSE(m_captor.DecodesAudio());
    platform::TManualResetEvent* ended = m_captor.Start();
    ASSERT_NE(ended, nullptr);
    EXPECT_TRUE(ended->WaitFor(20000));
    m_captor.Stop();
    EXPECT_EQ(m_delivered.count.load(), 30);
    EXPECT_FALSE(m_delivered.wrongPicture.load());
    fs::remove(path);
}

TEST_F(FileCaptorTest, TruncatedStreamableFileStillPlaysItsBeginning) {
    const fs::path path = fs::temp_directory_path() /
                          ("quindle-truncated-" + std::to_string(getpid()) + ".mkv");
    {
        const std::vector<char> bytes =
            Damage(ReadAll(Media("pic_640x360_30.mkv")), TDamage::kTruncatedHalf);
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(m_captor.Open(path.string(), &OnFrame, nullptr, &m_delivered, 0), 0);
    platform::TManualResetEvent* ended = m_captor.Start();
    ASSERT_NE(ended, nullptr);
    EXPECT_TRUE(ended->WaitFor(20000));
    m_captor.Stop();
    EXPECT_GT(m_delivered.count.load(), 0);
    EXPECT_LT(m_delivered.count.load(), 15);  // the whole file has 15
    fs::remove(path);
}

}  // namespace
}  // namespace pelorn
