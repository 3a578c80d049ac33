#include "tools/vcam/TStreamSink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pelorn::vcam {
namespace {

class StreamSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char path[] = "/tmp/qndl-stream-XXXXXX";
        m_fd = mkstemp(path);
        ASSERT_GE(m_fd, 0);
        m_path = path;
    }
    void TearDown() override { unlink(m_path.c_str()); }

    std::string Written() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    int m_fd = -1;
    std::string m_path;
};

TEST_F(StreamSinkTest, YuyvBecomesPlanar422) {
    {
        TStreamSink sink(m_fd, true, TStreamKind::Y4m, 25);
        ASSERT_EQ(sink.Configure(4, 1, 1), 0);
        const uint8_t yuyv[] = {10, 100, 11, 200, 12, 101, 13, 201};
        ASSERT_EQ(sink.Write(yuyv, sizeof yuyv), 0);
    }
    const std::string header = "YUV4MPEG2 W4 H1 F25:1 Ip A1:1 C422\n";
    EXPECT_EQ(Written(), header + "FRAME\n" + std::string("\x0a\x0b\x0c\x0d\x64\x65\xc8\xc9", 8));
}

TEST_F(StreamSinkTest, BgrFormatsBecomePlanar444) {
    {
        TStreamSink sink(m_fd, true, TStreamKind::Y4m, 30);
        ASSERT_EQ(sink.Configure(2, 1, 3), 0);
        const uint8_t whiteAndBlack[] = {255, 255, 255, 0, 0, 0};
        ASSERT_EQ(sink.Write(whiteAndBlack, sizeof whiteAndBlack), 0);
    }
    const std::string written = Written();
    const std::string header = "YUV4MPEG2 W2 H1 F30:1 Ip A1:1 C444\nFRAME\n";
    ASSERT_EQ(written.size(), header.size() + 6);
    EXPECT_EQ(written.substr(0, header.size()), header);
    // Limited-range luma: white 235, black 16; no colour: chroma 128.
    const auto* planes = reinterpret_cast<const uint8_t*>(written.data() + header.size());
    EXPECT_NEAR(planes[0], 235, 1);
    EXPECT_NEAR(planes[1], 16, 1);
    for (int i = 2; i < 6; ++i) EXPECT_NEAR(planes[i], 128, 1);
}

TEST_F(StreamSinkTest, AY4mStreamKeepsItsFirstFormatAndCountsTheOthers) {
    {
        TStreamSink sink(m_fd, true, TStreamKind::Y4m, 30);
        ASSERT_EQ(sink.Configure(2, 1, 28), 0);
        const uint8_t bgra[8] = {};
        const uint8_t bgr[6] = {};
        ASSERT_EQ(sink.Write(bgra, sizeof bgra), 0);
        ASSERT_EQ(sink.Configure(2, 1, 3), 0);
        ASSERT_EQ(sink.Write(bgr, sizeof bgr), 0);
        ASSERT_EQ(sink.Configure(2, 1, 28), 0);
        ASSERT_EQ(sink.Write(bgra, sizeof bgra), 0);
        EXPECT_EQ(sink.SkippedFrames(), 1);
    }
    const std::string written = Written();
    size_t frames = 0;
    for (size_t at = written.find("FRAME\n"); at != std::string::npos; at = written.find("FRAME\n", at + 1)) ++frames;
    EXPECT_EQ(frames, 2u);
}

TEST_F(StreamSinkTest, AY4mStreamRefusesAFormatItCannotCarry) {
    TStreamSink sink(m_fd, true, TStreamKind::Y4m, 30);
    EXPECT_EQ(sink.Configure(2, 1, 5), EINVAL);  // planar 4:4:4
}

TEST_F(StreamSinkTest, AClosedPipeIsAnErrorNotASignal) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    signal(SIGPIPE, SIG_IGN);
    TStreamSink sink(pipeFds[1], true, TStreamKind::Raw, 30);
    const uint8_t bytes[4] = {};
    EXPECT_EQ(sink.Write(bytes, sizeof bytes), EPIPE);
}

}  // namespace
}  // namespace pelorn::vcam
