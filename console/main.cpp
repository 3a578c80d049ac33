// Corvane: the console program.
//
//     Corvane [--media FILE] [--measure S]
//
// --media FILE stands for choosing "视频文件..." with FILE at the first
// source start; --measure S prints the run's figures and ends through the
// exit sequence after S seconds.

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/CPreviewDlg.h"
#include "console/CRoriDaziZevoApp.h"
#include "console/TStopSignals.h"
#include "console/UpgradeCheck.h"
#include "platform/ExecutablePath.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TArguments {
    std::string mediaFile;
    double measureSeconds = 0;
};

bool ParseArguments(int argc, char** argv, TArguments* arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        if (option == "--media") {
            arguments->mediaFile = argv[++i];
        } else if (option == "--measure") {
            char* end = nullptr;
            arguments->measureSeconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || arguments->measureSeconds <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

// The figures of a --measure run: start to first frame shown, frames shown
// per second, and how late a 10 ms timer fires (the event loop's latency).
class TMeasure {
public:
    TMeasure(const Clock::time_point& processStart, console::CRoriDaziZevoApp& app, double seconds)
        : m_processStart(processStart), m_app(app), m_seconds(seconds) {
        m_latenciesMs.reserve(static_cast<size_t>(seconds * 100) + 16);
        m_probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_probe, &QTimer::timeout, [this] { Probe(); });
        m_probe.start(kProbeMs);
        m_expected = Clock::now() + std::chrono::milliseconds(kProbeMs);
    }

private:
    static constexpr int kProbeMs = 10;

    void Probe() {
        const Clock::time_point now = Clock::now();
        m_latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - m_expected).count());
        m_expected = now + std::chrono::milliseconds(kProbeMs);
        console::CRoriDaziZevoDlg* dialog = m_app.MainDialog();
        const console::CPreviewDlg* preview = dialog != nullptr ? dialog->Preview() : nullptr;
        if (preview == nullptr) return;
        if (m_firstShown == Clock::time_point{} && preview->PaintedFrames() > 0) {
            m_firstShown = now;
            m_paintedAtFirst = preview->PaintedFrames();
            // The loop's latency counts from here: start-up work is measured apart.
            m_latenciesMs.clear();
        }
        if (m_firstShown != Clock::time_point{} &&
            std::chrono::duration<double>(now - m_firstShown).count() >= m_seconds) {
            Report(preview->PaintedFrames() - m_paintedAtFirst, now);
            m_probe.stop();
            dialog->RequestClose();
        }
    }

    void Report(int64_t shown, const Clock::time_point& now) {
        const console::CRoriDaziZevoDlg& dialog = *m_app.MainDialog();
        const console::THandlerFigures& handler = dialog.HandlerFigures();
        const auto since = [this](int64_t ticks) {
            return static_cast<double>(ticks - m_processStartTicks) / platform::PerfCounter::Frequency();
        };
        std::printf("start-up: engine created %.3f s, dialog initialised %.3f s, first frame composed %.3f s\n",
                    since(dialog.EngineCreatedTicks()), since(dialog.RunStartTicks()),
                    since(handler.FirstFrameTicks()));
        std::printf("frame handler: p50 %d us, p99 %d us, max %d us over %lld frames; engine drops %lld\n",
                    handler.Percentile(0.5), handler.Percentile(0.99), handler.Percentile(1.0),
                    static_cast<long long>(handler.Frames()), static_cast<long long>(handler.Drops()));
        std::vector<double> sorted = m_latenciesMs;
        std::sort(sorted.begin(), sorted.end());
        const double p99 = sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
        const double worst = sorted.empty() ? 0 : sorted.back();
        const double span = std::chrono::duration<double>(now - m_firstShown).count();
        std::printf("start to first frame shown: %.3f s\n",
                    std::chrono::duration<double>(m_firstShown - m_processStart).count());
        std::printf("frames shown: %lld over %.1f s = %.1f per second\n", static_cast<long long>(shown), span,
                    shown / span);
        std::printf("event-loop latency of a %d ms probe: p99 %.2f ms, max %.2f ms over %zu probes\n", kProbeMs,
                    p99, worst, sorted.size());
        std::fflush(stdout);
    }

    Clock::time_point m_processStart;
    // The performance counter counts steady-clock nanoseconds.
    int64_t m_processStartTicks =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_processStart.time_since_epoch()).count();
    console::CRoriDaziZevoApp& m_app;
    double m_seconds;
    QTimer m_probe;
    Clock::time_point m_expected;
    Clock::time_point m_firstShown{};
    int64_t m_paintedAtFirst = 0;
    std::vector<double> m_latenciesMs;
};

}  // namespace

// The engine library's boxes arrive here (see platform/MessageBox.h).
extern "C" __attribute__((visibility("default"))) void QuindleHostMessageBox(const char* text) {
    platform::ShowMessageBox(text);
}

int main(int argc, char** argv) {
    const Clock::time_point processStart = Clock::now();
    TArguments arguments;
    if (!ParseArguments(argc, argv, &arguments)) {
        std::fprintf(stderr, "usage: Corvane [--media FILE] [--measure S]\n");
        return 2;
    }
    QApplication application(argc, argv);
    std::unique_ptr<console::IPrompts> prompts = console::MakePrompts();

    console::CRoriDaziZevoApp::TOptions options;
    options.dialog.mediaFile = arguments.mediaFile;
    console::CRoriDaziZevoApp app(*prompts, options);

    console::RouteMessageBoxes(app.Prompts());
    app.upgradeCheck = [&app] {
        console::IPrompts& prompts = app.Prompts();
        return console::RunUpgradeCheck(
            platform::ExecutableFolder(),
            [&prompts](const QString& question) { return prompts.AskYesNo(question.toStdString()); },
            [&prompts](const QString& text) { prompts.ShowBox(text.toStdString()); });
    };
    console::TStopSignals stopSignals([&app] {
        if (console::CRoriDaziZevoDlg* dialog = app.MainDialog()) dialog->RequestClose();
    });
    std::unique_ptr<TMeasure> measure;
    if (arguments.measureSeconds > 0) measure = std::make_unique<TMeasure>(processStart, app, arguments.measureSeconds);

    const int status = app.InitInstance();
    measure.reset();
    platform::SetMessageBoxHandler({});
    return status;
}
