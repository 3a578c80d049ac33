#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <libyuv/convert_from_argb.h>

#include "console/CPreviewDlg.h"
#include "console/DispatchEvent.h"
#include "console/TTestPattern.h"
#include "console/services/SettingsStore.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

using corvane::test::MakePicture;

AVFrame* MakeFrame(int width, int height, AVPixelFormat format) {
    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = format;
    av_frame_get_buffer(frame, 0);
    return frame;
}

// YUY2 of a picture whose pixel pairs share one colour, with the exact
// limited-range BT.601 values a camera or encoder would deliver.
void ToYuy2(const AVFrame& bgra, AVFrame* yuy2) {
    for (int y = 0; y < bgra.height; ++y) {
        for (int x = 0; x < bgra.width; x += 2) {
            const uint8_t* p = bgra.data[0] + y * bgra.linesize[0] + x * 4;
            const double b = p[0], g = p[1], r = p[2];
            const auto level = [](double value) { return static_cast<uint8_t>(value + 0.5); };
            const uint8_t luma = level(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
            uint8_t* out = yuy2->data[0] + y * yuy2->linesize[0] + x * 2;
            out[0] = out[2] = luma;
            out[1] = level(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
            out[3] = level(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
        }
    }
}

// A 128 x 72 picture in four colours (red, green / blue, white), in `format`.
AVFrame* MakeQuadrants(AVPixelFormat format) {
    AVFrame* bgra = MakePicture(128, 72);
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 128; ++x) {
            uint8_t* pixel = bgra->data[0] + y * bgra->linesize[0] + x * 4;
            const int quadrant = (y >= 36) * 2 + (x >= 64);
            static const uint8_t kColours[4][4] = {{0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255},
                                                   {255, 255, 255, 255}};
            std::copy_n(kColours[quadrant], 4, pixel);
        }
    }
    if (format == AV_PIX_FMT_BGRA) return bgra;
    AVFrame* converted = MakeFrame(128, 72, format);
    if (format == AV_PIX_FMT_YUYV422)
        ToYuy2(*bgra, converted);
    else
        libyuv::ARGBToRGB24(bgra->data[0], bgra->linesize[0], converted->data[0], converted->linesize[0], 128, 72);
    av_frame_free(&bgra);
    return converted;
}

// An echo window of the given client size showing 128 x 72 pictures,
// statistics off unless asked for.
std::unique_ptr<CPreviewDlg> MakeWindow(QSize client, bool info = false, QWidget* owner = nullptr) {
    corvane::test::OffscreenApp();
    auto window = std::make_unique<CPreviewDlg>(owner);
    window->Configure(128, 72, AV_PIX_FMT_BGRA);
    window->resize(client);
    window->show();
    if (!info) window->RunCommand(CPreviewDlg::kInfoCommand);
    return window;
}

// Hands the frame over as the engine's thread does and lets the window paint it.
void DrawAndPaint(CPreviewDlg& window, const AVFrame* frame, int cameraInUse = 0) {
    window.Draw(frame, cameraInUse);
    // The first frame wakes the window; later ones wait for its poll.
    QCoreApplication::processEvents();
    window.TakeFrame();
    window.Surface()->repaint();
}

QImage Grab(CPreviewDlg& window) { return window.Surface()->grab().toImage(); }

void ExpectColour(const QImage& shown, QPoint point, QRgb colour, int tolerance) {
    const QRgb got = shown.pixel(point);
    EXPECT_NEAR(qRed(got), qRed(colour), tolerance) << point.x() << "," << point.y();
    EXPECT_NEAR(qGreen(got), qGreen(colour), tolerance) << point.x() << "," << point.y();
    EXPECT_NEAR(qBlue(got), qBlue(colour), tolerance) << point.x() << "," << point.y();
}

void ExpectQuadrantsShown(CPreviewDlg& window, AVPixelFormat format) {
    AVFrame* picture = MakeQuadrants(format);
    DrawAndPaint(window, picture);
    av_frame_free(&picture);
    ASSERT_EQ(window.PaintedFrames(), 1);
    const QImage shown = Grab(window);
    ExpectColour(shown, {16, 9}, qRgb(255, 0, 0), 3);
    ExpectColour(shown, {48, 9}, qRgb(0, 255, 0), 3);
    ExpectColour(shown, {16, 27}, qRgb(0, 0, 255), 3);
    ExpectColour(shown, {48, 27}, qRgb(255, 255, 255), 3);
}

class EchoWindowFormatTest : public ::testing::TestWithParam<AVPixelFormat> {};

// BGRA, YUY2 and BGR24 frames are converted once and scaled to the window.
TEST_P(EchoWindowFormatTest, FrameIsScaledToTheWindow) {
    auto window = MakeWindow({64, 36});
    ExpectQuadrantsShown(*window, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Formats, EchoWindowFormatTest,
                         ::testing::Values(AV_PIX_FMT_BGRA, AV_PIX_FMT_YUYV422, AV_PIX_FMT_BGR24),
                         [](const auto& info) { return std::string(av_get_pix_fmt_name(info.param)); });

// A 72 x 128 portrait frame is scaled to 40 x 72 and centred at x = 44 of
// the 128 x 72 picture, black beside it.
TEST(EchoWindowTest, PortraitFrameSitsInItsCentredBand) {
    auto window = MakeWindow({128, 72});
    AVFrame* portrait = MakeFrame(72, 128, AV_PIX_FMT_BGRA);
    for (int y = 0; y < 128; ++y) std::fill_n(portrait->data[0] + y * portrait->linesize[0], 72 * 4, uint8_t(255));
    DrawAndPaint(*window, portrait);
    av_frame_free(&portrait);
    const QImage shown = Grab(*window);
    ExpectColour(shown, {42, 36}, qRgb(0, 0, 0), 0);
    ExpectColour(shown, {45, 36}, qRgb(255, 255, 255), 3);
    ExpectColour(shown, {82, 36}, qRgb(255, 255, 255), 3);
    ExpectColour(shown, {85, 36}, qRgb(0, 0, 0), 0);
}

// A frame of another size than the configured picture (one from before a
// restart) is not drawn.
TEST(EchoWindowTest, FrameOfAnotherSizeIsNotDrawn) {
    auto window = MakeWindow({64, 36});
    AVFrame* larger = MakePicture(256, 144);
    DrawAndPaint(*window, larger);
    av_frame_free(&larger);
    EXPECT_EQ(window->PaintedFrames(), 0);
}

// Frames arriving while the window is hidden are neither kept nor painted.
TEST(EchoWindowTest, NothingIsDrawnWhileHidden) {
    auto window = MakeWindow({64, 36});
    window->hide();
    AVFrame* picture = MakeQuadrants(AV_PIX_FMT_BGRA);
    DrawAndPaint(*window, picture);
    DrawAndPaint(*window, picture);
    av_frame_free(&picture);
    EXPECT_EQ(window->PaintedFrames(), 0);
    EXPECT_EQ(window->ReplacedFrames(), 0);
}

// With the statistics off, the layer the pointer selects is still framed
// in red, 3 client pixels thick, over the picture only.
TEST(EchoWindowTest, SelectedLayerIsFramedInRedWithoutStatistics) {
    auto window = MakeWindow({128, 72});
    TCapLayout layout{};
    layout.LayerCnt = 1;
    layout.MaxWidth = 128;
    layout.MaxHeight = 72;
    layout.layers[0] = {TCapLayer::kPresenter, 3, 1, {{32, 18}, {95, 18}, {95, 53}, {32, 53}}};
    window->SetLayout(layout);
    QMouseEvent hover(QEvent::MouseMove, QPointF(64, 36), window->Surface()->mapToGlobal(QPointF(64, 36)),
                      Qt::NoButton, Qt::MouseButtons{}, Qt::NoModifier);
    QCoreApplication::sendEvent(window->Surface(), &hover);
    ASSERT_EQ(window->Editor().Selected(), 0);
    AVFrame* black = MakeFrame(128, 72, AV_PIX_FMT_BGRA);
    for (int y = 0; y < 72; ++y) std::fill_n(black->data[0] + y * black->linesize[0], 128 * 4, uint8_t(0));
    DrawAndPaint(*window, black);
    av_frame_free(&black);
    const QImage shown = Grab(*window);
    for (const QPoint edge : {QPoint(33, 36), QPoint(94, 36), QPoint(64, 19), QPoint(64, 52)})
        ExpectColour(shown, edge, qRgb(255, 0, 0), 0);
    for (const QPoint clear : {QPoint(36, 36), QPoint(64, 36), QPoint(20, 36), QPoint(64, 60)})
        ExpectColour(shown, clear, qRgb(0, 0, 0), 0);
}

// The statistics text of a known frame; the average covers the delays
// since the last reset.
TEST(EchoWindowTest, StatisticsOfAKnownFrame) {
    auto window = MakeWindow({128, 72}, true);
    window->SetCaptureFormat(1280, 720, AV_PIX_FMT_YUYV422);
    AVFrame* picture = MakeQuadrants(AV_PIX_FMT_BGRA);
    picture->pkt_dts = 2997;
    picture->pkt_size = 70000;
    picture->pkt_pos = 12;
    picture->pkt_duration = av_gettime_relative() - 1'000'000;
    DrawAndPaint(*window, picture, 1);
    window->ResetStatistics();
    picture->pkt_size = 70001;
    picture->pkt_duration = av_gettime_relative() - 40'000;
    DrawAndPaint(*window, picture, 1);
    av_frame_free(&picture);

    const std::string text = window->StatisticsText().toStdString();
    const std::string label = "当前延时:";
    const size_t at = text.find(label);
    ASSERT_NE(at, std::string::npos) << text;
    const int delayMs = std::atoi(text.c_str() + at + label.size());
    EXPECT_GE(delayMs, 40);
    EXPECT_LT(delayMs, 1000);
    char expected[1024];
    std::snprintf(expected, sizeof expected,
                  "采集分辨率: 1280x720\r输出分辨率: 128x72\r实际帧率: 29.97\r颜色空间: yuyv422(采集)\r"
                  "颜色空间: bgra(输出)\r当前延时: %2dms\r平均延时: %2dms\r当前帧号: 4465\r关键耗时: 12\n\r"
                  "VCam状态: 已启动\n\r右键菜单关闭提示信息\r",
                  delayMs, delayMs);
    EXPECT_EQ(text, expected);
}

// The text is stamped into the window's overlay, not into the frame.
TEST(EchoWindowTest, StatisticsLeaveTheFrameUntouched) {
    auto window = MakeWindow({128, 72}, true);
    AVFrame* picture = MakeQuadrants(AV_PIX_FMT_BGRA);
    AVFrame* copy = MakeQuadrants(AV_PIX_FMT_BGRA);
    DrawAndPaint(*window, picture);
    for (int y = 0; y < 72; ++y)
        ASSERT_EQ(std::memcmp(picture->data[0] + y * picture->linesize[0], copy->data[0] + y * copy->linesize[0], 512), 0);
    av_frame_free(&picture);
    av_frame_free(&copy);
}

// Records every WM_DISPATCH its owner window receives.
class TDispatchOwner final : public QWidget {
public:
    std::vector<std::pair<int, int64_t>> seen;

protected:
    bool event(QEvent* event) override {
        if (event->type() != TDispatchEvent::kType) return QWidget::event(event);
        const auto* dispatch = static_cast<TDispatchEvent*>(event);
        seen.emplace_back(dispatch->Code(), dispatch->Argument());
        return true;
    }
};

QStringList Texts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions()) texts << action->text();
    return texts;
}

