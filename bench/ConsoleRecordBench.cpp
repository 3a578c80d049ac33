// console_record_bench: the main dialog in this process on an X server of
// its own (1920 x 1080), the real engine playing the sample clip at
// 1280 x 720 30 fps YUYV with subject matting on, recording to MP4 and
// pushing to nginx on 127.0.0.1 at once for S seconds. Prints the frames
// each recorder took and dropped, the engine's dropped frames and how late a
// 10 ms timer fires on the user-interface thread while it all runs.
//
//     console_record_bench [--seconds S]    (60 by default)
//
// Per-user folders point into a temporary folder; nothing of the user's is
// read or written.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/Utf.h"
#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoDlg.h"
#include "console/TEngineBinding.h"
#include "console/TPrompts.h"
#include "console/media/RecordNaming.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/media/TRecord.h"
#include "console/services/SettingsStore.h"
#include "platform/MessageBox.h"
#include "tests/console/media/NginxServer.h"
#include "tests/support/XvfbSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kProbeMs = 10;
constexpr int kStartMs = 60000;
// The recorder keeps video once its source has run 2 s.
constexpr int64_t kWarmFrames = 75;

// HOME and the XDG folders in a fresh temporary folder, the colour tables
// linked from the tests' cache when it exists. Before the engine loads.
std::string UseTemporaryHome() {
    char pattern[] = "/tmp/console-record-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return {};
    const std::string root = pattern;
    for (const char* sub : {"/data", "/data/Raxev", "/config", "/state", "/run", "/rec"})
        mkdir((root + sub).c_str(), 0700);
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    if (access(TABLE_CACHE, R_OK) == 0 && symlink(TABLE_CACHE, (root + "/data/Raxev/ClrFloat.map").c_str()) != 0)
        std::perror("console_record_bench: symlink");
    return root;
}

// Runs the event loop until `done` holds or `timeoutMs` have passed.
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || waited.elapsed() >= timeoutMs) loop.quit();
    });
    poll.start(20);
    loop.exec();
    return done();
}

// How late a 10 ms timer fires, in milliseconds.
class TLatencyProbe {
public:
    explicit TLatencyProbe(int expectedProbes) {
        m_latenciesMs.reserve(static_cast<size_t>(expectedProbes) + 64);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            m_latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - m_expected).count());
            m_expected = now + std::chrono::milliseconds(kProbeMs);
        });
        m_expected = Clock::now() + std::chrono::milliseconds(kProbeMs);
        m_timer.start(kProbeMs);
    }
    void Stop() { m_timer.stop(); }
    double Percentile(double fraction) const {
        if (m_latenciesMs.empty()) return 0;
        std::vector<double> sorted = m_latenciesMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * static_cast<double>(sorted.size())))];
    }
    size_t Count() const { return m_latenciesMs.size(); }

private:
    QTimer m_timer;
    Clock::time_point m_expected;
    std::vector<double> m_latenciesMs;
};

void PrintRecorder(const char* name, const console::TRecordStats& stats) {
    std::printf("%s recorder: %lld frames pushed, %lld encoded, %lld dropped", name,
                static_cast<long long>(stats.videoPushed), static_cast<long long>(stats.videoEncoded),
                static_cast<long long>(stats.VideoDrops()));
    for (int cause = 0; cause < static_cast<int>(console::EDropCause::kCount); ++cause) {
        if (stats.videoDrops[cause] != 0)
            std::printf(" (%s %lld)", console::TRecordStats::CauseName(static_cast<console::EDropCause>(cause)),
                        static_cast<long long>(stats.videoDrops[cause]));
    }
    std::printf("; queue max %d; encode p99 %.2f ms\n", stats.videoQueueMax, stats.encodeMsP99);
}

console::TRecordStats StatsOf(const console::TRecorderSlot& slot) {
    const auto* recorder = dynamic_cast<const console::TRecord*>(slot.Held());
    return recorder != nullptr ? recorder->Stats() : console::TRecordStats{};
}

