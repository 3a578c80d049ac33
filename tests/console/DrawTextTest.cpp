#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console/TDrawText.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 90;
constexpr int kCharWidth = 10, kCharHeight = 20, kLineGap = 5;  // bands of 25 rows
constexpr int kCanaryRows = 4;

struct TDrawnFrame {
    explicit TDrawnFrame(int bytesPerPixel, uint8_t fill)
        : bytes(bytesPerPixel), pixels(static_cast<size_t>(kWidth) * (kHeight + kCanaryRows) * bytesPerPixel, fill) {}
    bool RowChanged(int row, const TDrawnFrame& before) const {
        const size_t stride = static_cast<size_t>(kWidth) * bytes;
        return std::memcmp(pixels.data() + row * stride, before.pixels.data() + row * stride, stride) != 0;
    }
    int bytes;
    std::vector<uint8_t> pixels;
};

class DrawTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        corvane::test::OffscreenApp();
        m_pText = CreateInstance_IDrawText();
    }
    void TearDown() override { ReleaseInstance_IDrawText(&m_pText); }
    void Setup(int format) { m_pText->Setup(kCharWidth, kCharHeight, format, kWidth, kHeight, 0xFFFFFF, kLineGap); }

    IDrawText* m_pText = nullptr;
};

// Three lines give three bands; the fourth would end below the bitmap and
// is not drawn.
TEST_F(DrawTextTest, ThreeLinesGiveThreeBandsAndAFourthBelowTheBitmapNone) {
    Setup(28);
    TDrawnFrame frame(4, 0);
    const TDrawnFrame before = frame;
    m_pText->DrawLines(frame.pixels.data(), "MMMM\r\nMMMM\r\nMMMM\r\nMMMM", {0, 0, kWidth - 1, kHeight - 1});
    for (int band = 0; band < 3; ++band) {
        bool drawn = false;
        for (int row = band * 25; row < (band + 1) * 25; ++row) drawn = drawn || frame.RowChanged(row, before);
        EXPECT_TRUE(drawn) << "band " << band;
    }
    for (int row = 75; row < kHeight; ++row) EXPECT_FALSE(frame.RowChanged(row, before)) << row;
}

// In a YUY2 frame only luma takes the glyphs; their chroma becomes neutral.
TEST_F(DrawTextTest, Yuy2StampingChangesLumaOnlyWithNeutralChromaAtGlyphs) {
    Setup(1);
    TDrawnFrame frame(2, 0);
    for (size_t i = 0; i < frame.pixels.size(); i += 2) {
        frame.pixels[i] = 0;
        frame.pixels[i + 1] = 200;
    }
    m_pText->DrawLines(frame.pixels.data(), "\xce\xc4\xd7\xd6 Aa", {0, 0, kWidth - 1, kHeight - 1});  // "文字 Aa" in GBK
    int glyphPixels = 0;
    for (size_t i = 0; i < frame.pixels.size(); i += 2) {
        const bool glyph = frame.pixels[i] != 0;
        glyphPixels += glyph;
        ASSERT_EQ(frame.pixels[i + 1], glyph ? 128 : 200) << i;
    }
    EXPECT_GT(glyphPixels, 50);
}

// Drawing near the frame's bottom stays inside the frame: the rows after it
// are untouched.
TEST_F(DrawTextTest, CanaryRowsBelowTheFrameSurviveARectangleNearItsBottom) {
    Setup(28);
    TDrawnFrame frame(4, 0);
    const TDrawnFrame before = frame;
    m_pText->DrawLines(frame.pixels.data(), "MMMM\rMMMM", {5, kHeight - 8, kWidth - 1, kHeight - 1});
    bool drawn = false;
    for (int row = kHeight - 8; row < kHeight; ++row) drawn = drawn || frame.RowChanged(row, before);
    EXPECT_TRUE(drawn);
    for (int row = kHeight; row < kHeight + kCanaryRows; ++row) EXPECT_FALSE(frame.RowChanged(row, before)) << row;
}

}  // namespace
}  // namespace console
