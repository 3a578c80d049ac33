#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <thread>

#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/services/SettingsStore.h"
#include "tests/console/CorvaneTestSupport.h"

namespace console {
namespace {

using corvane::test::MakePicture;
using corvane::test::TCountingRecorder;
using corvane::test::TFakeBinding;
using corvane::test::TFakePrompts;
using corvane::test::TJournal;

constexpr int kFrames = 3000;
constexpr int kSwaps = 200;

// The engine's output thread and the audio thread deliver at full speed
// while the user-interface thread replaces both recorders and paints the
// echo window: no push may reach a recorder once it is closed, and nothing
// waits for the user-interface thread.
TEST(CorvaneThreadedTest, FramesAndAudioFlowWhileRecordersAreSwappedAndTheEchoPaints) {
    corvane::test::OffscreenApp();
    WriteClient(1280, 720, 30, 28);
    TJournal journal;
    TFakeBinding binding(journal);
    TFakePrompts prompts;
    TTrackedPrompts tracked(prompts);
    TDlgOptions options;
    options.mediaFile = "/clip.mp4";
    options.listDevices = [](TDShowDeviceList* list) { *list = {}; };
    CRoriDaziZevoDlg dialog(nullptr, binding, tracked, options);
    ASSERT_TRUE(dialog.OnInitDialog());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(binding.engine.opened.size(), 1u);
    ASSERT_TRUE(dialog.Preview()->IsShown());

    AVFrame* picture = MakePicture(1280, 720);
    AVFrame* sound = av_frame_alloc();
    std::thread video([&] {
        for (int i = 0; i < kFrames; ++i) binding.Deliver(picture, 0);
    });
    std::thread audio([&] {
        for (int i = 0; i < kFrames; ++i) CRoriDaziZevoDlg::AudioCallback(sound, &dialog);
    });
    std::deque<TCountingRecorder> recorders;
    for (int swap = 0; swap < kSwaps; ++swap) {
        dialog.Recorders().live.Put(&recorders.emplace_back(nullptr, "live"), &TCountingRecorder::KeepForTest);
        dialog.Recorders().file.Put(&recorders.emplace_back(nullptr, "file"), &TCountingRecorder::KeepForTest);
        QCoreApplication::processEvents();
    }
    video.join();
    audio.join();
    // A frame waits unless one was taken already; the surface paints it.
    QCoreApplication::processEvents();
    dialog.Preview()->TakeFrame();
    dialog.Preview()->Surface()->repaint();
    EXPECT_GT(dialog.Preview()->PaintedFrames(), 0);
    dialog.OnCancel();

    int64_t afterClose = 0;
    for (const TCountingRecorder& recorder : recorders) afterClose += recorder.pushesAfterClose;
    EXPECT_EQ(afterClose, 0);
    av_frame_free(&picture);
    av_frame_free(&sound);
}

}  // namespace
}  // namespace console