// The whole run on a shown dialog; 0 when both recorders ran throughout.
int Measure(console::CRoriDaziZevoDlg& dialog, const std::string& recordFolder, double seconds) {
    mediatest::TNginxServer nginx(recordFolder + "/nginx");
    if (!nginx.Start()) {
        std::fprintf(stderr, "console_record_bench: nginx did not start: %s\n", nginx.Log().c_str());
        return 1;
    }
    const std::u16string url = common::Utf8ToUtf16(nginx.Url());
    const std::u16string_view addresses[console::kRtmpTargets] = {url, u"", u""};
    const std::u16string_view names[console::kRtmpTargets] = {u"nginx", u"", u""};
    console::WriteRtmp(2, addresses, names);
    console::WriteRecord(0, 2, 50, console::kFileExtMp4);
    console::WriteString(common::Utf8ToUtf16(recordFolder), "RecordPath", "Record");

    dialog.findChild<QCheckBox*>(QStringLiteral("2000"))->click();  // subject matting on
    const console::THandlerFigures& handler = dialog.HandlerFigures();
    if (!RunUntil([&] { return handler.Frames() >= kWarmFrames; }, kStartMs)) {
        std::fprintf(stderr, "console_record_bench: no frames came\n");
        return 1;
    }
    dialog.findChild<QAbstractButton*>(QStringLiteral("1079"))->click();
    dialog.findChild<QAbstractButton*>(QStringLiteral("3018"))->click();
    QCoreApplication::sendPostedEvents(&dialog);
    if (dialog.Recorders().file.IsEmpty() || dialog.Recorders().live.IsEmpty()) {
        std::fprintf(stderr, "console_record_bench: a recorder did not start\n");
        return 1;
    }

    const int64_t framesBefore = handler.Frames();
    const int64_t dropsBefore = handler.Drops();
    const int64_t shownBefore = dialog.Preview()->PaintedFrames();
    TLatencyProbe probe(static_cast<int>(seconds * 1000 / kProbeMs));
    const Clock::time_point begun = Clock::now();
    RunUntil([] { return false; }, static_cast<int>(seconds * 1000));
    probe.Stop();
    const double span = std::chrono::duration<double>(Clock::now() - begun).count();
    const console::TRecordStats file = StatsOf(dialog.Recorders().file);
    const console::TRecordStats live = StatsOf(dialog.Recorders().live);
    const int64_t frames = handler.Frames() - framesBefore;
    const int64_t shown = dialog.Preview()->PaintedFrames() - shownBefore;

    std::printf("recording to MP4 and pushing to nginx for %.1f s at 1280 x 720 30 fps YUYV, matting on\n", span);
    std::printf("engine: %lld frames delivered (%.1f per second), %lld dropped; %lld shown\n",
                static_cast<long long>(frames), frames / span,
                static_cast<long long>(handler.Drops() - dropsBefore), static_cast<long long>(shown));
    PrintRecorder("file", file);
    PrintRecorder("live", live);
    std::printf("frame handler: p50 %d us, p99 %d us\n", handler.Percentile(0.5), handler.Percentile(0.99));
    std::printf("event-loop latency of a %d ms probe: p50 %.2f ms, p99 %.2f ms, max %.2f ms over %zu probes\n",
                kProbeMs, probe.Percentile(0.5), probe.Percentile(0.99), probe.Percentile(1.0), probe.Count());
    std::fflush(stdout);

    dialog.findChild<QAbstractButton*>(QStringLiteral("1079"))->click();
    dialog.findChild<QAbstractButton*>(QStringLiteral("3018"))->click();
    QCoreApplication::sendPostedEvents(&dialog);
    return 0;
}

bool ParseSeconds(int argc, char** argv, double* seconds) {
    if (argc == 1) return true;
    if (argc != 3 || std::string(argv[1]) != "--seconds") return false;
    char* end = nullptr;
    *seconds = std::strtod(argv[2], &end);
    return end != argv[2] && *end == '\0' && *seconds > 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void QuindleHostMessageBox(const char* text) {
    platform::ShowMessageBox(text);
}

int main(int argc, char** argv) {
    double seconds = 60;
    if (!ParseSeconds(argc, argv, &seconds)) {
        std::fprintf(stderr, "usage: console_record_bench [--seconds S]\n");
        return 2;
    }
    const std::string root = UseTemporaryHome();
    if (root.empty() || !quindle::test::TXvfb::Shared().Running()) {
        std::fprintf(stderr, "console_record_bench: no temporary folder or no Xvfb\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 1;
    {
        QApplication application(argc, argv);
        // Boxes go to standard error; every question or chooser is cancelled.
        console::TFilePrompts printed("/dev/stderr");
        console::TTrackedPrompts prompts(printed);
        console::RouteMessageBoxes(prompts);
        console::TEngineBinding binding(console::TEngineBinding::LibraryBesideProgram());
        if (!binding.IsLoaded()) {
            std::fprintf(stderr, "console_record_bench: %s\n", binding.LoadError().c_str());
        } else {
            console::WriteClient(1280, 720, 30, 1);
            console::TDlgOptions options;
            options.mediaFile = PRESENTER_SAMPLE;
            // No cameras or audio inputs: the main picture is the clip.
            options.listDevices = [](console::TDShowDeviceList* list) { *list = {}; };
            console::CRoriDaziZevoDlg dialog(nullptr, binding, prompts, options);
            if (dialog.OnInitDialog()) {
                dialog.show();
                status = Measure(dialog, root + "/rec", seconds);
            }
            dialog.RequestClose();
        }
        platform::SetMessageBoxHandler({});
    }
    std::filesystem::remove_all(root);
    return status;
}
