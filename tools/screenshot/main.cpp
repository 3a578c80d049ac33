// console_screenshot: builds the main dialog in this process on the X server
// named by DISPLAY (run it under an Xvfb of 1920 x 1080, as
// scripts/screenshots.sh does), with the real engine on a media file and
// subject matting switched on, lets frames flow and saves the whole screen.
//
//     console_screenshot MEDIA_FILE OUTPUT_PNG
//
// Per-user folders should point at a temporary folder; boxes the console
// would show go to standard error.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <string>

#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/TEngineBinding.h"
#include "console/TPrompts.h"
#include "console/media/TEnumDShowDevices.h"
#include "platform/MessageBox.h"

namespace {

constexpr int kFramesBeforeGrab = 60;
constexpr int kGiveUpMs = 60000;

// Fewer colours keep the committed picture small; the controls' flat colours
// and text survive the reduction.
bool SaveSmall(const QImage& screen, const QString& path) {
    return screen.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
        .save(path, "PNG", 0);  // 0: the strongest compression
}

// Shows the dialog with matting on and saves the screen once the echo window
// has painted enough frames; 0 when the picture was written.
int GrabWhenFramesFlow(console::CRoriDaziZevoDlg& dialog, const QString& output) {
    dialog.show();
    dialog.findChild<QCheckBox*>(QStringLiteral("2000"))->click();
    int status = 1;
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const console::CPreviewDlg* preview = dialog.Preview();
        const bool ready = preview != nullptr && preview->PaintedFrames() >= kFramesBeforeGrab;
        if (!ready && waited.elapsed() < kGiveUpMs) return;
        poll.stop();
        if (!ready) {
            std::fprintf(stderr, "console_screenshot: no frames were shown\n");
        } else if (SaveSmall(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), output)) {
            status = 0;
        } else {
            std::fprintf(stderr, "console_screenshot: %s could not be written\n", qPrintable(output));
        }
        dialog.RequestClose();
        QCoreApplication::quit();
    });
    poll.start(100);
    QCoreApplication::exec();
    return status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void QuindleHostMessageBox(const char* text) {
    platform::ShowMessageBox(text);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: console_screenshot MEDIA_FILE OUTPUT_PNG\n");
        return 2;
    }
    QApplication application(argc, argv);
    // Boxes go to standard error; every question or chooser is cancelled.
    console::TFilePrompts printed("/dev/stderr");
    console::TTrackedPrompts prompts(printed);
    console::RouteMessageBoxes(prompts);

    console::TEngineBinding binding(console::TEngineBinding::LibraryBesideProgram());
    if (!binding.IsLoaded()) {
        std::fprintf(stderr, "console_screenshot: %s\n", binding.LoadError().c_str());
        platform::SetMessageBoxHandler({});
        return 1;
    }
    console::TDlgOptions options;
    options.mediaFile = argv[1];
    // No cameras or audio inputs: the main picture is the media file.
    options.listDevices = [](console::TDShowDeviceList* list) { *list = {}; };
    int status = 1;
    {
        console::CRoriDaziZevoDlg dialog(nullptr, binding, prompts, options);
        if (dialog.OnInitDialog()) status = GrabWhenFramesFlow(dialog, argv[2]);
    }
    platform::SetMessageBoxHandler({});
    return status;
}
