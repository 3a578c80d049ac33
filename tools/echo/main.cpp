// corvane-echo: feeds the console's real echo window from the real engine,
// as the console's frame handler does, and prints per second what reached
// the screen and what it cost.
//
//     corvane-echo FILE [--size WxH] [--format F] [--seconds S] [--fullscreen]
//                  [--select N] [--screenshot PATH]
//
// FILE plays as the main picture, composed to WxH (1920x1080) in format F
// (28 BGRA, 1 YUY2, 3 BGR24; 28) with subject matting on, for S seconds (10).
// --select N points the mouse at layer N of the layout so that the layout
// editor selects it (its red frame shows); --screenshot saves the window
// before the end. Run it on an X server (an Xvfb of 1920 x 1080 will do);
// per-user folders should point at a temporary folder.
//
// Per second: frames delivered by the engine, painted, skipped (replaced
// before a paint or not fitting the picture), the paint's median and p99
// (taking, converting, stamping, painting), the echo time on the engine's
// thread (median, p99) and the engine's own figures. Exit status 0 when
// frames were painted, 1 on a failure, 2 for a bad command line.

extern "C" {
#include <libavutil/frame.h>
}

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/ErrorTrail.h"
#include "console/CPreviewDlg.h"
#include "console/TEngineBinding.h"
#include "console/services/SettingsStore.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"
#include "tools/play/TPlayStats.h"

namespace {

using pelorn::play::TPlayStats;

constexpr unsigned kMattingFlags = 0x80;

struct TEchoOptions {
    std::string file;
    int width = 1920, height = 1080, format = 28;
    double seconds = 10;
    bool fullScreen = false;
    int select = -1;
    std::string screenshot;
};

const char kUsage[] =
    "usage: corvane-echo FILE [--size WxH] [--format F] [--seconds S] [--fullscreen] [--select N] "
    "[--screenshot PATH]\n";

bool ParseOptions(int argc, char** argv, TEchoOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2) return false;
        } else if (arg == "--format" && hasValue) {
            options.format = std::atoi(argv[++i]);
        } else if (arg == "--seconds" && hasValue) {
            options.seconds = std::atof(argv[++i]);
        } else if (arg == "--select" && hasValue) {
            options.select = std::atoi(argv[++i]);
        } else if (arg == "--screenshot" && hasValue) {
            options.screenshot = argv[++i];
        } else if (arg == "--fullscreen") {
            options.fullScreen = true;
        } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
            options.file = arg;
        } else {
            return false;
        }
    }
    const bool formatKnown = options.format == 28 || options.format == 1 || options.format == 3;
    return !options.file.empty() && formatKnown && options.width > 0 && options.height > 0 && options.seconds > 0;
}

// Durations in microseconds: the writer appends, the reader takes what came
// since its last look. One writer thread, one reader thread.
class TDurations {
public:
    void Add(int64_t micros) {
        const uint64_t at = m_nWritten.load(std::memory_order_relaxed);
        m_values[at % kCapacity] = static_cast<int32_t>(std::min<int64_t>(micros, INT32_MAX));
        // Release: the value is in place before the count shows it.
        m_nWritten.store(at + 1, std::memory_order_release);
    }
    // Median and p99 of the values since the last call; -1 without any.
    std::pair<double, double> Take() {
        const uint64_t written = m_nWritten.load(std::memory_order_acquire);
        const uint64_t from = std::max(m_nRead, written > kCapacity ? written - kCapacity : 0);
        m_window.clear();
        for (uint64_t i = from; i < written; ++i) m_window.push_back(m_values[i % kCapacity]);
        m_nRead = written;
        if (m_window.empty()) return {-1, -1};
        std::sort(m_window.begin(), m_window.end());
        const auto at = [&](double fraction) {
            return static_cast<double>(m_window[std::min(m_window.size() - 1,
                                                         static_cast<size_t>(fraction * m_window.size()))]);
        };
        return {at(0.5), at(0.99)};
    }

private:
    static constexpr uint64_t kCapacity = 4096;
    std::array<int32_t, kCapacity> m_values{};
    std::atomic<uint64_t> m_nWritten{0};
    uint64_t m_nRead = 0;
    std::vector<int32_t> m_window;
};

struct TRun {
    console::CPreviewDlg* window = nullptr;
    TPlayStats engineStats;
    TDurations echoMicros;  // engine's thread
    TDurations paintMicros; // user-interface thread
    std::atomic<int64_t> delivered{0};
};

// The engine's output thread: what the console's frame handler does for
// the echo window, timed; the engine's figures after the timed part.
long OnFrame(unsigned char* bytes, void* user, int cameraInUse) {
    auto* run = static_cast<TRun*>(user);
    const auto* frame = reinterpret_cast<const AVFrame*>(bytes);
    const int64_t start = platform::PerfCounter::Now();
    if (run->window->IsShown()) run->window->Draw(frame, cameraInUse);
    const int64_t end = platform::PerfCounter::Now();
    run->echoMicros.Add((end - start) / 1000);
    run->delivered.fetch_add(1, std::memory_order_relaxed);
    run->engineStats.Add({frame->pkt_size, frame->pkt_dts, frame->pkt_pos, frame->pkt_duration, end / 1000});
    return 0;
}

