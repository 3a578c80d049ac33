#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/compositor/TFrameOverlay.h"
#include "tools/compose-still/StillImage.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using tools::TPixelLayout;

class TFrameOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("frame-overlay-" + std::to_string(getpid()));
        fs::create_directories(m_folder);
        m_frame = (m_folder / "frame.png").string();
        m_base = (m_folder / "base.bmp").string();
        // 40 x 20: opaque green left half, transparent right half.
        std::vector<uint8_t> frame(40 * 20 * 4, 0);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 40; ++x) {
                uint8_t* pixel = frame.data() + (y * 40 + x) * 4;
                pixel[1] = 200;
                pixel[3] = x < 20 ? 255 : 0;
            }
        }
        std::vector<uint8_t> base(40 * 20 * 3, 90);
        ASSERT_TRUE(tools::SavePicture(m_frame, frame.data(), TPixelLayout::kBgra, 40, 20));
        ASSERT_TRUE(tools::SavePicture(m_base, base.data(), TPixelLayout::kBgr24, 40, 20));
    }
    void TearDown() override { fs::remove_all(m_folder); }

    static TCapLayer Layer(int left, int top, int right, int bottom, int16_t border = 0) {
        return {TCapLayer::kFrameOverlay,
                TCapLayer::kFlagEnabled | TCapLayer::kFlagDrawFrame,
                border,
                {{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
    }

    fs::path m_folder;
    std::string m_frame;
    std::string m_base;
};

TEST_F(TFrameOverlayTest, LoadsBothPicturesResampledToTheWorkingSize) {
    TFrameOverlay overlay;
    ASSERT_TRUE(overlay.Load(m_frame, m_base, 80, 40));
    EXPECT_TRUE(overlay.IsLoaded());
    EXPECT_EQ(overlay.Width(), 80);
    EXPECT_EQ(overlay.BasePicture()[0], 90);
    EXPECT_EQ(overlay.BasePicture()[(80 * 40 - 1) * 3], 90);
}

TEST_F(TFrameOverlayTest, FramePictureWithoutAlphaIsRefused) {
    std::vector<uint8_t> opaque(40 * 20 * 3, 5);
    ASSERT_TRUE(tools::SavePicture(m_frame, opaque.data(), TPixelLayout::kBgr24, 40, 20));
    TFrameOverlay overlay;
    EXPECT_FALSE(overlay.Load(m_frame, m_base, 40, 20));
    EXPECT_FALSE(overlay.IsLoaded());
}

TEST_F(TFrameOverlayTest, UnreadablePicturesAreRefused) {
    TFrameOverlay overlay;
    EXPECT_FALSE(overlay.Load(m_frame, (m_folder / "missing.bmp").string(), 40, 20));
    std::ofstream(m_base, std::ios::trunc) << "not a picture";
    EXPECT_FALSE(overlay.Load(m_frame, m_base, 40, 20));
    // A PNG where the base picture should be a BMP.
    EXPECT_FALSE(overlay.Load(m_frame, m_frame, 40, 20));
    EXPECT_FALSE(overlay.Load(m_frame, m_base, 4000, 4000));
}

TEST_F(TFrameOverlayTest, PlacementScalesTheFrameIntoTheLayerAndClearsTheRest) {
    TFrameOverlay overlay;
    ASSERT_TRUE(overlay.Load(m_frame, m_base, 40, 20));
    overlay.Place(Layer(10, 5, 29, 14));  // 20 x 10, half the size
    EXPECT_FALSE(overlay.LayerIsEmpty());
    const uint8_t* alpha = overlay.FrameAlpha();
    EXPECT_EQ(alpha[7 * 40 + 12], 255);  // left half of the rectangle
    EXPECT_EQ(alpha[7 * 40 + 27], 0);    // right half
    EXPECT_EQ(alpha[2 * 40 + 12], 0);    // above it
    EXPECT_EQ(overlay.FramePicture()[(7 * 40 + 12) * 3 + 1], 200);
    EXPECT_EQ(overlay.FramePicture()[(2 * 40 + 12) * 3 + 1], 0);
}

TEST_F(TFrameOverlayTest, InnerRectangleShrinksByTheBorderAdjustment) {
    TFrameOverlay overlay;
    ASSERT_TRUE(overlay.Load(m_frame, m_base, 40, 20));
    overlay.Place(Layer(0, 0, 39, 19, 3));
    const kernels::TRect& inner = overlay.InnerRect();
    EXPECT_EQ(inner.left, 6);
    EXPECT_EQ(inner.right, 33);
    EXPECT_EQ(inner.top, 3);  // round(2 * 3 * 20 / 40)
    EXPECT_EQ(inner.bottom, 16);
}

TEST_F(TFrameOverlayTest, RectangleOutsideTheFrameIsCutAtTheSourceSide) {
    TFrameOverlay overlay;
    ASSERT_TRUE(overlay.Load(m_frame, m_base, 40, 20));
    // Twice the frame's size to the left: only its right (transparent) part is inside.
    overlay.Place(Layer(-40, 0, 39, 19));
    EXPECT_EQ(overlay.LayerRect().left, 0);
    EXPECT_EQ(overlay.FrameAlpha()[10 * 40 + 5], 0);
    EXPECT_EQ(overlay.FrameAlpha()[10 * 40 + 35], 0);
    overlay.Place(Layer(0, 0, 79, 19));  // the opaque half now covers the frame
    EXPECT_EQ(overlay.FrameAlpha()[10 * 40 + 35], 255);
}

TEST_F(TFrameOverlayTest, EmptyRectanglePlacesNothing) {
    TFrameOverlay overlay;
    ASSERT_TRUE(overlay.Load(m_frame, m_base, 40, 20));
    overlay.Place(Layer(5, 5, 5, 15));
    EXPECT_TRUE(overlay.LayerIsEmpty());
    EXPECT_TRUE(overlay.InnerRect().IsEmpty());
    EXPECT_EQ(overlay.FrameAlpha()[10 * 40 + 5], 0);
}

}  // namespace
}  // namespace pelorn
