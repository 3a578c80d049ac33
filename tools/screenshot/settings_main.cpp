// settings_screenshot: shows the settings dialog with sample values on the X
// server named by DISPLAY (scripts/screenshots.sh runs it under an Xvfb) and
// saves the dialog's own picture.
//
//     settings_screenshot OUTPUT_PNG
//
// Nothing is applied, so the store is only read; per-user folders should
// point at a temporary folder all the same.

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <string>

#include "console/CSetVFmtDlg.h"
#include "console/TPrompts.h"
#include "console/VFmtSettings.h"

namespace {

template <size_t N>
void Put(char16_t (&field)[N], std::u16string_view text) {
    text.copy(field, N - 1);
}

console::VFmtSettings SampleSettings() {
    console::VFmtSettings settings;
    settings.formatIndex = 1;     // ARGB32
    settings.frameRateIndex = 0;  // 30
    settings.sizeIndex = 4;       // 1280x720
    settings.avOffsetMs = -120;
    settings.recordBitRateIndex = 3;
    settings.gop = 100;
    settings.recordFolder = u"/home/presenter/Videos";
    settings.fileTypes = 1 | 4;
    settings.pushBitRateIndex = 3;
    Put(settings.addresses[0], u"rtmp://127.0.0.1/live/studio");
    Put(settings.names[0], u"主直播");
    Put(settings.addresses[1], u"udp://127.0.0.1:5000");
    Put(settings.names[1], u"导播台");
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_screenshot OUTPUT_PNG\n");
        return 2;
    }
    QApplication application(argc, argv);
    // Boxes go to standard error; every question or chooser is cancelled.
    console::TFilePrompts prompts("/dev/stderr");
    console::VFmtSettings settings = SampleSettings();
    console::CSetVFmtDlg dialog(settings, prompts);
    dialog.show();
    int status = 1;
    // The first turn of the event loop lays the dialog out and paints it.
    QTimer::singleShot(0, [&] {
        const QImage picture = dialog.grab().toImage();
        if (picture.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
                .save(QString::fromLocal8Bit(argv[1]), "PNG", 0)) {
            status = 0;
        } else {
            std::fprintf(stderr, "settings_screenshot: %s could not be written\n", argv[1]);
        }
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return status;
}