// Moves the mouse over the middle of layer n, as a presenter pointing at it.
void PointAtLayer(console::CPreviewDlg& window, int n) {
    const TCapLayout& layout = window.CurrentLayout();
    if (n < 0 || n >= layout.LayerCnt || layout.MaxWidth <= 0 || layout.MaxHeight <= 0) return;
    const TCapLayer& layer = layout.layers[n];
    QWidget* surface = window.Surface();
    const QPointF point((layer.Position[0].x + layer.Position[2].x) / 2.0 * surface->width() / layout.MaxWidth,
                        (layer.Position[0].y + layer.Position[2].y) / 2.0 * surface->height() / layout.MaxHeight);
    QMouseEvent move(QEvent::MouseMove, point, surface->mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(surface, &move);
}

void PrintSecond(int second, TRun& run, int64_t delivered, int64_t painted, int64_t skipped) {
    const auto [paintMedian, paintP99] = run.paintMicros.Take();
    const auto [echoMedian, echoP99] = run.echoMicros.Take();
    const TPlayStats::TFigures engine = run.engineStats.TakeWindow();
    std::printf("[%3d s] delivered %lld  painted %lld  skipped %lld  paint median %.2f ms p99 %.2f ms  "
                "echo median %.0f us p99 %.0f us  engine rate %.2f fps pkt_pos median %lld ms delay median "
                "%.1f ms p99 %.1f ms drops %lld\n",
                second, static_cast<long long>(delivered), static_cast<long long>(painted),
                static_cast<long long>(skipped), paintMedian / 1000.0, paintP99 / 1000.0, echoMedian, echoP99,
                engine.measuredRate, static_cast<long long>(engine.medianProcessMs), engine.medianDelayMs,
                engine.p99DelayMs, static_cast<long long>(engine.queueFullDrops + engine.lowLatencyDrops));
    std::fflush(stdout);
}

int Fail(const char* step) {
    std::fprintf(stderr, "corvane-echo: %s failed\n%s\n", step, common::ErrorTrail::Take().c_str());
    return 1;
}

int Run(const TEchoOptions& options, console::TEngineBinding& binding) {
    console::CPreviewDlg window;
    TRun run;
    run.window = &window;
    window.SetPaintObserver([&run](int64_t nanos) { run.paintMicros.Add(nanos / 1000); });

    ICapMattEngine* engine = binding.Create(&OnFrame, &run, 0);
    if (engine == nullptr) return Fail("CreateInstance_ICapMattEngine");
    TCapParamList params;
    engine->GetParamList(&params);
    TCapOpenParam param;
    param.sources[0].kind = kCapSourceFile;
    param.sources[0].name = options.file;
    param.sources[1].kind = kCapSourceNone;
    param.outWidth = static_cast<int16_t>(options.width);
    param.outHeight = static_cast<int16_t>(options.height);
    param.outFormat = static_cast<int16_t>(options.format);
    param.outFrameRate = 30;
    // The window is configured before frames can arrive, as after the
    // console's RestartVideo.
    window.Configure(std::max(options.width, options.height), std::min(options.width, options.height),
                     options.format == 3 ? 28 : options.format);
    window.SetLayout(console::DefaultTemplate(2));
    window.show();
    if (options.fullScreen) window.SetFullScreen(true);
    if (engine->Open(&param) != 0) {
        binding.Release(&engine);
        return Fail("Open");
    }
    window.SetCaptureFormat(param.actualFormat.width, param.actualFormat.height, param.actualFormat.pixelFormat);
    window.ResetStatistics();
    engine->SetLayout(&window.CurrentLayout());
    engine->SetProcessFlags(static_cast<int>(kMattingFlags));
    std::printf("echo of %s (%dx%d) as %dx%d format %d%s\n", options.file.c_str(), param.actualFormat.width,
                param.actualFormat.height, options.width, options.height, options.format,
                options.fullScreen ? ", full screen" : "");
    std::fflush(stdout);

    int second = 0;
    int64_t lastDelivered = 0, lastPainted = 0, lastSkipped = 0;
    const int seconds = std::max(1, static_cast<int>(options.seconds + 0.5));
    bool shot = options.screenshot.empty();
    int status = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++second;
        if (second == 1) PointAtLayer(window, options.select);
        const int64_t delivered = run.delivered.load(), painted = window.PaintedFrames();
        const int64_t skipped = window.ReplacedFrames();
        PrintSecond(second, run, delivered - lastDelivered, painted - lastPainted, skipped - lastSkipped);
        lastDelivered = delivered;
        lastPainted = painted;
        lastSkipped = skipped;
        if (!shot && second >= std::max(1, seconds - 1)) {
            shot = true;
            const QPixmap picture = window.screen()->grabWindow(window.winId());
            if (!picture.save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "corvane-echo: %s could not be written\n", options.screenshot.c_str());
                status = 1;
            }
        }
        if (second >= seconds) {
            tick.stop();
            // quit() would ask the windows first, and the full-screen echo
            // window takes a close request as "leave full screen".
            QCoreApplication::exit(0);
        }
    });
    tick.start(1000);
    QCoreApplication::exec();

    binding.Release(&engine);
    const TPlayStats::TFigures total = run.engineStats.Total();
    std::printf("summary: delivered %lld  painted %lld  skipped %lld  engine %.2f fps\n",
                static_cast<long long>(run.delivered.load()), static_cast<long long>(window.PaintedFrames()),
                static_cast<long long>(window.ReplacedFrames()), total.deliveredRate);
    if (window.PaintedFrames() == 0) return Fail("echo (no frame was painted)");
    return status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void QuindleHostMessageBox(const char* text) {
    platform::ShowMessageBox(text);
}

int main(int argc, char** argv) {
    TEchoOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    QApplication application(argc, argv);
    platform::SetMessageBoxHandler([](const std::string& text) { std::fprintf(stderr, "box: %s\n", text.c_str()); });
    int status = 1;
    {
        console::TEngineBinding binding(console::TEngineBinding::LibraryBesideProgram());
        if (binding.IsLoaded())
            status = Run(options, binding);
        else
            std::fprintf(stderr, "corvane-echo: %s\n", binding.LoadError().c_str());
    }
    platform::SetMessageBoxHandler({});
    return status;
}