// Menu 132: built-in slotNames are not offered under "另存布局为...", the others
// show their stored names; saving and resetting are greyed while a built-in
// layout is current; the commands reach the main dialog as codes 17, 20, 18.
TEST(EchoWindowTest, ContextMenuOffersTheEditableSlotsAndPostsItsCommands) {
    corvane::test::OffscreenApp();
    TDispatchOwner owner;
    TCapLayout named = DefaultTemplate(3);
    std::copy_n(u"讲课", 3, named.Name);
    ASSERT_EQ(SaveTemplate(named, 3), 1);
    auto window = MakeWindow({64, 36}, true, &owner);

    TCapLayout builtIn = DefaultTemplate(2);
    ASSERT_EQ(LoadTemplate(&builtIn, 0, true), 1);
    ASSERT_NE(builtIn.BuildIn, 0);
    window->SetLayout(builtIn);
    QMenu* menu = window->PrepareContextMenu();
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isEnabled());
    EXPECT_FALSE(items[2]->isEnabled());
    const QStringList slotNames = Texts(items[3]->menu());
    ASSERT_EQ(slotNames.size(), 4);
    EXPECT_EQ(slotNames[1], QString::fromUtf8("讲课"));

    window->SetLayout(DefaultTemplate(2));
    menu = window->PrepareContextMenu();
    EXPECT_TRUE(menu->actions()[1]->isEnabled());
    EXPECT_TRUE(menu->actions()[2]->isEnabled());
    EXPECT_EQ(Texts(menu->actions()[3]->menu()), slotNames);

    window->RunCommand(CPreviewDlg::kSaveCommand);
    window->RunCommand(CPreviewDlg::kResetCommand);
    window->RunCommand(CPreviewDlg::kSaveAsFirstCommand + 3);
    window->RunCommand(CPreviewDlg::kInfoCommand);
    QCoreApplication::sendPostedEvents(&owner);
    const std::vector<std::pair<int, int64_t>> expected = {{kSaveLayout, 0}, {kResetLayout, 0}, {kSaveLayoutAs, 3}};
    EXPECT_EQ(owner.seen, expected);
    EXPECT_FALSE(window->InfoShown());
}

// Enter covers the screen holding the window's centre; Esc restores the
// windowed rectangle, a second Esc hides the window.
TEST(EchoWindowTest, FullScreenAndBack) {
    auto window = MakeWindow({320, 180});
    const QRect windowed = window->geometry();
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(window->IsFullScreen());
    const QScreen* screen = QGuiApplication::screenAt(windowed.center());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(window->geometry(), screen->geometry());
    EXPECT_EQ(window->Surface()->size(), screen->geometry().size());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->IsFullScreen());
    EXPECT_EQ(window->geometry(), windowed);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->IsShown());
}

// Without a descriptor left for its wake-up the window still repaints.
TEST(EchoWindowTest, WithoutADescriptorTheRepaintIsPosted) {
    corvane::test::OffscreenApp();
    // UBSan checks a type once with a pipe of its own, which the lowered
    // limit would refuse: one window made beforehand has it checked.
    MakeWindow({64, 36});
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int next = dup(0);
    ASSERT_GE(next, 0);
    close(next);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(next);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    auto window = MakeWindow({64, 36});
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ExpectQuadrantsShown(*window, AV_PIX_FMT_BGRA);
}

// The first cell is black; the next colour skips every (0, 0, c) and is
// (0, 128, 0), shown as the bit square of its second byte's top bit. Only
// 1920 x 1080 BGR24 frames take the pattern.
TEST(TestPatternTest, CellsAndAdvanceRule) {
    TTestPattern pattern;
    AVFrame* frame = MakeFrame(1920, 1080, AV_PIX_FMT_BGR24);
    ASSERT_TRUE(pattern.Draw(frame));
    auto pixel = [&](int x, int y) {
        const uint8_t* p = frame->data[0] + y * frame->linesize[0] + x * 3;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(100, 100), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(384 + 100, 100), (std::array<int, 3>{0, 128, 0}));
    EXPECT_EQ(pixel(384 + 80 + 5, 5), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(pixel(384 + 80 + 15, 5), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(384 + 5, 5), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(pattern.Frames(), 1);
    av_frame_free(&frame);

    AVFrame* other = MakeFrame(1280, 720, AV_PIX_FMT_BGR24);
    std::fill_n(other->data[0], other->linesize[0], uint8_t(7));
    EXPECT_FALSE(pattern.Draw(other));
    EXPECT_EQ(other->data[0][0], 7);
    av_frame_free(&other);
}

}  // namespace
}  // namespace console
